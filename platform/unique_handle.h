#pragma once
// Owners of operating-system handles: each closes its handle exactly once, when
// the owner goes or is reset, so no way out of a function has to remember to
// close anything. The close calls of each kind live in the OS file that has
// such handles (unique_handle_posix.cpp, unique_handle_win32.cpp); this header
// includes no OS header, so Win32 handles and sockets appear as the integer
// types they are.
//
// Other libraries' handles (libusb's) get their own traits beside the code
// that uses them: UniqueHandle only needs Type, Invalid, Valid and Close.

#include <cstdint>
#include <utility>

namespace tw::platform {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Type Get() const { return handle_; }
  bool Valid() const { return Traits::Valid(handle_); }
  explicit operator bool() const { return Valid(); }
  // Gives the handle up without closing it.
  Type Release() { return std::exchange(handle_, Traits::Invalid()); }
  // Closes the handle held (if any) and holds `handle` instead.
  void Reset(Type handle = Traits::Invalid()) {
    const Type old = std::exchange(handle_, handle);
    if (Traits::Valid(old)) Traits::Close(old);
  }

 private:
  Type handle_ = Traits::Invalid();
};

// A POSIX file descriptor (Linux).
struct FdTraits {
  using Type = int;
  static constexpr int Invalid() { return -1; }
  static constexpr bool Valid(int fd) { return fd >= 0; }
  static void Close(int fd);
};
using UniqueFd = UniqueHandle<FdTraits>;

// A Win32 HANDLE closed with CloseHandle (Windows). Both null and
// INVALID_HANDLE_VALUE mean "none", as the Win32 functions return either.
struct Win32HandleTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr && h != reinterpret_cast<Type>(static_cast<std::intptr_t>(-1)); }
  static void Close(Type h);
};
using UniqueWin32Handle = UniqueHandle<Win32HandleTraits>;

// A Winsock SOCKET closed with closesocket (Windows).
struct SocketTraits {
  using Type = std::uintptr_t;
  static constexpr Type Invalid() { return ~Type{0}; }  // INVALID_SOCKET
  static constexpr bool Valid(Type s) { return s != Invalid(); }
  static void Close(Type s);
};
using UniqueSocket = UniqueHandle<SocketTraits>;

}  // namespace tw::platform
