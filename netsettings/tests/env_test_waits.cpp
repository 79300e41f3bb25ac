// Linked only into the test build of the communication library
// (bin/test-waits/), which tests load as an outside client: there is no other
// way to reach the client's test seam through the exports. When the library is
// loaded, these variables shorten the waits:
//   PORTWIRE_NCS_WAIT_MS=n          wait per attempt in milliseconds
//   PORTWIRE_NCS_QUIET_MS=n         quiet period that ends a discovery
//   PORTWIRE_NCS_RESTART_WAIT_MS=n  pause after settings that restart the interface
// The shipped library does not contain this file and ignores them.

#include <charconv>
#include <optional>
#include <string>

#include "netsettings/ncs_client.h"
#include "platform/process.h"

namespace {

std::optional<std::chrono::milliseconds> EnvMilliseconds(const char* name) {
  const auto text = tw::platform::GetEnv(name);
  if (!text || text->empty()) return std::nullopt;
  long long v = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
  if (ec != std::errc() || end != text->data() + text->size() || v < 0) return std::nullopt;
  return std::chrono::milliseconds(v);
}

[[maybe_unused]] const bool kApplied = [] {
  tw::ncs::TestWaits w;
  w.attempt = EnvMilliseconds("PORTWIRE_NCS_WAIT_MS");
  w.quiet = EnvMilliseconds("PORTWIRE_NCS_QUIET_MS");
  w.restart = EnvMilliseconds("PORTWIRE_NCS_RESTART_WAIT_MS");
  tw::ncs::SetTestWaits(w);
  return true;
}();

}  // namespace
