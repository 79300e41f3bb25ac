// Linux transports: serial and parallel devices through the port name table,
// the kernel's USB printer device, TCP to port 9100. USB vendor class devices
// are in usb_vendor_posix.cpp.
#include "lnkio/transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "lnkio/lnkioapi.h"
#include "platform/machine_ports.h"
#include "platform/port_names.h"

namespace fs = std::filesystem;

namespace tw::lnkio {

std::unique_ptr<Transport> OpenUsbVendorTransport(const LinkOpenBlock& block, int* code);

namespace {

using Clock = std::chrono::steady_clock;

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.Release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.Release();
    }
    return *this;
  }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

// A transport over one file descriptor (tty, lp, usblp, socket), with a pipe
// that Interrupt writes to so that every poll wakes at once.
class FdTransport : public Transport {
 public:
  enum class Kind { kSerial, kDevice, kSocket };

  FdTransport(UniqueFd fd, UniqueFd wakeRead, UniqueFd wakeWrite, Kind kind)
      : fd_(std::move(fd)), wakeRead_(std::move(wakeRead)), wakeWrite_(std::move(wakeWrite)), kind_(kind) {}

  int Receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
    if (interrupted_.load()) return kInterrupted;
    if (!canRead_) {
      // A device without a read side (most parallel ports): only wait.
      pollfd p{wakeRead_.Get(), POLLIN, 0};
      ::poll(&p, 1, timeoutMs);
      return interrupted_.load() ? kInterrupted : kNothing;
    }
    pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {wakeRead_.Get(), POLLIN, 0}};
    const int r = ::poll(fds, 2, timeoutMs);
    if (interrupted_.load() || (r > 0 && fds[1].revents)) return kInterrupted;
    if (r < 0) return errno == EINTR ? kNothing : kDropped;
    if (r == 0) return kNothing;
    const ssize_t n = kind_ == Kind::kSocket ? ::recv(fd_.Get(), buffer, capacity, 0)
                                             : ::read(fd_.Get(), buffer, capacity);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      // A socket or a hung-up terminal at its end. A device that reports
      // nothing to read right now is not gone.
      if (kind_ == Kind::kDevice && !(fds[0].revents & (POLLHUP | POLLERR))) return NoReadSide();
      return kDropped;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kNothing;
    if (kind_ == Kind::kDevice && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) return NoReadSide();
    return kDropped;
  }

  int Send(const std::uint8_t* data, std::size_t size, int timeoutMs, std::size_t* written) override {
    *written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (*written < size) {
      if (interrupted_.load()) return kLnkioErrNotOpen;
      const std::size_t left = size - *written;
      const ssize_t n = kind_ == Kind::kSocket ? ::send(fd_.Get(), data + *written, left, MSG_NOSIGNAL)
                                               : ::write(fd_.Get(), data + *written, left);
      if (n > 0) {
        *written += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return kLnkioErrIo;
      const int wait = MsLeft(deadline);
      if (wait == 0) return kLnkioTimeout;
      pollfd fds[2] = {{fd_.Get(), POLLOUT, 0}, {wakeRead_.Get(), POLLIN, 0}};
      const int r = ::poll(fds, 2, wait);
      if (r > 0 && fds[1].revents) return kLnkioErrNotOpen;
      if (r > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[0].revents & POLLOUT)) return kLnkioErrIo;
      if (r > 0 && kind_ == Kind::kDevice) {
        // Some printer drivers report "writable" without taking bytes; do
        // not spin on them.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    return kLnkioOk;
  }

  void Interrupt() override {
    if (interrupted_.exchange(true)) return;
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_.Get(), &b, 1);
  }

  bool SetFlowControl(bool obey) override {
    if (kind_ != Kind::kSerial) return true;
    std::lock_guard<std::mutex> lock(termiosMutex_);
    termios t{};
    if (::tcgetattr(fd_.Get(), &t) != 0) return false;
    if (obey) {
      t.c_cflag |= CRTSCTS;
    } else {
      t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
    return ::tcsetattr(fd_.Get(), TCSANOW, &t) == 0;
  }

  std::chrono::milliseconds QuietGap() const override { return quietGap_; }
  void SetQuietGap(std::chrono::milliseconds gap) { quietGap_ = gap; }

 private:
  int NoReadSide() {
    canRead_ = false;  // Receive runs on the reader thread only
    return kNothing;
  }

  UniqueFd fd_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  const Kind kind_;
  std::atomic<bool> interrupted_{false};
  bool canRead_ = true;
  std::mutex termiosMutex_;
  std::chrono::milliseconds quietGap_{kLnkioQuietGapMs};
};

bool MakeWakePipe(UniqueFd& r, UniqueFd& w) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  r = UniqueFd(p[0]);
  w = UniqueFd(p[1]);
  return true;
}

