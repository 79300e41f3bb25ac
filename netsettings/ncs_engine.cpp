#include "netsettings/ncs_engine.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "netsettings/ncs_client.h"
#include "platform/process.h"

namespace tw::ncs {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

std::optional<long long> EnvNumber(const char* name) {
  const auto text = platform::GetEnv(name);
  if (!text || text->empty()) return std::nullopt;
  long long v = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
  if (ec != std::errc() || end != text->data() + text->size() || v < 0) return std::nullopt;
  return v;
}

Overrides OverridesFromEnvironment() {
  Overrides o;
  if (const auto target = platform::GetEnv("PORTWIRE_NCS_BROADCAST")) {
    std::uint32_t a = 0;
    if (platform::ParseIpv4(target->c_str(), a)) o.broadcastTarget = a;
  }
  if (const auto v = EnvNumber("PORTWIRE_NCS_PORT"); v && *v > 0 && *v < 65536) {
    o.port = static_cast<std::uint16_t>(*v);
  }
  if (const auto v = EnvNumber("PORTWIRE_NCS_SNMP_PORT"); v && *v > 0 && *v < 65536) {
    o.snmpPort = static_cast<std::uint16_t>(*v);
  }
  // The waits are the protocol's: no variable shortens them in a shipped
  // program (tests use SetTestWaits, see ncs_client.h).
  return o;
}

// The wait of one attempt; absurd settings are bounded to a day.
microseconds AttemptWait(const ClientState& st) {
  if (st.overrides.attemptWait) return *st.overrides.attemptWait;
  const long long seconds = std::clamp(st.maxWaitSeconds, 0, 86400);
  return std::chrono::seconds(seconds);
}

// Sends the first `length` bytes of the send buffer: 0 or -4.
int SendRequest(ClientState& st, platform::UdpSocket& s, std::size_t length, const platform::Ipv4Endpoint& to) {
  const int sent = s.SendTo(st.send.data(), length, to);
  if (sent < 0) {
    st.lastError = s.LastError();
    return kSendFailed;
  }
  return static_cast<std::size_t>(sent) == length ? kOk : kSendFailed;
}

}  // namespace

ClientState& State() {
  static ClientState state = [] {
    ClientState s;
    s.overrides = OverridesFromEnvironment();
    return s;
  }();
  return state;
}

std::recursive_mutex& Lock() {
  static std::recursive_mutex lock;
  return lock;
}

void SetOverrides(const Overrides& o) {
  std::lock_guard guard(Lock());
  State().overrides = o;
}

void SetTestWaits(const TestWaits& w) {
  std::lock_guard guard(Lock());
  Overrides& o = State().overrides;
  if (w.attempt && w.attempt->count() > 0) o.attemptWait = *w.attempt;
  if (w.quiet && w.quiet->count() > 0) o.quietPeriod = *w.quiet;
  if (w.restart && w.restart->count() >= 0) o.restartWait = *w.restart;
}

Overrides GetOverrides() {
  std::lock_guard guard(Lock());
  return State().overrides;
}

void ResetState() {
  std::lock_guard guard(Lock());
  ClientState& st = State();
  st.maxWaitSeconds = kDefaultWaitSeconds;
  st.maxAttempts = kDefaultAttempts;
  st.lastError = 0;
  st.lastResult = 0;
  std::fill(std::begin(st.savedMac), std::end(st.savedMac), 0);
  st.wireless = false;
  st.discovered.clear();
  st.overrides = OverridesFromEnvironment();
}

std::uint32_t BroadcastDestination(std::uint32_t given) {
  const ClientState& st = State();
  return st.overrides.broadcastTarget ? *st.overrides.broadcastTarget : given;
}

int Transact(platform::UdpSocket& s, std::uint32_t destination, std::size_t length,
             const std::uint8_t* macFilter, int filterOffset) {
  ClientState& st = State();
  if (length < kHeaderSize || length > kBufferSize) return kInvalidArgument;
  if (macFilter) {
    if (st.send[5] == 'Q') st.send[5] = 'P';
    else if (st.send[5] == 'S') st.send[5] = 'I';
  }
  const platform::Ipv4Endpoint to{destination, st.overrides.port};
  const microseconds wait = AttemptWait(st);
  int attempts = 0;
  for (;;) {
    if (const int rc = SendRequest(st, s, length, to); rc != kOk) return rc;
    const auto attemptEnd = Clock::now() + wait * kAttemptStretchLimit;
    for (;;) {
      // Every ignored datagram restarts the full wait, up to the attempt's end.
      const auto now = Clock::now();
      const auto limit = std::min<microseconds>(wait, std::chrono::duration_cast<microseconds>(attemptEnd - now));
      const platform::WaitResult w =
          limit.count() > 0 ? s.WaitReadable(limit) : platform::WaitResult::kTimeout;
      if (w == platform::WaitResult::kError) {
        st.lastError = s.LastError();
        return kReceiveFailed;
      }
      if (w == platform::WaitResult::kTimeout) break;
      platform::Ipv4Endpoint from;
      const int n = s.ReceiveFrom(st.receive.data(), st.receive.size(), &from);
      if (n < 0) {
        st.lastError = s.LastError();
        return kReceiveFailed;
      }
      if (!AcceptsReply(st.send.data(), st.receive.data(), static_cast<std::size_t>(n), macFilter, filterOffset)) {
        continue;
      }
      st.lastResult = Reply(st.receive.data(), static_cast<std::size_t>(n)).ResultCode();
      return n;
    }
    if (++attempts >= st.maxAttempts) return kNoReply;
  }
}

