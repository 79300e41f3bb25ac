// Links over the kernel's printer drivers and a failing USB device, through
// fake device layers that answer the way those drivers do: a parallel port
// always polls readable and fails its reads (EIO without a back channel,
// EAGAIN while the printer has nothing to say); a USB printer returns 0 bytes
// for a zero-length packet; a babbling USB device fails every transfer.
#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

#include "lnkio/fd_io.h"
#include "lnkio/link.h"
#include "lnkio/lnkioapi.h"
#include "lnkio/usb_bulk.h"

namespace tw::lnkio {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// One device descriptor answered like a kernel driver; every other
// descriptor (the transport's wake-up pipe) goes to the system.
class FakeDriver : public FdIo {
 public:
  // What a read of the device gives once the script is used up: an errno
  // value (EIO, EAGAIN), or 0 for a zero-byte read.
  FakeDriver(bool alwaysReadable, int idleError) : alwaysReadable_(alwaysReadable), idleError_(idleError) {}

  platform::UniqueFd OpenDevice() {
    platform::UniqueFd fd(::open("/dev/null", O_RDWR | O_CLOEXEC));
    device_ = fd.Get();
    return fd;
  }
  // Reads to come, in order: bytes, or an empty vector for a zero-byte read.
  void Script(std::vector<Bytes> reads) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& r : reads) script_.push_back(std::move(r));
  }
  int Reads() const { return reads_.load(); }
  Bytes Written() {
    std::lock_guard<std::mutex> lock(mu_);
    return written_;
  }

  ssize_t Read(int fd, void* buffer, size_t size) override {
    if (fd != device_) return ::read(fd, buffer, size);
    ++reads_;
    std::lock_guard<std::mutex> lock(mu_);
    if (!script_.empty()) {
      Bytes next = std::move(script_.front());
      script_.pop_front();
      const size_t n = std::min(size, next.size());
      if (n > 0) std::memcpy(buffer, next.data(), n);
      return static_cast<ssize_t>(n);
    }
    if (idleError_ == 0) return 0;
    errno = idleError_;
    return -1;
  }
  ssize_t Write(int fd, const void* data, size_t size) override {
    if (fd != device_) return ::write(fd, data, size);
    std::lock_guard<std::mutex> lock(mu_);
    const auto* b = static_cast<const std::uint8_t*>(data);
    written_.insert(written_.end(), b, b + size);
    return static_cast<ssize_t>(size);
  }
  ssize_t Send(int fd, const void* data, size_t size) override { return Write(fd, data, size); }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
    std::vector<pollfd> others;
    int deviceReady = 0;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].fd != device_) {
        others.push_back(fds[i]);
        continue;
      }
      fds[i].revents = static_cast<short>(fds[i].events & (POLLOUT | (DeviceReadable() ? POLLIN : 0)));
      if (fds[i].revents) ++deviceReady;
    }
    const int r = others.empty() ? 0 : ::poll(others.data(), others.size(), deviceReady ? 0 : timeoutMs);
    if (others.empty() && !deviceReady) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    for (nfds_t i = 0, j = 0; i < count; ++i) {
      if (fds[i].fd != device_) fds[i].revents = others[j++].revents;
    }
    return r < 0 ? r : r + deviceReady;
  }

 private:
  bool DeviceReadable() {
    std::lock_guard<std::mutex> lock(mu_);
    return alwaysReadable_ || !script_.empty();
  }

  const bool alwaysReadable_;
  const int idleError_;
  int device_ = -1;
  std::atomic<int> reads_{0};
  std::mutex mu_;
  std::deque<Bytes> script_;
  Bytes written_;
};

std::unique_ptr<Link> LinkOver(FakeDriver& driver, FdKind kind) {
  int code = 0;
  auto transport = MakeFdTransport(driver.OpenDevice(), kind, driver, &code);
  EXPECT_TRUE(transport);
  return std::make_unique<Link>(std::move(transport), 2000);
}

struct Received {
  int code = 0;
  Bytes bytes;
};

Received ReadOne(Link& link) {
  std::uint8_t buffer[256];
  std::size_t n = 0;
  const int code = link.Read(buffer, sizeof buffer, &n);
  return {code, Bytes(buffer, buffer + n)};
}

TEST(ParallelPort, WithoutABackChannelTheLinkStaysUpAndWritable) {
  FakeDriver lp(true, EIO);
  auto link = LinkOver(lp, FdKind::kParallel);
  EXPECT_EQ(link->WaitReadable(300), 0) << "a refused back channel is not a lost link";
  EXPECT_TRUE(link->IsOpen());
  std::size_t written = 0;
  const Bytes query{0x10, 0x14, 0x12, 0x00, 0x00};
  EXPECT_EQ(link->Write(query.data(), query.size(), &written), kLnkioOk);
  EXPECT_EQ(written, query.size());
  EXPECT_EQ(lp.Written(), query);
  EXPECT_EQ(link->WaitReadable(300), 0);
  EXPECT_TRUE(link->IsOpen());
  EXPECT_LE(lp.Reads(), 5) << "a port that refused its back channel is asked again only now and then";
}