std::unique_ptr<FdTransport> Wrap(UniqueFd fd, FdTransport::Kind kind, int* code) {
  UniqueFd r, w;
  if (!MakeWakePipe(r, w)) {
    *code = kLnkioErrIo;
    return nullptr;
  }
  return std::make_unique<FdTransport>(std::move(fd), std::move(r), std::move(w), kind);
}

speed_t BaudConstant(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

std::unique_ptr<Transport> OpenSerial(const LinkOpenBlock& b, int* code) {
  const auto path = platform::ResolveComPort(b.serialIndex + 1);
  if (!path) {
    *code = kLnkioErrParameter;
    return nullptr;
  }
  UniqueFd fd(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) {
    *code = kLnkioErrNoDevice;
    return nullptr;
  }
  termios t{};
  if (::tcgetattr(fd.Get(), &t) != 0) {
    *code = kLnkioErrNoDevice;  // not a terminal
    return nullptr;
  }
  ::cfmakeraw(&t);
  const int baud = SpeedCodeToBaud(b.speedCode) ? SpeedCodeToBaud(b.speedCode) : 9600;
  ::cfsetispeed(&t, BaudConstant(baud));
  ::cfsetospeed(&t, BaudConstant(baud));
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  switch (b.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  if (b.parity == 1) t.c_cflag |= PARENB | PARODD;
  if (b.parity == 2) t.c_cflag |= PARENB;
  t.c_cflag |= CLOCAL | CREAD;
  if (b.flowMode != kFlowBluetooth) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd.Get(), TCSANOW, &t) != 0) {
    *code = kLnkioErrIo;
    return nullptr;
  }
  ::tcflush(fd.Get(), TCIOFLUSH);
  auto t2 = Wrap(std::move(fd), FdTransport::Kind::kSerial, code);
  if (t2) t2->SetQuietGap(SerialQuietGap(baud, b.dataBits, b.parity));
  return t2;
}

std::unique_ptr<Transport> OpenDeviceFile(const fs::path& path, int* code) {
  int raw = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0 && (errno == EACCES || errno == EROFS || errno == EINVAL)) {
    raw = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  if (raw < 0) {
    *code = kLnkioErrNoDevice;
    return nullptr;
  }
  return Wrap(UniqueFd(raw), FdTransport::Kind::kDevice, code);
}

std::unique_ptr<Transport> OpenParallel(const LinkOpenBlock& b, int* code) {
  const auto path = platform::ResolveLptPort(b.parallelIndex + 1);
  if (!path) {
    *code = kLnkioErrParameter;
    return nullptr;
  }
  return OpenDeviceFile(*path, code);
}

// USB printer class: device number usbIndex + 1 of the printer class (the
// kernel printer device /dev/usb/lpN), as the machine-ports service numbers it
// for every program: by USB bus and port path, so the number does not depend
// on the order in which the devices were plugged in.
std::unique_ptr<Transport> OpenUsbPrinter(const LinkOpenBlock& b, int* code) {
  for (const platform::UsbPrinter& p : platform::MachinePorts().UsbPrinters(platform::kUsbClassPrinter)) {
    if (p.number == b.usbIndex + 1) return OpenDeviceFile(p.node, code);
  }
  *code = kLnkioErrNoDevice;
  return nullptr;
}

std::unique_ptr<Transport> OpenNetwork(const LinkOpenBlock& b, int* code) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) {
    *code = kLnkioErrIo;
    return nullptr;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(9100);
  std::memcpy(&addr.sin_addr.s_addr, b.ipv4, 4);  // already in network order
  const int timeoutMs = b.linkTimeoutMs > 0 ? b.linkTimeoutMs : 2000;
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      *code = errno == ECONNREFUSED ? kLnkioErrRefused : kLnkioErrNoDevice;
      return nullptr;
    }
    pollfd p{fd.Get(), POLLOUT, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int r;
    do {
      r = ::poll(&p, 1, MsLeft(deadline));
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
      *code = kLnkioTimeout;
      return nullptr;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (r < 0 || ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      *code = err == ECONNREFUSED ? kLnkioErrRefused : err == ETIMEDOUT ? kLnkioTimeout : kLnkioErrNoDevice;
      return nullptr;
    }
  }
  const int one = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return Wrap(std::move(fd), FdTransport::Kind::kSocket, code);
}

}  // namespace

std::unique_ptr<Transport> OpenTransport(const LinkOpenBlock& block, int* code) {
  *code = kLnkioErrParameter;
  switch (block.kind) {
    case kLinkSerial: return OpenSerial(block, code);
    case kLinkParallel: return OpenParallel(block, code);
    case kLinkUsbVendor: return OpenUsbVendorTransport(block, code);
    case kLinkNetwork: return OpenNetwork(block, code);
    case kLinkUsbPrinter: return OpenUsbPrinter(block, code);
    default: return nullptr;
  }
}

}  // namespace tw::lnkio
