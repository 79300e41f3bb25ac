#pragma once
// A simulated KP-S410 slip printer on a TCP address (port 9100) and/or a
// pseudo-terminal reachable through a "comN" link, for tests and demos.
// Runs in-process (tests) or as the kps410-sim program.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/printer/sim_protocol.h"

namespace tw::sim {

struct SimConfig {
  std::string tcpAddress;              // empty: no TCP endpoint
  int tcpPort = 9100;
  std::filesystem::path ptyDir;        // with comNumber > 0: pty with link ptyDir/comN
  int comNumber = 0;
  int resetMs = 1000;                  // link down time after the reset (and after a drop)
  int slowMs = 1500;                   // delay of every reply with Fault::kSlow
  int byteGapMs = 20;                  // gap between reply bytes with Fault::kByteByByte
  int floodMs = 8000;                  // how long Fault::kFlood sends after a connection
  std::size_t floodBytes = 0;          // with Fault::kFlood: stop after this many bytes (0: no limit)
  SimBehaviour behaviour;
  std::filesystem::path reportFile;    // key=value lines, rewritten after every change
  bool log = false;                    // readable lines on stdout
};

struct SimReport {
  std::string state;                   // starting, up, down, stopped
  std::string ptyPath;                 // current pty slave, if any
  int connections = 0;                 // TCP connections accepted
  bool connected = false;              // a TCP client is connected now
  int resets = 0;
  int drops = 0;
  SimRecord record;
};

class SimPrinter {
 public:
  explicit SimPrinter(SimConfig config);
  ~SimPrinter();
  SimPrinter(const SimPrinter&) = delete;
  SimPrinter& operator=(const SimPrinter&) = delete;

  // Binds the TCP address and/or creates the pty; false (with Error()) when an
  // endpoint cannot be set up.
  bool Start();
  void Stop();
  const std::string& Error() const { return error_; }

  SimReport Report() const;
  // The report as key=value lines (the report file's content).
  std::string ReportText() const;
  // Waits until pred(report) holds or the time-out passes.
  bool WaitFor(const std::function<bool(const SimReport&)>& pred, std::chrono::milliseconds timeout) const;

 private:
  struct Endpoint;
  enum class LinkEvent { kNone, kDown, kStop };
  // Whether the endpoint loop must stop, or take its link down until `until`
  // (a reset or drop happened since generation `seen`).
  LinkEvent NextLinkEvent(unsigned& seen, std::chrono::steady_clock::time_point& until);
  // Waits out the down time and reopens the endpoint; false when stopping.
  bool ComeBack(std::chrono::steady_clock::time_point until, unsigned seen, const std::function<bool()>& reopen);
  void RunTcp();
  void RunPty();
  bool OpenListener();
  bool OpenPty();
  void ClosePty();
  // Replaces the comN link atomically so that it leads to target.
  bool PointComLinkAt(const std::filesystem::path& target);
  // Handles received bytes; false when the link must go down now.
  bool Handle(const std::uint8_t* data, std::size_t size, int fd, bool socket);
  void SendReply(int fd, bool socket, const std::vector<std::uint8_t>& reply);
  // Fault::kFlood on a new connection; false when stopping.
  bool Flood(int fd);
  bool SleepUnlessStopping(std::chrono::milliseconds d);
  void GoDown(bool reset);
  void Changed();
  void Log(const std::string& line);

  SimConfig config_;
  std::string error_;

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  SimProtocol protocol_;
  SimReport report_;
  bool stopping_ = false;
  unsigned generation_ = 0;            // bumped by every reset/drop
  std::chrono::steady_clock::time_point downUntil_{};

  std::mutex fileMutex_;
  int wake_[2] = {-1, -1};
  int listenFd_ = -1;
  int ptyMaster_ = -1;
  int ptySlave_ = -1;
  std::filesystem::path comLink_;
  std::thread tcpThread_;
  std::thread ptyThread_;
  bool started_ = false;
};

}  // namespace tw::sim
