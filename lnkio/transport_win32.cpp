// Windows transports: COM ports (Bluetooth serial ports are COM ports too),
// LPT ports, USB printer class devices by their device interface, and TCP to
// port 9100 with Winsock. USB vendor class devices need the maker's driver
// and are not reachable here.
#include "lnkio/transport.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "lnkio/lnkioapi.h"
#include "platform/machine_ports.h"
#include "platform/port_names.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

namespace tw::lnkio {
namespace {

using Clock = std::chrono::steady_clock;

// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}: USB printer class device interfaces.
const GUID kUsbPrintInterface = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

constexpr int kSocketSliceMs = 20;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

using platform::UniqueSocket;
using platform::UniqueWin32Handle;

class Event {
 public:
  explicit Event(bool manual) : h_(CreateEventW(nullptr, manual ? TRUE : FALSE, FALSE, nullptr)) {}
  HANDLE Get() const { return h_.Get(); }

 private:
  UniqueWin32Handle h_;
};

std::string Utf8(const std::wstring& w) {
  return platform::Utf16ToUtf8(std::u16string(w.begin(), w.end()));
}

// Keeps the system's error and the device for LNKIO_GetOpenError; returns `code`.
int Fail(OpenFailure* failure, const std::string& device, int code, DWORD osError = GetLastError()) {
  failure->osError = static_cast<int>(osError);
  failure->device = device;
  return code;
}

// A device handle opened for overlapped I/O, so that a read and a write can be
// in progress at the same time and every wait can be cut short.
class HandleTransport : public Transport {
 public:
  HandleTransport(UniqueWin32Handle h, bool serial) : h_(std::move(h)), serial_(serial) {}

  int Receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
    if (interrupted_.load()) return kInterrupted;
    if (!canRead_) {
      WaitForSingleObject(stop_.Get(), static_cast<DWORD>(timeoutMs));
      return interrupted_.load() ? kInterrupted : kNothing;
    }
    OVERLAPPED ov{};
    ov.hEvent = readDone_.Get();
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, 65536));
    if (!ReadFile(h_.Get(), buffer, want, nullptr, &ov)) {
      const DWORD err = GetLastError();
      if (err != ERROR_IO_PENDING) {
        if (err == ERROR_INVALID_FUNCTION || err == ERROR_NOT_SUPPORTED || err == ERROR_ACCESS_DENIED) {
          canRead_ = false;  // a device without a read side
          return kNothing;
        }
        return kDropped;
      }
      const HANDLE waits[2] = {readDone_.Get(), stop_.Get()};
      if (WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        CancelIoEx(h_.Get(), &ov);
      }
    }
    if (GetOverlappedResult(h_.Get(), &ov, &got, TRUE)) {
      if (got > 0) return static_cast<int>(got);
    } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
      return kDropped;
    } else if (got > 0) {
      return static_cast<int>(got);
    }
    return interrupted_.load() ? kInterrupted : kNothing;
  }

  int Send(const std::uint8_t* data, std::size_t size, int timeoutMs, std::size_t* written) override {
    *written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (*written < size) {
      if (interrupted_.load()) return kLnkioErrNotOpen;
      OVERLAPPED ov{};
      ov.hEvent = writeDone_.Get();
      DWORD put = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - *written, 1 << 20));
      bool timedOut = false;
      if (!WriteFile(h_.Get(), data + *written, want, nullptr, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) return kLnkioErrIo;
        const HANDLE waits[2] = {writeDone_.Get(), stop_.Get()};
        if (WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(MsLeft(deadline))) != WAIT_OBJECT_0) {
          CancelIoEx(h_.Get(), &ov);
          timedOut = true;
        }
      }
      const BOOL ok = GetOverlappedResult(h_.Get(), &ov, &put, TRUE);
      *written += put;
      if (!ok && GetLastError() != ERROR_OPERATION_ABORTED) return kLnkioErrIo;
      if (interrupted_.load() && *written < size) return kLnkioErrNotOpen;
      if ((timedOut || !ok) && *written < size) return kLnkioTimeout;
      if (put == 0 && MsLeft(deadline) == 0) return kLnkioTimeout;
    }
    return kLnkioOk;
  }

  void Interrupt() override {
    interrupted_.store(true);
    SetEvent(stop_.Get());
  }

  bool SetFlowControl(bool obey) override {
    if (!serial_) return true;
    std::lock_guard<std::mutex> lock(dcbMutex_);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h_.Get(), &dcb)) return false;
    dcb.fOutxCtsFlow = obey ? TRUE : FALSE;
    dcb.fRtsControl = obey ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    return SetCommState(h_.Get(), &dcb) != 0;
  }

  std::chrono::milliseconds QuietGap() const override { return quietGap_; }
  void SetQuietGap(std::chrono::milliseconds gap) { quietGap_ = gap; }

 private:
  UniqueWin32Handle h_;
  const bool serial_;
  Event readDone_{true};
  Event writeDone_{true};
  Event stop_{true};
  std::atomic<bool> interrupted_{false};
  bool canRead_ = true;  // reader thread only
  std::mutex dcbMutex_;
  std::chrono::milliseconds quietGap_{kLnkioQuietGapMs};
};