TEST(ParallelPort, AnIdleBackChannelIsNeverReadInASpin) {
  FakeDriver lp(true, EAGAIN);
  auto link = LinkOver(lp, FdKind::kParallel);
  const auto start = Clock::now();
  EXPECT_EQ(link->WaitReadable(500), 0);
  EXPECT_GE(Clock::now() - start, 450ms);
  EXPECT_TRUE(link->IsOpen());
  EXPECT_LE(lp.Reads(), 150) << "reads of an idle back channel are paced, not spun";
  EXPECT_GE(lp.Reads(), 2) << "the back channel is still looked at";

  // Where the port has a back channel, the printer's reply comes through it.
  lp.Script({{0x37, 0x25}, {0x00}});
  ASSERT_EQ(link->WaitReadable(2000), 1);
  for (int i = 0; i < 100 && link->WaitReadable(0) == 1; ++i) {
    const Received r = ReadOne(*link);
    if (r.code == kLnkioReadNothing) continue;
    EXPECT_EQ(r.code, kLnkioReadData);
    EXPECT_EQ(r.bytes, (Bytes{0x37, 0x25, 0x00}));
    return;
  }
  ADD_FAILURE() << "the reply never arrived";
}

TEST(UsbPrinter, AZeroLengthPacketIsNothingNowNotTheEnd) {
  FakeDriver usb(false, EAGAIN);
  auto link = LinkOver(usb, FdKind::kUsbPrinter);
  usb.Script({{}, {}});
  EXPECT_EQ(link->WaitReadable(100), 0);
  EXPECT_TRUE(link->IsOpen());
  usb.Script({{0x37, 0x25, 0x00}});
  ASSERT_EQ(link->WaitReadable(2000), 1) << "reading goes on after zero-length packets";
  const Received r = ReadOne(*link);
  EXPECT_EQ(r.code, kLnkioReadData);
  EXPECT_EQ(r.bytes, (Bytes{0x37, 0x25, 0x00}));

  // A zero-length packet between the parts of a reply changes nothing.
  usb.Script({{0x37, 0x4D}, {}, {0x30, '$', 0x00}});
  ASSERT_EQ(link->WaitReadable(2000), 1);
  const Received r2 = ReadOne(*link);
  EXPECT_EQ(r2.bytes, (Bytes{0x37, 0x4D, 0x30, '$', 0x00}));
  EXPECT_TRUE(link->IsOpen());
}

// A vendor-class USB device whose transfers fail or hang as told.
class FakeBulk : public UsbBulk {
 public:
  explicit FakeBulk(int inResult, int outResult) : inResult_(inResult), outResult_(outResult) {}
  int In(std::uint8_t*, int, int* transferred, unsigned timeoutMs) override {
    ++ins;
    *transferred = 0;
    if (inResult_ == LIBUSB_ERROR_TIMEOUT) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return inResult_;
  }
  int Out(const std::uint8_t*, int, int* transferred, unsigned timeoutMs) override {
    ++outs;
    *transferred = 0;
    // A device that takes nothing: each transfer runs to its time-out.
    if (outResult_ == LIBUSB_ERROR_TIMEOUT) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return outResult_;
  }
  void ClearInHalt() override {}
  std::atomic<int> ins{0};
  std::atomic<int> outs{0};

 private:
  const int inResult_;
  const int outResult_;
};

TEST(UsbVendor, APersistentErrorIsPacedAndEndsTheLink) {
  auto bulk = std::make_unique<FakeBulk>(LIBUSB_ERROR_OVERFLOW, 0);
  FakeBulk& device = *bulk;
  Link link(MakeUsbBulkTransport(std::move(bulk)), 2000);
  const auto start = Clock::now();
  EXPECT_EQ(link.WaitReadable(200), 0);
  EXPECT_LE(device.ins.load(), 10) << "failed transfers are not retried in a spin";
  // About a second of nothing but errors: the device is lost.
  EXPECT_EQ(link.WaitReadable(10000), 1);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST(UsbVendor, ShutdownEndsASendTheDeviceDoesNotTake) {
  auto bulk = std::make_unique<FakeBulk>(LIBUSB_ERROR_TIMEOUT, LIBUSB_ERROR_TIMEOUT);
  auto link = std::make_shared<Link>(MakeUsbBulkTransport(std::move(bulk)), 30000);
  std::atomic<int> result{0};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    const Bytes data(64, 0x41);
    std::size_t written = 0;
    result = link->Write(data.data(), data.size(), &written);
    done = true;
  });
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  link->Shutdown();
  while (!done && Clock::now() - start < 10s) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(done.load()) << "the send still runs after the link was shut down";
  EXPECT_LT(Clock::now() - start, 2s);
  writer.join();
  EXPECT_EQ(result.load(), kLnkioErrNotOpen);
}

}  // namespace
}  // namespace tw::lnkio
