#pragma once
// The simulated service behind the simulated maker's components: handles on
// ports of the port table (sim_ports.h), one link per port to the simulated
// printer shared by every handle of that port, an exclusive lock per port,
// and subscriptions whose callbacks run on the link's own reader thread (the
// way the real software calls back on threads of its own).
//
// Each component (driver path, port service) has one Service object and
// decides itself how an event reaches a subscription (DispatchFn).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/makersw/sim_link.h"
#include "sim/makersw/sim_ports.h"

namespace tw::makersw {

struct LinkEvent {
  enum Kind { kPacket, kState, kReceiveMode } kind = kPacket;
  int code = 0;  // kPacket: 2 automatic status, 3 status or battery, else data
  std::vector<uint8_t> bytes;
  uint32_t value = 0;  // kState, kReceiveMode
};

struct Subscription {
  int32_t id = 0;  // event id or callback kind
  void* callback = nullptr;
  void* context = nullptr;
};

class Service {
 public:
  using DispatchFn = void (*)(const Subscription&, const LinkEvent&);
  explicit Service(DispatchFn dispatch) : dispatch_(dispatch) {}
  ~Service();  // closes every handle and stops every link

  // A handle on a port of the table (empty name: the enumeration handle).
  // 0 when the port is unknown.
  int32_t OpenHandle(const std::string& port);
  bool CloseHandle(int32_t handle);
  // The port of a handle; false for an unknown handle.
  bool PortOf(int32_t handle, std::string& port) const;

  // Exclusive use of the port; false when another handle holds it beyond the
  // time-out. The port's "lock-timeout" fault makes every attempt time out.
  enum class LockResult { kOk, kTimeout, kRefused, kNoHandle };
  LockResult Lock(int32_t handle, int32_t timeoutMs);
  bool Unlock(int32_t handle);

  bool Subscribe(int32_t handle, const Subscription& subscription);
  bool Unsubscribe(int32_t handle, int32_t id);

  // Sends to the printer over the port's link (made on first use). -1 when the
  // link cannot be made or the send fails, else the number of bytes sent.
  long Send(int32_t handle, const uint8_t* data, size_t length);

  // Called by a link's reader thread.
  void Deliver(const std::string& port, const LinkEvent& event);

 private:
  struct Handle {
    std::string port;
    std::vector<Subscription> subscriptions;
  };
  PortLink* LinkFor(const std::string& port);  // mu_ held

  DispatchFn dispatch_;
  mutable std::mutex mu_;
  std::condition_variable lockFreed_;
  std::map<int32_t, Handle> handles_;
  std::map<std::string, int32_t> lockOwner_;
  std::map<std::string, std::unique_ptr<PortLink>> links_;
  int32_t nextHandle_ = 1;
};

}  // namespace tw::makersw
