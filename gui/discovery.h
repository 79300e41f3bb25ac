#pragma once
// Network printer discovery of the front end: one request to the broadcast
// address 255.255.255.255, UDP port 3289, then every accepted reply until
// 3 seconds pass without a datagram. Runs the network settings client built
// into the front end (netsettings/), not the communication library, so its
// redirections apply: PORTWIRE_NCS_BROADCAST sends the request elsewhere
// (tests: a loopback address) and PORTWIRE_NCS_PORT changes the port.
//
// The client serialises its calls itself, so a discovery may run on a worker
// thread while the window stays responsive.

#include <stop_token>

#include "netsettings/ncs_records.h"

namespace tw::gui {

constexpr int kDiscoveryQuietSeconds = 3;

// The number of interfaces found (0 or more), or the client's negative code:
// -2 no socket or no broadcast option, -4 request not sent whole, -5 waiting
// or receiving failed.
// A stop request on `stop` ends the wait early; what arrived so far counts.
int DiscoverPrinters(std::stop_token stop = {});
// -1 without `summary`; it is cleared; -9 when `index` is not below the
// number found; else the summary of that interface and 0.
int GetDiscoveredDevice(int index, ncs::DiscoverySummary* summary);

}  // namespace tw::gui
