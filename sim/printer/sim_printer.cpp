#include "sim/printer/sim_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace tw::sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollSliceMs = 50;
constexpr int kSendLimitMs = 2000;  // a peer that takes nothing loses the reply

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size() && i < 64; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    s += buf;
  }
  if (bytes.size() > 64) s += " ...";
  return s;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

SimPrinter::SimPrinter(SimConfig config) : config_(std::move(config)), protocol_(config_.behaviour) {
  report_.state = "starting";
  report_.record = protocol_.Record();
}

SimPrinter::~SimPrinter() { Stop(); }

void SimPrinter::Log(const std::string& line) {
  if (!config_.log) return;
  std::lock_guard<std::mutex> lock(fileMutex_);
  std::cout << "kps410-sim: " << line << std::endl;
}

bool SimPrinter::OpenListener() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(config_.tcpPort));
  if (::inet_pton(AF_INET, config_.tcpAddress.c_str(), &addr.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return false;
  }
  listenFd_ = fd;
  return true;
}

bool SimPrinter::OpenPty() {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return false;
  char name[128];
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    ::close(master);
    return false;
  }
  // Holding the slave open ourselves keeps the master readable while the
  // program under test closes and reopens its end.
  int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (slave < 0 || ::tcgetattr(slave, &t) != 0) {
    if (slave >= 0) ::close(slave);
    ::close(master);
    return false;
  }
  ::cfmakeraw(&t);  // no echo, no line editing: a plain 8-bit line
  ::tcsetattr(slave, TCSANOW, &t);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  if (!PointComLinkAt(name)) {
    ::close(slave);
    ::close(master);
    return false;
  }
  ptyMaster_ = master;
  ptySlave_ = slave;
  {
    std::lock_guard<std::mutex> lock(mu_);
    report_.ptyPath = name;
  }
  return true;
}

bool SimPrinter::PointComLinkAt(const std::filesystem::path& target) {
  std::error_code ec;
  std::filesystem::create_directories(config_.ptyDir, ec);
  comLink_ = config_.ptyDir / ("com" + std::to_string(config_.comNumber));
  const std::filesystem::path tmp = comLink_.string() + ".new" + std::to_string(::getpid());
  std::filesystem::remove(tmp, ec);
  std::filesystem::create_symlink(target, tmp, ec);
  if (!ec) std::filesystem::rename(tmp, comLink_, ec);
  return !ec;
}

void SimPrinter::ClosePty() {
  CloseFd(ptyMaster_);
  CloseFd(ptySlave_);
}

bool SimPrinter::Start() {
  if (started_) return true;
  if (config_.tcpAddress.empty() && config_.comNumber <= 0) {
    error_ = "no endpoint: give a TCP address or a pty folder and COM number";
    return false;
  }
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error_ = "pipe failed";
    return false;
  }
  if (!config_.tcpAddress.empty() && !OpenListener()) {
    error_ = "cannot listen on " + config_.tcpAddress + ":" + std::to_string(config_.tcpPort);
    Stop();
    return false;
  }
  if (config_.comNumber > 0 && !OpenPty()) {
    error_ = "cannot create the pseudo-terminal and its link in " + config_.ptyDir.string();
    Stop();
    return false;
  }
  started_ = true;
  {
    std::lock_guard<std::mutex> lock(mu_);
    report_.state = "up";
  }
  if (listenFd_ >= 0) {
    Log("listening on " + config_.tcpAddress + ":" + std::to_string(config_.tcpPort));
    tcpThread_ = std::thread([this] { RunTcp(); });
  }
  if (ptyMaster_ >= 0) {
    Log("serial line " + Report().ptyPath + " as " + comLink_.string());
    ptyThread_ = std::thread([this] { RunPty(); });
  }
  Changed();
  return true;
}

void SimPrinter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (wake_[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &b, 1);
  }
  if (tcpThread_.joinable()) tcpThread_.join();
  if (ptyThread_.joinable()) ptyThread_.join();
  CloseFd(listenFd_);
  ClosePty();
  if (!comLink_.empty()) {
    std::error_code ec;
    std::filesystem::remove(comLink_, ec);
    comLink_.clear();
  }
  CloseFd(wake_[0]);
  CloseFd(wake_[1]);
  if (started_) {
    started_ = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      report_.state = "stopped";
    }
    Changed();
    Log("stopped");
  }
}

bool SimPrinter::SleepUnlessStopping(std::chrono::milliseconds d) {
  std::unique_lock<std::mutex> lock(mu_);
  return !cv_.wait_for(lock, d, [this] { return stopping_; });
}

