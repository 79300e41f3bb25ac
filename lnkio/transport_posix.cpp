// Linux transports: serial and parallel devices through the port name table,
// the kernel's USB printer device, TCP to port 9100. USB printers reached
// through libusb are in usb_bulk_posix.cpp.
#include "lnkio/transport.h"
#include "lnkio/fd_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <new>
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
#include "lnkio/usb_bulk.h"
#include "platform/machine_ports.h"
#include "platform/port_names.h"

namespace fs = std::filesystem;

namespace tw::lnkio {

using platform::UniqueFd;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A parallel port's back channel is tried at most this often while it has
// nothing to say (every try negotiates nibble mode with the printer again).
constexpr milliseconds kBackChannelIdle{20};
// After the port refused the back channel (EIO: the printer does not speak
// nibble mode, or is off), the next try waits this long.
constexpr milliseconds kBackChannelRefused{1000};
// A device that reported "readable" and then had nothing (a zero-length USB
// packet, EAGAIN) is read again after this pause, never in a spin.
constexpr milliseconds kEmptyReadPause{2};

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
}

class SystemFdIo : public FdIo {
 public:
  ssize_t Read(int fd, void* buffer, size_t size) override { return ::read(fd, buffer, size); }
  ssize_t Write(int fd, const void* data, size_t size) override { return ::write(fd, data, size); }
  ssize_t Send(int fd, const void* data, size_t size) override { return ::send(fd, data, size, MSG_NOSIGNAL); }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
};

// A transport over one file descriptor (tty, lp, usblp, socket), with a pipe
// that Interrupt writes to so that every poll wakes at once.
class FdTransport : public Transport {
 public:
  FdTransport(UniqueFd fd, UniqueFd wakeRead, UniqueFd wakeWrite, FdKind kind, FdIo& io)
      : fd_(std::move(fd)), wakeRead_(std::move(wakeRead)), wakeWrite_(std::move(wakeWrite)), kind_(kind), io_(io) {}

  int Receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
    const auto deadline = Clock::now() + milliseconds(std::max(timeoutMs, 0));
    for (;;) {
      if (interrupted_.load()) return kInterrupted;
      const auto now = Clock::now();
      if (!canRead_ || now < nextReadAt_) {
        // Nothing to ask the device yet: wait for an interrupt only.
        const auto until = canRead_ ? std::min(deadline, nextReadAt_) : deadline;
        if (until <= now) return kNothing;
        WaitForWake(MsLeft(until));
        continue;
      }
      const int r = kind_ == FdKind::kParallel ? ReadBackChannel(buffer, capacity)
                                               : PollAndRead(buffer, capacity, MsLeft(deadline));
      if (r != kTryAgain) return r;
    }
  }

  int Send(const std::uint8_t* data, std::size_t size, int timeoutMs, std::size_t* written) override {
    *written = 0;
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (*written < size) {
      if (interrupted_.load()) return kLnkioErrNotOpen;
      const std::size_t left = size - *written;
      const ssize_t n = kind_ == FdKind::kSocket ? io_.Send(fd_.Get(), data + *written, left)
                                                 : io_.Write(fd_.Get(), data + *written, left);
      if (n > 0) {
        *written += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return kLnkioErrIo;
      const int wait = MsLeft(deadline);
      if (wait == 0) return kLnkioTimeout;
      pollfd fds[2] = {{fd_.Get(), POLLOUT, 0}, {wakeRead_.Get(), POLLIN, 0}};
      const int r = io_.Poll(fds, 2, wait);
      if (r > 0 && fds[1].revents) return kLnkioErrNotOpen;
      if (r > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[0].revents & POLLOUT)) return kLnkioErrIo;
      if (r > 0 && (kind_ == FdKind::kParallel || kind_ == FdKind::kUsbPrinter)) {
        // Printer drivers report "writable" without taking bytes; do not
        // spin on them.
        std::this_thread::sleep_for(milliseconds(2));
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
    if (kind_ != FdKind::kSerial) return true;
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
  static constexpr int kTryAgain = -100;  // inside Receive only

  void WaitForWake(int ms) {
    pollfd p{wakeRead_.Get(), POLLIN, 0};
    io_.Poll(&p, 1, ms);
  }

  void PauseReads(milliseconds pause) { nextReadAt_ = Clock::now() + pause; }

  // The parallel port driver polls readable whether or not the printer has
  // anything to say, so its readiness means nothing: read when it is time,
  // and take every failure as "no back channel now", never as a lost link
  // (writes still reach the printer).
  int ReadBackChannel(std::uint8_t* buffer, std::size_t capacity) {
    const ssize_t n = io_.Read(fd_.Get(), buffer, capacity);
    if (n > 0) return static_cast<int>(n);
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      PauseReads(kBackChannelIdle);
    } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
      canRead_ = false;  // a port without any read side
    } else if (errno == ENODEV || errno == ENXIO || errno == EBADF) {
      return kDropped;  // the port itself went away
    } else {
      PauseReads(kBackChannelRefused);  // EIO and the like
    }
    return kTryAgain;
  }

  int PollAndRead(std::uint8_t* buffer, std::size_t capacity, int waitMs) {
    pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {wakeRead_.Get(), POLLIN, 0}};
    const int r = io_.Poll(fds, 2, waitMs);
    if (interrupted_.load() || (r > 0 && fds[1].revents)) return kInterrupted;
    if (r < 0) return errno == EINTR ? kTryAgain : kDropped;
    if (r == 0) return kNothing;
    const ssize_t n = io_.Read(fd_.Get(), buffer, capacity);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      // A USB printer's zero-length packet is "nothing now"; for a socket or
      // a hung-up terminal it is the end.
      if (kind_ != FdKind::kUsbPrinter || (fds[0].revents & (POLLHUP | POLLERR))) return kDropped;
      PauseReads(kEmptyReadPause);
      return kTryAgain;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      PauseReads(kEmptyReadPause);
      return kTryAgain;
    }
    if (kind_ == FdKind::kUsbPrinter && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      canRead_ = false;  // a printer without a read side
      return kTryAgain;
    }
    return kDropped;
  }

  UniqueFd fd_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  const FdKind kind_;
  FdIo& io_;
  std::atomic<bool> interrupted_{false};
  // Receive runs on one thread at a time (the link's reading side).
  bool canRead_ = true;
  Clock::time_point nextReadAt_{};
  std::mutex termiosMutex_;
  std::chrono::milliseconds quietGap_{kLnkioQuietGapMs};
};

