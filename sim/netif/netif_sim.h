#pragma once
// A simulated printer network interface: answers the configuration protocol
// (UDP 3289) on a chosen address, keeps settings that the set commands change
// and the queries return, and has fault modes. Optionally listens for the SNMP
// self-test request on a chosen port. Runs on its own threads; every accessor
// is safe to call while it runs.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/udp_socket.h"

namespace tw::sim {

struct NetifConfig {
  std::uint32_t address = 0;        // network order; 127.0.0.x in tests
  std::uint16_t port = 3289;
  bool bindAny = false;             // listen on every address (broadcasts inside a namespace)
  bool reuseAddress = false;        // several simulators on one port
  std::uint16_t snmpPort = 0;       // 0: no SNMP listener
  std::uint8_t mac[6] = {0x00, 0x11, 0x62, 0x0A, 0x0B, 0x0C};
  std::string password = "";
  std::string name = "QX-E04 simulated";
  std::uint16_t model = 0x0400;
  std::uint16_t version = 0x0102;
  bool extended = false;            // extended basic information (result 0xE000)
  bool wireless = false;            // extended form only: byte 55 = 2
  std::uint32_t capabilities = 0x04;
};

struct NetifKey {
  bool present = false;
  std::uint8_t bytes[13] = {};
};

struct NetifSettings {
  std::uint16_t method = 1;
  std::uint8_t ip[4] = {192, 168, 7, 20};
  std::uint8_t mask[4] = {255, 255, 255, 0};
  std::uint8_t gateway[4] = {192, 168, 7, 1};
  std::uint8_t channel = 6;
  std::string ssid = "simnet";
  std::uint8_t mode = 1;
  std::uint8_t encryption = 0;
  std::uint8_t keyIndex = 0;
  std::uint8_t keyLength = 0;
  NetifKey keys[4];
  std::string location = "back office";
  std::string admin = "it desk";
  std::uint8_t dnsNameValue[2] = {1, 2};
  std::string firstName = "printer";
  std::string secondName = "shop.example";
  std::uint8_t dnsServerValue[2] = {3, 4};
  std::vector<std::uint32_t> dnsServers;   // network order
  std::uint8_t rawServerCount = 0;         // nonzero: reported count, whatever the list holds
  std::uint8_t wirelessStatus[50] = {};    // payload of the wireless-status reply
  std::uint8_t autoStatus[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  std::string receiverName = "QX-R receiver";
  std::uint8_t online = 1;
  std::uint32_t bufferSizes[2] = {4096, 65536};
  std::uint8_t connectionAddress[4] = {10, 1, 2, 3};
};

struct NetifFaults {
  bool silent = false;                   // answers nothing
  bool wrongPassword = false;            // every log-in is refused with 0x1000
  std::optional<std::uint32_t> refuseCode;   // this command code gets refuseResult
  std::uint16_t refuseResult = 0x2000;
  std::size_t shortReplies = 0;          // nonzero: every reply cut to this length
  bool otherMac = false;                 // replies carry another MAC address
  bool duplicate = false;                // every reply is sent twice
  bool flood = false;                    // discovery replies without end
  bool strayFirst = false;               // a reply to another command and a scrap first
  int dropFirst = 0;                     // ignore this many requests
  int failLogouts = 0;                   // refuse this many store-and-restart log-outs
};

struct NetifRequest {
  char letter = 0;
  std::uint32_t code = 0;
  std::vector<std::uint8_t> payload;
};

class NetifSimulator {
 public:
  explicit NetifSimulator(const NetifConfig& config);
  ~NetifSimulator();
  NetifSimulator(const NetifSimulator&) = delete;
  NetifSimulator& operator=(const NetifSimulator&) = delete;

  // Binds and starts answering; false with a reason when the socket fails.
  bool Start(std::string* error);
  void Stop();

  NetifSettings Settings() const;
  void SetSettings(const NetifSettings& s);
  void SetFaults(const NetifFaults& f);
  std::string Password() const;

  std::vector<NetifRequest> Requests() const;
  int CountRequests(char letter, std::uint32_t code) const;
  void ClearRequests();
  int Restarts() const;                          // store-and-restart log-outs applied
  std::vector<std::vector<std::uint8_t>> SnmpRequests() const;
  std::size_t FloodSent() const { return floodSent_.load(); }

 private:
  void Serve();
  void ServeSnmp();
  void Handle(const std::uint8_t* data, std::size_t length, const platform::Ipv4Endpoint& from);
  // Both with mutex_ held.
  void Send(const std::vector<std::uint8_t>& datagram, const platform::Ipv4Endpoint& to);
  std::vector<std::uint8_t> BasicInfoReply(char letter) const;

  NetifConfig config_;
  platform::UdpSocket socket_;
  platform::UdpSocket snmpSocket_;
  std::thread thread_;
  std::thread snmpThread_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> floodSent_{0};

  mutable std::mutex mutex_;
  NetifSettings settings_;
  NetifSettings staged_;
  NetifFaults faults_;
  std::string password_;
  bool loggedIn_ = false;
  int restarts_ = 0;
  std::vector<NetifRequest> requests_;
  std::vector<std::vector<std::uint8_t>> snmp_;
  std::optional<platform::Ipv4Endpoint> floodTo_;
};

}  // namespace tw::sim
