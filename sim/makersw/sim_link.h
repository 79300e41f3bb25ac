#pragma once
// One port's link to the simulated printer: a TCP connection (or, on Linux, a
// serial line such as the printer's pseudo-terminal), a reader thread that cuts
// the received bytes into printer packets and hands them to the service, and a
// watcher of the port table that reports device-state and receive-mode changes.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tw::makersw {

class Service;
struct LinkEvent;

class PortLink {
 public:
  PortLink(Service& service, std::string port, std::string link, uint32_t state, uint32_t receiveMode);
  ~PortLink();  // stops the reader thread and closes the connection
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  // Connects (once); false when the printer cannot be reached.
  bool Connect();
  // -1 on failure, else the bytes sent.
  long Send(const uint8_t* data, size_t length);
  // Makes the reader thread report the printer's current status once, as the
  // software does for a new subscriber.
  void RequestGreeting() { greeting_.store(true); }

 private:
  void ReaderLoop();
  void WatchTable();

  Service& service_;
  const std::string port_;
  const std::string link_;
  uint32_t state_;
  uint32_t receiveMode_;
  std::mutex connectLock_;  // Connect runs on callers' threads
  intptr_t fd_ = -1;  // socket or file descriptor; set once by Connect
  bool serial_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> greeting_{false};
  std::thread reader_;
};

}  // namespace tw::makersw
