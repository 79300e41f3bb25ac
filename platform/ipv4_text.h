#pragma once
// The one parser of IPv4 addresses written as text, used wherever a program
// or the library takes an address from a user, a record or the environment.

#include <string_view>

namespace tw::platform {

// Strict dotted quad: four decimal parts 0..255 of one to three digits,
// nothing else (no spaces, signs or empty parts). A part above 255 is refused
// rather than truncated, so a typing slip never reaches another host. `bytes`
// receives the parts in text order; it is unchanged when false is returned.
bool ParseDottedIpv4(std::string_view text, unsigned char bytes[4]);

}  // namespace tw::platform