void SimPrinter::GoDown(bool reset) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++generation_;
    downUntil_ = Clock::now() + std::chrono::milliseconds(std::max(config_.resetMs, 0));
    report_.state = "down";
    if (reset) {
      ++report_.resets;
    } else {
      ++report_.drops;
    }
    protocol_.NewLink(reset);
    report_.record = protocol_.Record();
  }
  Log(std::string(reset ? "reset" : "link dropped") + ": down for " + std::to_string(config_.resetMs) + " ms");
  Changed();
}

void SimPrinter::SendReply(int fd, bool socket, const std::vector<std::uint8_t>& reply) {
  if (reply.empty()) return;
  const auto& faults = config_.behaviour.faults;
  if (faults.count(Fault::kSlow) && !SleepUnlessStopping(std::chrono::milliseconds(config_.slowMs))) return;
  const bool byteByByte = faults.count(Fault::kByteByByte) != 0;
  const std::size_t chunk = byteByByte ? 1 : reply.size();
  const auto deadline = Clock::now() + std::chrono::milliseconds(kSendLimitMs);
  std::size_t done = 0;
  while (done < reply.size()) {
    const std::size_t want = std::min(chunk, reply.size() - done);
    const ssize_t n = socket ? ::send(fd, reply.data() + done, want, MSG_NOSIGNAL | MSG_DONTWAIT)
                             : ::write(fd, reply.data() + done, want);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      if (byteByByte && done < reply.size() &&
          !SleepUnlessStopping(std::chrono::milliseconds(config_.byteGapMs))) {
        return;
      }
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
    if (Clock::now() >= deadline) return;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, kPollSliceMs) > 0 && fds[1].revents) return;
  }
  Log("-> " + Hex(reply));
}

bool SimPrinter::Flood(int fd) {
  const std::vector<std::uint8_t> chunk(64 * 1024, 'A');
  const auto until = Clock::now() + std::chrono::milliseconds(std::max(config_.floodMs, 0));
  std::size_t sent = 0;
  while (Clock::now() < until && (config_.floodBytes == 0 || sent < config_.floodBytes)) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return false;
    }
    std::size_t want = chunk.size();
    if (config_.floodBytes != 0) want = std::min(want, config_.floodBytes - sent);
    const ssize_t n = ::send(fd, chunk.data(), want, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, kPollSliceMs) > 0 && fds[1].revents) return false;
  }
  Log("flooded " + std::to_string(sent) + " bytes");
  return true;
}

bool SimPrinter::Handle(const std::uint8_t* data, std::size_t size, int fd, bool socket) {
  std::vector<SimOutcome> outcomes;
  {
    std::lock_guard<std::mutex> lock(mu_);
    outcomes = protocol_.Feed(data, size);
    report_.record = protocol_.Record();
  }
  Changed();
  for (const SimOutcome& o : outcomes) {
    if (!o.command.empty()) Log("<- " + o.command);
    if (o.command == "frame_threshold_write") {
      Log("threshold stored: " + std::to_string(Report().record.threshold));
    }
    SendReply(fd, socket, o.reply);
    if (o.dropLink || o.reset) {
      GoDown(o.reset);
      return false;
    }
  }
  return true;
}

SimPrinter::LinkEvent SimPrinter::NextLinkEvent(unsigned& seen, Clock::time_point& until) {
  std::lock_guard<std::mutex> lock(mu_);
  if (stopping_) return LinkEvent::kStop;
  const bool down = generation_ != seen;
  seen = generation_;
  until = downUntil_;
  return down ? LinkEvent::kDown : LinkEvent::kNone;
}

bool SimPrinter::ComeBack(Clock::time_point until, unsigned seen, const std::function<bool()>& reopen) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
  if (left.count() > 0 && !SleepUnlessStopping(left)) return false;
  while (!reopen()) {
    if (!SleepUnlessStopping(std::chrono::milliseconds(100))) return false;
  }
  std::lock_guard<std::mutex> lock(mu_);
  if (generation_ == seen) report_.state = "up";
  return true;
}