bool MakeWakePipe(UniqueFd& r, UniqueFd& w) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  r.Reset(p[0]);
  w.Reset(p[1]);
  return true;
}

std::unique_ptr<FdTransport> Wrap(UniqueFd fd, FdKind kind, FdIo& io, int* code) {
  UniqueFd r, w;
  if (!MakeWakePipe(r, w)) {
    *code = kLnkioErrIo;
    return nullptr;
  }
  return std::make_unique<FdTransport>(std::move(fd), std::move(r), std::move(w), kind, io);
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

// Keeps errno and the device for LNKIO_GetOpenError; returns `code`.
int Fail(OpenFailure* failure, const std::string& device, int code, int osError = errno) {
  failure->osError = osError;
  failure->device = device;
  return code;
}

std::unique_ptr<Transport> OpenSerial(const LinkOpenBlock& b, int* code, OpenFailure* failure) {
  const auto path = platform::ResolveComPort(b.serialIndex + 1);
  if (!path) {
    *code = Fail(failure, "COM" + std::to_string(b.serialIndex + 1), kLnkioErrParameter, 0);
    return nullptr;
  }
  UniqueFd fd(::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    *code = Fail(failure, path->string(), kLnkioErrNoDevice);
    return nullptr;
  }
  termios t{};
  if (::tcgetattr(fd.Get(), &t) != 0) {
    *code = Fail(failure, path->string(), kLnkioErrNoDevice);  // not a terminal
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
    *code = Fail(failure, path->string(), kLnkioErrIo);
    return nullptr;
  }
  ::tcflush(fd.Get(), TCIOFLUSH);
  auto t2 = Wrap(std::move(fd), FdKind::kSerial, FdIo::System(), code);
  if (t2) t2->SetQuietGap(SerialQuietGap(baud, b.dataBits, b.parity));
  return t2;
}

std::unique_ptr<Transport> OpenDeviceFile(const fs::path& path, FdKind kind, int* code, OpenFailure* failure) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd && (errno == EACCES || errno == EROFS || errno == EINVAL)) {
    // A printer may be writable only.
    fd.Reset(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  }
  if (!fd) {
    *code = Fail(failure, path.string(), kLnkioErrNoDevice);
    return nullptr;
  }
  return Wrap(std::move(fd), kind, FdIo::System(), code);
}

