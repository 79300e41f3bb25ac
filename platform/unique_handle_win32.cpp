#include "platform/unique_handle.h"

#include <winsock2.h>
#include <windows.h>

namespace tw::platform {

void Win32HandleTraits::Close(Type h) { ::CloseHandle(static_cast<HANDLE>(h)); }
void SocketTraits::Close(Type s) { ::closesocket(static_cast<SOCKET>(s)); }

}  // namespace tw::platform
