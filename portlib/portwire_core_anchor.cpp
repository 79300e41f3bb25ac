// Keeps the core archive non-empty while its folders fill up.
namespace tw::portlib { void CoreAnchor() {} }