UniqueWin32Handle OpenOverlapped(const std::wstring& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  return UniqueWin32Handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED, nullptr));
}

std::unique_ptr<Transport> OpenSerial(const LinkOpenBlock& b, int* code, OpenFailure* failure) {
  const auto path = platform::ResolveComPort(b.serialIndex + 1);
  if (!path) {
    *code = Fail(failure, "COM" + std::to_string(b.serialIndex + 1), kLnkioErrParameter, 0);
    return nullptr;
  }
  UniqueWin32Handle h = OpenOverlapped(path->wstring(), 0);
  if (!h) {
    *code = Fail(failure, Utf8(path->wstring()), kLnkioErrNoDevice);
    return nullptr;
  }
  const int baud = SpeedCodeToBaud(b.speedCode) ? SpeedCodeToBaud(b.speedCode) : 9600;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(h.Get(), &dcb);
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = static_cast<BYTE>(std::clamp(b.dataBits, 5, 8));
  dcb.Parity = b.parity == 1 ? ODDPARITY : b.parity == 2 ? EVENPARITY : NOPARITY;
  dcb.fParity = b.parity == 1 || b.parity == 2;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  const bool obey = b.flowMode != kFlowBluetooth;
  dcb.fOutxCtsFlow = obey;
  dcb.fRtsControl = obey ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  // A read returns as soon as at least one byte is there; the link's own
  // waits bound it.
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = MAXDWORD - 1;
  if (!SetCommState(h.Get(), &dcb) || !SetCommTimeouts(h.Get(), &t)) {
    *code = Fail(failure, Utf8(path->wstring()), kLnkioErrIo);
    return nullptr;
  }
  PurgeComm(h.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  auto transport = std::make_unique<HandleTransport>(std::move(h), true);
  transport->SetQuietGap(SerialQuietGap(baud, b.dataBits, b.parity));
  return transport;
}

std::unique_ptr<Transport> OpenParallel(const LinkOpenBlock& b, int* code, OpenFailure* failure) {
  const auto path = platform::ResolveLptPort(b.parallelIndex + 1);
  if (!path) {
    *code = Fail(failure, "LPT" + std::to_string(b.parallelIndex + 1), kLnkioErrParameter, 0);
    return nullptr;
  }
  UniqueWin32Handle h = OpenOverlapped(path->wstring());
  if (!h) {
    *code = Fail(failure, Utf8(path->wstring()), kLnkioErrNoDevice);
    return nullptr;
  }
  return std::make_unique<HandleTransport>(std::move(h), false);
}

// USB printer class: device number usbIndex + 1 of the printer class, as the
// machine-ports service numbers it for every program.
std::unique_ptr<Transport> OpenUsbPrinter(const LinkOpenBlock& b, int* code, OpenFailure* failure) {
  *code = Fail(failure, "USB printer " + std::to_string(b.usbIndex + 1), kLnkioErrNoDevice, ERROR_DEV_NOT_EXIST);
  for (const platform::UsbPrinter& p : platform::MachinePorts().UsbPrinters(platform::kUsbClassPrinter)) {
    if (p.number != b.usbIndex + 1) continue;
    const std::u16string path = platform::Utf8ToUtf16(p.node);
    UniqueWin32Handle h = OpenOverlapped(std::wstring(path.begin(), path.end()));
    if (!h) {
      Fail(failure, p.node, kLnkioErrNoDevice);
      return nullptr;
    }
    *code = kLnkioOk;
    *failure = {};
    return std::make_unique<HandleTransport>(std::move(h), false);
  }
  return nullptr;
}

bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

// TCP with a non-blocking socket; waits are cut into short select slices so
// that Interrupt is noticed quickly.
class SocketTransport : public Transport {
 public:
  explicit SocketTransport(UniqueSocket s) : s_(std::move(s)) {}

  int Receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (interrupted_.load()) return kInterrupted;
      const int n = recv(Sock(), reinterpret_cast<char*>(buffer), static_cast<int>(std::min<std::size_t>(capacity, 65536)), 0);
      if (n > 0) return n;
      if (n == 0) return kDropped;
      if (WSAGetLastError() != WSAEWOULDBLOCK) return kDropped;
      const int left = MsLeft(deadline);
      if (left == 0) return kNothing;
      WaitFor(true, std::min(left, kSocketSliceMs));
    }
  }

  int Send(const std::uint8_t* data, std::size_t size, int timeoutMs, std::size_t* written) override {
    *written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (*written < size) {
      if (interrupted_.load()) return kLnkioErrNotOpen;
      const int want = static_cast<int>(std::min<std::size_t>(size - *written, 1 << 20));
      const int n = send(Sock(), reinterpret_cast<const char*>(data + *written), want, 0);
      if (n > 0) {
        *written += static_cast<std::size_t>(n);
        continue;
      }
      if (WSAGetLastError() != WSAEWOULDBLOCK) return kLnkioErrIo;
      const int left = MsLeft(deadline);
      if (left == 0) return kLnkioTimeout;
      WaitFor(false, std::min(left, kSocketSliceMs));
    }
    return kLnkioOk;
  }

  void Interrupt() override { interrupted_.store(true); }

 private:
  void WaitFor(bool readable, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Sock(), &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    select(0, readable ? &set : nullptr, readable ? nullptr : &set, nullptr, &tv);
  }

  SOCKET Sock() const { return static_cast<SOCKET>(s_.Get()); }
  UniqueSocket s_;
  std::atomic<bool> interrupted_{false};
};

