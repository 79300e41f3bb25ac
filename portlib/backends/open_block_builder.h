#pragma once
// Fills the LinkOpenBlock that the port-access library opens a link from, out
// of a port settings record. Pure: no library, no locks, so every port type
// can be checked on its own.
//
// Port types are compared case-sensitively: "COM", "LPT", "USB", "NET", "BT".
// Fields that a port type does not use keep the values they had (the block
// lives as long as the backend and is built again for every open). On a
// rejected record the block is left exactly as it was.

#include <cstdint>
#include <string_view>

#include "lnkio/link_open_block.h"
#include "shared/port_settings.h"

namespace tw::portwire {

// Link timeout written into every block the backend builds.
inline constexpr int32_t kOpenBlockLinkTimeoutMs = lnkio::kDefaultLinkTimeoutMs;

// Updates `block` for `settings`; false (block unchanged) when the port name
// does not fit the port type (COM or BT number outside 1..32, LPT outside 1..9,
// a network address that is not four dotted decimal parts of 0..255) or when
// the port type is none of the five.
bool BuildOpenBlock(const PortSettings& settings, lnkio::LinkOpenBlock& block);

// The decimal number at the start of `text`: its leading digits count, text
// without leading digits gives 0. Saturates instead of overflowing.
int64_t LeadingDecimal(std::u16string_view text);

// Speed code 0..7 of a baud rate; -1 for a rate outside the table.
int32_t SpeedCodeOfBaud(int32_t baud);

}  // namespace tw::portwire
