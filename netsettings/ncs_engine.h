#pragma once
// The transaction engine of the network settings client and its process-wide
// state: one request at a time, the matching reply recognised by its header.
//
// Redirection (for tests and demos; read once, when the state is first used):
//   PORTWIRE_NCS_BROADCAST=a.b.c.d   destination of every discovery and every
//                                    MAC-addressed request (the requests that may
//                                    go to a broadcast address), whatever the
//                                    caller passed
//   PORTWIRE_NCS_PORT=n              configuration protocol port (3289)
//   PORTWIRE_NCS_SNMP_PORT=n         port of the self-test request (161)
// The same values, and shorter waits for tests, can be set in-process with
// SetOverrides() or SetTestWaits() (ncs_client.h). No variable shortens a wait.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <vector>

#include "netsettings/ncs_records.h"
#include "netsettings/ncs_wire.h"
#include "platform/udp_socket.h"

namespace tw::ncs {

// A responder that never stops answering must not keep a discovery running or
// grow the list without end. Both limits are far above any real network: a
// discovery normally ends after a few seconds with a few dozen interfaces.
constexpr std::size_t kMaxDiscoveryRecords = 4096;
constexpr std::chrono::seconds kMaxDiscoveryDuration{120};
// Datagrams that do not answer the request restart the wait, but one attempt
// never lasts longer than this many times the wait per attempt.
constexpr int kAttemptStretchLimit = 4;

constexpr int kDefaultWaitSeconds = 6;
constexpr int kDefaultAttempts = 2;

struct Overrides {
  std::optional<std::uint32_t> broadcastTarget;
  std::uint16_t port = kConfigPort;
  std::uint16_t snmpPort = kSnmpPort;
  std::optional<std::chrono::milliseconds> attemptWait;
  std::optional<std::chrono::milliseconds> quietPeriod;
  std::chrono::milliseconds restartWait{5000};
  std::size_t maxDiscoveryRecords = kMaxDiscoveryRecords;
  std::chrono::milliseconds maxDiscoveryDuration = kMaxDiscoveryDuration;
};

// The state every request shares. Guarded by Lock(): the public functions of
// ncs_client.h hold it for their whole run.
struct ClientState {
  std::array<std::uint8_t, kBufferSize> send{};
  std::array<std::uint8_t, kBufferSize> receive{};
  int maxWaitSeconds = kDefaultWaitSeconds;
  int maxAttempts = kDefaultAttempts;
  int lastError = 0;
  std::uint16_t lastResult = 0;
  std::uint8_t savedMac[6] = {};
  bool wireless = false;
  std::vector<DiscoveryRecord> discovered;
  Overrides overrides;
};

ClientState& State();
std::recursive_mutex& Lock();

// Replaces the redirections and waits (tests); GetOverrides reads them.
void SetOverrides(const Overrides& o);
Overrides GetOverrides();
// Back to the values at start (6 s, 2 attempts, empty list, no error) and the
// redirections of the environment.
void ResetState();

// The destination of a request that may go to a broadcast address: the
// redirection target when one is set, else `given`.
std::uint32_t BroadcastDestination(std::uint32_t given);

// Sends the request in the send buffer and waits for its reply. With a MAC
// filter the letter "Q" becomes "P" and "S" becomes "I", and only replies that
// carry the MAC at `filterOffset` (datagram offset) are accepted. Reply length
// (14 or more) with the reply in the receive buffer, or a negative code.
int Transact(platform::UdpSocket& s, std::uint32_t destination, std::size_t length,
             const std::uint8_t* macFilter, int filterOffset);
// Sends the datagram in the send buffer to the SNMP port; the first datagram
// received is the reply. Reply length or a negative code.
int TransactSnmp(platform::UdpSocket& s, std::uint32_t destination, std::size_t length);
// Discovery: one request, then every accepted reply goes to the discovery list
// until `seconds` (0: 5) pass without a datagram, or until `stop` is asked
// to stop. 0 or a negative code.
int CollectReplies(platform::UdpSocket& s, std::uint32_t destination, int seconds, std::stop_token stop = {});
// The same over several sockets (one per network interface): the request goes
// out on each, -4 only when it went out on none; the replies of all are
// collected until `seconds` pass without a datagram on any of them.
int CollectReplies(std::span<platform::UdpSocket* const> sockets, std::uint32_t destination, int seconds,
                   std::stop_token stop = {});

// Whether a discovery to `destination` is sent on every interface: for the
// limited broadcast 255.255.255.255, which leaves through a single interface
// from an unbound socket, and only while no redirection target is set (a
// redirected discovery keeps its one socket and its one destination).
bool DiscoversOnEveryInterface(std::uint32_t destination);
// Sockets with SO_BROADCAST, one tied to each interface of
// platform::BroadcastInterfaces(). Interfaces whose socket cannot be made
// are left out (the last error stored); empty when none is left.
std::vector<platform::UdpSocket> OpenInterfaceSockets();

// Opens the socket of one exported call, with SO_BROADCAST when asked. On
// failure the last error is stored and false returned.
bool OpenSocket(platform::UdpSocket& out, bool broadcast);
// Closes it; a failure only updates the last error.
void CloseSocket(platform::UdpSocket& s);

}  // namespace tw::ncs