std::unique_ptr<Transport> OpenNetwork(const LinkOpenBlock& b, int* code, OpenFailure* failure) {
  const std::string device = std::to_string(b.ipv4[0]) + "." + std::to_string(b.ipv4[1]) + "." +
                             std::to_string(b.ipv4[2]) + "." + std::to_string(b.ipv4[3]) + ":9100";
  if (!WinsockReady()) {
    *code = Fail(failure, device, kLnkioErrIo, WSAGetLastError());
    return nullptr;
  }
  UniqueSocket owner(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!owner) {
    *code = Fail(failure, device, kLnkioErrIo, WSAGetLastError());
    return nullptr;
  }
  const SOCKET s = static_cast<SOCKET>(owner.Get());
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(9100);
  std::memcpy(&addr.sin_addr, b.ipv4, 4);
  const int timeoutMs = EffectiveLinkTimeoutMs(b.linkTimeoutMs);
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = WSAGetLastError();
    if (err != WSAEWOULDBLOCK && err != WSAEINPROGRESS) {
      *code = Fail(failure, device, err == WSAECONNREFUSED ? kLnkioErrRefused : kLnkioErrNoDevice, err);
      return nullptr;
    }
    fd_set wr, ex;
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(s, &wr);
    FD_SET(s, &ex);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = select(0, nullptr, &wr, &ex, &tv);
    int soError = 0;
    int len = sizeof soError;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
    if (r == 0) {
      *code = Fail(failure, device, kLnkioTimeout, WSAETIMEDOUT);
      return nullptr;
    }
    if (r < 0 || FD_ISSET(s, &ex) || soError != 0) {
      *code = Fail(failure, device,
                   soError == WSAECONNREFUSED ? kLnkioErrRefused
                   : soError == WSAETIMEDOUT  ? kLnkioTimeout
                                              : kLnkioErrNoDevice,
                   soError != 0 ? soError : WSAGetLastError());
      return nullptr;
    }
  }
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  return std::make_unique<SocketTransport>(std::move(owner));
}

}  // namespace

std::unique_ptr<Transport> OpenTransport(const LinkOpenBlock& block, int* code, OpenFailure* failure) {
  *code = kLnkioErrParameter;
  *failure = {};
  switch (block.kind) {
    case kLinkSerial: return OpenSerial(block, code, failure);
    case kLinkParallel: return OpenParallel(block, code, failure);
    case kLinkUsbVendor:
      *code = Fail(failure, "USB vendor-class printer " + std::to_string(block.usbIndex + 1), kLnkioErrUnsupported,
                   ERROR_NOT_SUPPORTED);
      return nullptr;
    case kLinkNetwork: return OpenNetwork(block, code, failure);
    case kLinkUsbPrinter: return OpenUsbPrinter(block, code, failure);
    default: return nullptr;
  }
}

}  // namespace tw::lnkio