int TransactSnmp(platform::UdpSocket& s, std::uint32_t destination, std::size_t length) {
  ClientState& st = State();
  if (length == 0 || length > kBufferSize) return kInvalidArgument;
  const platform::Ipv4Endpoint to{destination, st.overrides.snmpPort};
  const microseconds wait = AttemptWait(st);
  int attempts = 0;
  for (;;) {
    if (const int rc = SendRequest(st, s, length, to); rc != kOk) return rc;
    const platform::WaitResult w = s.WaitReadable(wait);
    if (w == platform::WaitResult::kError) {
      st.lastError = s.LastError();
      return kReceiveFailed;
    }
    if (w == platform::WaitResult::kReadable) {
      platform::Ipv4Endpoint from;
      const int n = s.ReceiveFrom(st.receive.data(), st.receive.size(), &from);
      if (n < 0) {
        st.lastError = s.LastError();
        return kReceiveFailed;
      }
      return n;
    }
    if (++attempts >= st.maxAttempts) return kNoReply;
  }
}

namespace {

// Waits as WaitAnyReadable does, but in slices when a stop can be asked for,
// so a stop request ends the wait within one slice (reported as a time-out).
platform::WaitResult WaitAnyReadableUnlessStopped(std::span<platform::UdpSocket* const> sockets, microseconds limit,
                                                  const std::stop_token& stop, std::size_t* ready, int* error) {
  if (!stop.stop_possible()) return platform::UdpSocket::WaitAnyReadable(sockets, limit, ready, error);
  constexpr microseconds kSlice = std::chrono::milliseconds(100);
  const auto end = Clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<microseconds>(end - Clock::now());
    if (left.count() <= 0 || stop.stop_requested()) return platform::WaitResult::kTimeout;
    const platform::WaitResult w = platform::UdpSocket::WaitAnyReadable(sockets, std::min(left, kSlice), ready, error);
    if (w != platform::WaitResult::kTimeout) return w;
  }
}

}  // namespace

int CollectReplies(platform::UdpSocket& s, std::uint32_t destination, int seconds, std::stop_token stop) {
  platform::UdpSocket* const one[] = {&s};
  return CollectReplies(one, destination, seconds, std::move(stop));
}

int CollectReplies(std::span<platform::UdpSocket* const> sockets, std::uint32_t destination, int seconds,
                   std::stop_token stop) {
  ClientState& st = State();
  if (sockets.empty()) return kSocketFailed;
  const std::size_t length = BuildRequest(st.send.data(), 'P', cmd::kBasicInfo, nullptr, 0);
  const platform::Ipv4Endpoint to{BroadcastDestination(destination), st.overrides.port};
  // The request goes out on every socket; an interface that cannot send
  // (cable pulled, address gone) does not keep the others from being asked.
  int sentRc = kSendFailed;
  for (platform::UdpSocket* s : sockets) {
    if (SendRequest(st, *s, length, to) == kOk) sentRc = kOk;
  }
  if (sentRc != kOk) return sentRc;

  microseconds quiet = std::chrono::seconds(seconds == 0 ? 5 : std::clamp(seconds, 0, 86400));
  if (st.overrides.quietPeriod) quiet = *st.overrides.quietPeriod;
  const auto end = Clock::now() + st.overrides.maxDiscoveryDuration;
  for (;;) {
    if (stop.stop_requested()) return kOk;  // what arrived so far stands
    if (st.discovered.size() >= st.overrides.maxDiscoveryRecords) return kOk;
    const auto left = std::chrono::duration_cast<microseconds>(end - Clock::now());
    if (left.count() <= 0) return kOk;
    std::size_t ready = 0;
    int waitError = 0;
    const platform::WaitResult w =
        WaitAnyReadableUnlessStopped(sockets, std::min(quiet, left), stop, &ready, &waitError);
    if (w == platform::WaitResult::kTimeout) {
      if (quiet <= left) return kOk;   // a quiet period: the collection is complete
      continue;                        // the overall limit: checked at the top
    }
    if (w == platform::WaitResult::kError) {
      st.lastError = waitError;
      return kReceiveFailed;
    }
    platform::UdpSocket& s = *sockets[ready];
    platform::Ipv4Endpoint from;
    const int n = s.ReceiveFrom(st.receive.data(), st.receive.size(), &from);
    if (n < 0) {
      st.lastError = s.LastError();
      return kReceiveFailed;
    }
    const auto len = static_cast<std::size_t>(n);
    if (!AcceptsReply(st.send.data(), st.receive.data(), len, nullptr, -1)) continue;
    const Reply reply(st.receive.data(), len);
    st.lastResult = reply.ResultCode();
    if (auto rec = ReadDiscoveryReply(reply, from.address)) st.discovered.push_back(*rec);
  }
}

bool DiscoversOnEveryInterface(std::uint32_t destination) {
  return destination == 0xFFFFFFFFu && !State().overrides.broadcastTarget;
}

std::vector<platform::UdpSocket> OpenInterfaceSockets() {
  std::vector<platform::UdpSocket> out;
  for (const platform::NetInterface& iface : platform::BroadcastInterfaces()) {
    platform::UdpSocket s;
    if (!OpenSocket(s, true)) continue;
    if (!s.BindToInterface(iface)) {
      State().lastError = s.LastError();
      CloseSocket(s);
      continue;
    }
    out.push_back(std::move(s));
  }
  return out;
}

bool OpenSocket(platform::UdpSocket& out, bool broadcast) {
  ClientState& st = State();
  int error = 0;
  out = platform::UdpSocket::Open(&error);
  if (!out.IsOpen()) {
    st.lastError = error;
    return false;
  }
  if (broadcast && !out.SetBroadcast(true)) {
    st.lastError = out.LastError();
    out.Close();
    return false;
  }
  return true;
}

void CloseSocket(platform::UdpSocket& s) {
  if (!s.Close()) State().lastError = s.LastError();
}

}  // namespace tw::ncs
