#pragma once
// UTF-8 <-> UTF-16 conversion. Portable code, kept here because every OS
// binding needs it at its boundary.

#include <string>
#include <string_view>

namespace tw::platform {

// Invalid sequences become U+FFFD; conversion never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Strict variant: false when the input is not well-formed UTF-8.
bool TryUtf8ToUtf16(std::string_view utf8, std::u16string& out);

}  // namespace tw::platform