void SimPrinter::RunTcp() {
  unsigned seen = 0;
  Clock::time_point until;
  NextLinkEvent(seen, until);
  int conn = -1;
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    const LinkEvent event = NextLinkEvent(seen, until);
    if (event == LinkEvent::kStop) break;
    if (event == LinkEvent::kDown) {
      // Listener first: a client that sees its connection end must not get
      // into the old listener's queue in between.
      CloseFd(listenFd_);
      CloseFd(conn);
      {
        std::lock_guard<std::mutex> lock(mu_);
        report_.connected = false;
      }
      if (!ComeBack(until, seen, [this] { return OpenListener(); })) break;
      Log("back: listening again");
      Changed();
      continue;
    }
    pollfd fds[2] = {{conn >= 0 ? conn : listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int r = ::poll(fds, 2, kPollSliceMs);
    if (r <= 0 || fds[1].revents) continue;
    if (conn < 0) {
      conn = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      const int one = 1;
      ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      {
        std::lock_guard<std::mutex> lock(mu_);
        ++report_.connections;
        report_.connected = true;
        protocol_.NewLink(false);
      }
      Log("connection accepted");
      Changed();
      if (config_.behaviour.faults.count(Fault::kFlood) && !Flood(conn)) break;
      continue;
    }
    const ssize_t n = ::recv(conn, buffer.data(), buffer.size(), 0);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      CloseFd(conn);
      {
        std::lock_guard<std::mutex> lock(mu_);
        report_.connected = false;
      }
      Log("connection closed by the peer");
      Changed();
      continue;
    }
    Handle(buffer.data(), static_cast<std::size_t>(n), conn, true);
  }
  CloseFd(conn);
}

void SimPrinter::RunPty() {
  unsigned seen = 0;
  Clock::time_point until;
  NextLinkEvent(seen, until);
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    const LinkEvent event = NextLinkEvent(seen, until);
    if (event == LinkEvent::kStop) break;
    if (event == LinkEvent::kDown) {
      ClosePty();  // the other end sees a hang-up
      // The freed pseudo-terminal number may go to another process at once;
      // a link left pointing at it would lead a reopen to a stranger. While
      // down, the link leads nowhere, as an unplugged adapter's node would.
      PointComLinkAt(comLink_.string() + ".down");
      if (!ComeBack(until, seen, [this] { return OpenPty(); })) break;
      Log("back: serial line " + Report().ptyPath);
      Changed();
      continue;
    }
    pollfd fds[2] = {{ptyMaster_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int r = ::poll(fds, 2, kPollSliceMs);
    if (r <= 0 || fds[1].revents) continue;
    const ssize_t n = ::read(ptyMaster_, buffer.data(), buffer.size());
    if (n <= 0) {
      if (!SleepUnlessStopping(std::chrono::milliseconds(10))) break;
      continue;
    }
    Handle(buffer.data(), static_cast<std::size_t>(n), ptyMaster_, false);
  }
}

SimReport SimPrinter::Report() const {
  std::lock_guard<std::mutex> lock(mu_);
  return report_;
}

std::string SimPrinter::ReportText() const {
  const SimReport r = Report();
  std::ostringstream out;
  out << "state=" << r.state << "\n";
  if (!config_.tcpAddress.empty()) out << "tcp=" << config_.tcpAddress << ":" << config_.tcpPort << "\n";
  if (config_.comNumber > 0) {
    out << "com=COM" << config_.comNumber << "\n";
    out << "com_link=" << (config_.ptyDir / ("com" + std::to_string(config_.comNumber))).string() << "\n";
    out << "pty=" << r.ptyPath << "\n";
  }
  out << "level=" << config_.behaviour.level << "\n";
  out << "model_name=" << config_.behaviour.modelName << "\n";
  out << "faults=";
  bool first = true;
  for (Fault f : config_.behaviour.faults) {
    out << (first ? "" : ",") << FaultName(f);
    first = false;
  }
  out << "\n";
  out << "threshold=" << r.record.threshold << "\n";
  out << "threshold_writes=" << r.record.thresholdWrites << "\n";
  out << "bad_checksums=" << r.record.badChecksums << "\n";
  out << "status_enabled=" << (r.record.statusEnabled ? 1 : 0) << "\n";
  out << "status_packets=" << r.record.statusPackets << "\n";
  out << "connections=" << r.connections << "\n";
  out << "connected=" << (r.connected ? 1 : 0) << "\n";
  out << "resets=" << r.resets << "\n";
  out << "drops=" << r.drops << "\n";
  out << "bytes_received=" << r.record.bytesReceived << "\n";
  out << "unknown_bytes=" << r.record.unknownBytes << "\n";
  out << "command_count=" << r.record.commands.size() << "\n";
  out << "last_command=" << (r.record.commands.empty() ? "" : r.record.commands.back()) << "\n";
  out << "commands=";
  for (std::size_t i = 0; i < r.record.commands.size(); ++i) out << (i ? " " : "") << r.record.commands[i];
  out << "\n";
  return out.str();
}

void SimPrinter::Changed() {
  cv_.notify_all();
  if (config_.reportFile.empty()) return;
  const std::string text = ReportText();
  std::lock_guard<std::mutex> lock(fileMutex_);
  const std::filesystem::path tmp = config_.reportFile.string() + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return;
    f << text;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, config_.reportFile, ec);
}

bool SimPrinter::WaitFor(const std::function<bool(const SimReport&)>& pred, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return pred(report_); });
}

}  // namespace tw::sim