std::unique_ptr<Transport> OpenParallel(const LinkOpenBlock& b, int* code, OpenFailure* failure) {
  const auto path = platform::ResolveLptPort(b.parallelIndex + 1);
  if (!path) {
    *code = Fail(failure, "LPT" + std::to_string(b.parallelIndex + 1), kLnkioErrParameter, 0);
    return nullptr;
  }
  return OpenDeviceFile(*path, FdKind::kParallel, code, failure);
}

// USB number usbIndex + 1 of a class, as the machine-ports service numbers it
// for every program: by USB bus and port path, so the number does not depend
// on the order in which the devices were plugged in. A printer-class device
// is opened through the kernel printer device (/dev/usb/lpN) where the kernel
// claimed it, through libusb where it did not; a vendor-class device always
// through libusb.
std::unique_ptr<Transport> OpenUsb(const LinkOpenBlock& b, int usbClass, int* code, OpenFailure* failure) {
  for (const platform::UsbPrinter& p : platform::MachinePorts().UsbPrinters(usbClass)) {
    if (p.number != b.usbIndex + 1) continue;
    auto transport = usbClass == platform::kUsbClassPrinter && !p.withoutPrinterDriver
                         ? OpenDeviceFile(p.node, FdKind::kUsbPrinter, code, failure)
                         : OpenUsbBulkTransport(p, code, failure);
    if (!transport) failure->usb = OpenFailure::Usb::kDevice;
    return transport;
  }
  const char* what = usbClass == platform::kUsbClassPrinter ? "USB printer " : "USB vendor-class printer ";
  *code = Fail(failure, what + std::to_string(b.usbIndex + 1), kLnkioErrNoDevice, ENODEV);
  failure->usb = OpenFailure::Usb::kNotInClass;
  return nullptr;
}

std::unique_ptr<Transport> OpenNetwork(const LinkOpenBlock& b, int* code, OpenFailure* failure) {
  const std::string device = std::to_string(b.ipv4[0]) + "." + std::to_string(b.ipv4[1]) + "." +
                             std::to_string(b.ipv4[2]) + "." + std::to_string(b.ipv4[3]) + ":9100";
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) {
    *code = Fail(failure, device, kLnkioErrIo);
    return nullptr;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(9100);
  std::memcpy(&addr.sin_addr.s_addr, b.ipv4, 4);  // already in network order
  const int timeoutMs = EffectiveLinkTimeoutMs(b.linkTimeoutMs);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      *code = Fail(failure, device, errno == ECONNREFUSED ? kLnkioErrRefused : kLnkioErrNoDevice);
      return nullptr;
    }
    pollfd p{fd.Get(), POLLOUT, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int r;
    do {
      r = ::poll(&p, 1, MsLeft(deadline));
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
      *code = Fail(failure, device, kLnkioTimeout, ETIMEDOUT);
      return nullptr;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (r < 0 || ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      if (err == 0) err = errno;
      *code = Fail(failure, device,
                   err == ECONNREFUSED ? kLnkioErrRefused : err == ETIMEDOUT ? kLnkioTimeout : kLnkioErrNoDevice, err);
      return nullptr;
    }
  }
  const int one = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return Wrap(std::move(fd), FdKind::kSocket, FdIo::System(), code);
}

}  // namespace

FdIo& FdIo::System() {
  // Never destroyed: a client's static destructors may still close a link at
  // process exit, with the client's threads still reading through it, after
  // this library's own static objects are gone. It holds nothing to release.
  alignas(SystemFdIo) static unsigned char storage[sizeof(SystemFdIo)];
  static SystemFdIo* const io = new (storage) SystemFdIo();
  return *io;
}

std::unique_ptr<Transport> MakeFdTransport(UniqueFd fd, FdKind kind, FdIo& io, int* code) {
  return Wrap(std::move(fd), kind, io, code);
}

std::unique_ptr<Transport> OpenTransport(const LinkOpenBlock& block, int* code, OpenFailure* failure) {
  *code = kLnkioErrParameter;
  *failure = {};
  switch (block.kind) {
    case kLinkSerial: return OpenSerial(block, code, failure);
    case kLinkParallel: return OpenParallel(block, code, failure);
    case kLinkUsbVendor: return OpenUsb(block, platform::kUsbClassVendor, code, failure);
    case kLinkNetwork: return OpenNetwork(block, code, failure);
    case kLinkUsbPrinter: return OpenUsb(block, platform::kUsbClassPrinter, code, failure);
    default: return nullptr;
  }
}

}  // namespace tw::lnkio
