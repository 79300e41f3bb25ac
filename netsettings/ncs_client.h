#pragma once
// The network settings client: read and change the settings of a printer's
// network interface, send its control commands, and discover interfaces.
//
// Each function is self-contained: it opens its own UDP socket, runs its
// exchanges and closes the socket. Calls are serialised by a process-wide lock
// (the client shares one state; see ncs_engine.h). Results are the codes of
// ncs_records.h. Addresses are IPv4 addresses in network byte order; a MAC is 6
// bytes; passwords are NUL-terminated, at most 16 characters, null = empty.
// The communication library exports these functions with the NCS prefix; the
// front end builds them in for its discovery.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

#include "netsettings/ncs_records.h"

namespace tw::ncs {

int WinsockStartup();
int WinsockCleanup();
int Version();
int LastError();

int MaxTimeout();
// 0 stores 6; returns the stored value.
int SetMaxTimeout(int seconds);
int MaxRetry();
// 0 stores 2; returns the stored value.
int SetMaxRetry(int count);

int GetNICInfo(std::uint32_t address, DiscoverySummary* out);
int GetSettingsByIP(std::uint32_t address, AddressSettings* address_out, WirelessSettings* wireless_out);
int GetSettingsByMAC(const std::uint8_t* mac, std::uint32_t destination, AddressSettings* address_out,
                     WirelessSettings* wireless_out);
int SetSettingsByIP(std::uint32_t address, const AddressSettings* settings, const WirelessSettings* wireless,
                    const char* password);
int SetSettingsByMAC(const std::uint8_t* mac, std::uint32_t destination, const AddressSettings* settings,
                     const WirelessSettings* wireless, const char* password);
int GetWiFiStatus(std::uint32_t address, WirelessStatus* out);
int GetLocation(std::uint32_t address, char* buffer256);
int GetAdmin(std::uint32_t address, char* buffer256);
int SetLocation(std::uint32_t address, const char* text, const char* password);
int SetAdmin(std::uint32_t address, const char* text, const char* password);
int GetDNS(std::uint32_t address, DnsSettings* out);
int SetDNS(std::uint32_t address, const DnsSettings* settings, const char* password);
int ChangePassword(std::uint32_t address, const char* current, const char* next);
int SelfTest(std::uint32_t address, int value);
int GetASB(std::uint32_t address, AsbStatus* out);
int GetRxName(std::uint32_t address, char* buffer32);
int GetOnline(std::uint32_t address);
int GetBufferSize(std::uint32_t address, std::uint32_t* first, std::uint32_t* second);
int GetConnectionIP(std::uint32_t address, std::uint32_t* out);
int Reset(std::uint32_t address);
int ClearBuffer(std::uint32_t address);
int ClearTimeout(std::uint32_t address);
int ForceSend(std::uint32_t address, int value);

// Discovery: empties the list, sends one request to `broadcast` and lists the
// interfaces that answer until `seconds` (0: 5) pass without a reply. The
// number of interfaces listed, or a negative code. A stop request on `stop`
// ends the wait within a tenth of a second, keeping what arrived so far.
int ListUp(std::uint32_t broadcast, int seconds, std::stop_token stop = {});
int GetNIC(int index, DiscoverySummary* out);
// A copy of the discovery list of the last ListUp.
std::vector<DiscoveryRecord> DiscoveredRecords();

// Test seam: shorter waits for tests against simulated interfaces, which
// answer at once. The protocol's waits (the maximum wait in seconds per
// attempt, the caller's quiet period of a discovery, 5 s after settings that
// restart the interface) hold in every shipped program: nothing but a call of
// this function changes them, and no environment variable does. A field left
// empty keeps its current value; attempt and quiet must be positive, restart
// may be 0 (no pause). Applies to every later call of this process.
struct TestWaits {
  std::optional<std::chrono::milliseconds> attempt;   // wait per attempt
  std::optional<std::chrono::milliseconds> quiet;     // quiet period that ends a discovery
  std::optional<std::chrono::milliseconds> restart;   // pause after a restart of the interface
};
void SetTestWaits(const TestWaits& waits);

}  // namespace tw::ncs
