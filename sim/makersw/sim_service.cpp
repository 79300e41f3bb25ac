#include "sim/makersw/sim_service.h"

#include <chrono>

#include "sim/makersw/sim_link.h"

namespace tw::makersw {

Service::~Service() {
  std::map<std::string, std::unique_ptr<PortLink>> links;
  {
    std::lock_guard<std::mutex> guard(mu_);
    handles_.clear();
    lockOwner_.clear();
    links.swap(links_);
  }
  links.clear();  // joins the reader threads outside the lock they deliver through
}

int32_t Service::OpenHandle(const std::string& port) {
  if (!port.empty()) {
    SimTable table = LoadTable();
    if (!table.Find(port)) return 0;
  }
  std::lock_guard<std::mutex> guard(mu_);
  const int32_t handle = nextHandle_++;
  handles_[handle] = Handle{port, {}};
  return handle;
}

bool Service::CloseHandle(int32_t handle) {
  std::unique_ptr<PortLink> unused;
  {
    std::lock_guard<std::mutex> guard(mu_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    const std::string port = it->second.port;
    handles_.erase(it);
    auto owner = lockOwner_.find(port);
    if (owner != lockOwner_.end() && owner->second == handle) {
      lockOwner_.erase(owner);
      lockFreed_.notify_all();
    }
    bool portInUse = false;
    for (const auto& [h, info] : handles_) portInUse = portInUse || info.port == port;
    auto link = links_.find(port);
    if (!portInUse && link != links_.end()) {
      unused = std::move(link->second);
      links_.erase(link);
    }
  }
  return true;  // `unused` stops its reader thread here, outside the lock
}

bool Service::PortOf(int32_t handle, std::string& port) const {
  std::lock_guard<std::mutex> guard(mu_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;
  port = it->second.port;
  return true;
}

Service::LockResult Service::Lock(int32_t handle, int32_t timeoutMs) {
  std::string port;
  if (!PortOf(handle, port) || port.empty()) return LockResult::kNoHandle;
  SimTable table = LoadTable();
  const SimPort* info = table.Find(port);
  if (info && info->HasFault("busy")) return LockResult::kRefused;
  const auto wait = std::chrono::milliseconds(timeoutMs < 0 ? 0 : std::min(timeoutMs, 60000));
  std::unique_lock<std::mutex> lock(mu_);
  if (info && info->HasFault("lock-timeout")) {
    // Another program holds the port for longer than anyone waits.
    lockFreed_.wait_for(lock, std::min(wait, std::chrono::milliseconds(200)));
    return LockResult::kTimeout;
  }
  const bool free = lockFreed_.wait_for(lock, wait, [&] {
    auto owner = lockOwner_.find(port);
    return owner == lockOwner_.end() || owner->second == handle;
  });
  if (!free) return LockResult::kTimeout;
  lockOwner_[port] = handle;
  return LockResult::kOk;
}

bool Service::Unlock(int32_t handle) {
  std::lock_guard<std::mutex> guard(mu_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;
  auto owner = lockOwner_.find(it->second.port);
  if (owner == lockOwner_.end() || owner->second != handle) return false;
  lockOwner_.erase(owner);
  lockFreed_.notify_all();
  return true;
}

PortLink* Service::LinkFor(const std::string& port) {
  auto it = links_.find(port);
  if (it != links_.end()) return it->second.get();
  SimTable table = LoadTable();
  const SimPort* info = table.Find(port);
  if (!info) return nullptr;
  auto link = std::make_unique<PortLink>(*this, port, info->Get("link"), static_cast<uint32_t>(info->Number("state", 0)),
                                         static_cast<uint32_t>(info->Number("recvmode", 1)));
  PortLink* raw = link.get();
  links_[port] = std::move(link);
  return raw;
}

bool Service::Subscribe(int32_t handle, const Subscription& subscription) {
  std::lock_guard<std::mutex> guard(mu_);
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.port.empty()) return false;
  auto& subs = it->second.subscriptions;
  for (Subscription& s : subs) {
    if (s.id == subscription.id) {
      s = subscription;
      return true;
    }
  }
  subs.push_back(subscription);
  // Events flow from the moment someone listens.
  if (PortLink* link = LinkFor(it->second.port)) {
    if (link->Connect()) link->RequestGreeting();
  }
  return true;
}

bool Service::Unsubscribe(int32_t handle, int32_t id) {
  std::lock_guard<std::mutex> guard(mu_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;
  auto& subs = it->second.subscriptions;
  for (auto s = subs.begin(); s != subs.end(); ++s) {
    if (s->id == id) {
      subs.erase(s);
      return true;
    }
  }
  return false;
}

long Service::Send(int32_t handle, const uint8_t* data, size_t length) {
  PortLink* link = nullptr;
  {
    std::lock_guard<std::mutex> guard(mu_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.port.empty()) return -1;
    link = LinkFor(it->second.port);
  }
  // The link lives as long as the handle; the caller holds the handle.
  return link ? link->Send(data, length) : -1;
}

void Service::Deliver(const std::string& port, const LinkEvent& event) {
  std::vector<Subscription> targets;
  {
    std::lock_guard<std::mutex> guard(mu_);
    for (const auto& [h, info] : handles_) {
      if (info.port != port) continue;
      targets.insert(targets.end(), info.subscriptions.begin(), info.subscriptions.end());
    }
  }
  for (const Subscription& s : targets) dispatch_(s, event);
}

}  // namespace tw::makersw
