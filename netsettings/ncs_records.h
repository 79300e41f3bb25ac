#pragma once
// Records and result codes of the network settings API.
//
// The records cross the library boundary, so their byte layout is fixed: every
// one is packed and its size checked below. Addresses are IPv4 addresses in
// network byte order (the four bytes of the dotted form in memory order).

#include <cstdint>

namespace tw::ncs {

// Result codes shared by the protocol engine and the exported functions.
enum Result : int {
  kOk = 0,
  kInvalidArgument = -1,     // invalid argument, or a setting refused by our own validation
  kSocketFailed = -2,        // socket creation or SO_BROADCAST failed (last error stored)
  kNoReply = -3,             // no acceptable reply after the maximum number of attempts
  kSendFailed = -4,          // sending failed or sent fewer bytes than asked
  kReceiveFailed = -5,       // waiting or receiving failed
  kBadReply = -6,            // reply too short, or a nonzero result where 0 is required
  kRefused = -7,             // the interface refused a login or wireless command
  kWrongPassword = -8,       // password longer than 16, or the interface reported a wrong one
  kIndexOutOfRange = -9,     // discovered-interface index out of range
  kUnexpected = -255,        // unexpected wireless result, or more than 8 DNS servers in a reply
};

// Short English name of a result code ("ok", "no reply", ...); "unknown" otherwise.
const char* ResultName(int code);

// The version number that the API reports.
constexpr int kApiVersion = 530;

#pragma pack(push, 1)

struct AddressSettings {            // 16 bytes
  std::uint16_t method;             // addressing method, host order (0 from the interface reads 0x8000)
  std::uint8_t ip[4];
  std::uint8_t mask[4];
  std::uint8_t gateway[4];
  std::uint8_t reserved[2];
};

struct WirelessKey {
  std::uint8_t present;             // nonzero: the key is set
  std::uint8_t key[14];
};

struct WirelessSettings {           // 98 bytes
  std::uint8_t channel;             // 1 to 11
  char ssid[32];
  char ssidEnd;                     // always NUL
  std::uint8_t mode;                // communication mode: 0, 1, 4 or 5
  std::uint8_t encryption;          // 0 (none) to 3
  std::uint8_t keyIndex;            // default key index, 0 to 3
  std::uint8_t keyLength;           // 0, 5 or 13
  WirelessKey keys[4];
};

struct WirelessStatus {             // 45 bytes
  std::uint8_t value0;
  std::uint16_t value1;             // host order
  std::uint8_t value3;
  std::uint8_t value4;
  std::uint8_t value5;
  std::uint8_t value6[4];           // as received
  std::uint8_t value10[2];          // as received
  char ssid[32];
  char ssidEnd;
};

struct DnsSettings {                // 354 bytes
  std::uint8_t nameValue[2];        // the two value bytes of the DNS-name reply
  char firstName[64];               // at most 63 characters and a NUL
  char secondName[253];             // at most 252 characters and a NUL
  std::uint8_t serverValue[2];      // the two value bytes of the DNS-server reply
  std::uint8_t serverCount;         // at most 8
  std::uint8_t servers[8][4];
};

struct AsbStatus {                  // 12 bytes: three values as received
  std::uint8_t values[3][4];
};

struct DiscoverySummary {           // 18 bytes
  std::uint8_t mac[6];
  std::uint32_t address;            // network order
  std::uint16_t model;
  std::uint16_t version;            // high byte major, low byte minor
  std::uint32_t wireless;           // 1 for a wireless interface
};

#pragma pack(pop)

static_assert(sizeof(AddressSettings) == 16);
static_assert(sizeof(WirelessSettings) == 98);
static_assert(sizeof(WirelessStatus) == 45);
static_assert(sizeof(DnsSettings) == 354);
static_assert(sizeof(AsbStatus) == 12);
static_assert(sizeof(DiscoverySummary) == 18);

// One accepted discovery reply, kept in the process-wide discovery list.
struct DiscoveryRecord {
  std::uint32_t sender = 0;         // network order
  std::uint16_t result = 0;         // 0 plain, 0xE000 extended form
  std::uint32_t wireless = 0;
  char name[33] = {};
  std::uint32_t value32 = 0;        // payload 32-35
  std::uint16_t model = 0;
  std::uint16_t version = 0;
  std::uint8_t mac[6] = {};
  std::uint32_t value46 = 0;
  std::uint32_t value50 = 0;
  std::uint8_t extended[4] = {};    // payload 54-57, extended form only
  std::uint32_t capabilities = 0;   // payload 58-61, extended form only
};

}  // namespace tw::ncs
