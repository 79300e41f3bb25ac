#pragma once
// The console program's view of the communication library.

#include <cstdint>
#include <string>
#include <vector>

#include "console/open_failure.h"
#include "shared/port_settings.h"

namespace tw::console {

using ByteArray = std::vector<uint8_t>;

// Results: 0 success; Open 2 on failure; Read/Write 3 on failure; 4 (Open,
// Close, Read) or -1 (Write) when the library is not loaded; Close 0x7FFFFFFF
// when the library refused to close.
class IPortwire {
 public:
  virtual ~IPortwire() = default;
  virtual int32_t Open(const PortSettings* settings) = 0;
  virtual int32_t Close() = 0;
  // Replaces `reply` with one block of at most 256 received bytes.
  virtual int32_t Read(ByteArray& reply, int32_t timeoutMs) = 0;
  virtual int32_t Write(const uint8_t* data, uint32_t count, uint32_t* written, int32_t timeoutMs) = 0;
};

// The library binding as the program flow sees it: loading, and the release of
// the port at the end of a run.
class IPortwireLibrary : public IPortwire {
 public:
  virtual bool Load() = 0;
  virtual bool IsLoaded() const = 0;
  // Releases flow control and closes the port; results are not used.
  virtual void ReleasePort() = 0;
  // One line (no line end) saying why the last Load or Open failed.
  virtual std::string WhyNotOpened(const PortSettings& settings) = 0;
  // The same line when the port opened but its device could not be reached
  // (a USB port opens while its printer cannot be linked); empty when the
  // device was linked or nothing is known.
  virtual std::string WhyNotLinked(const PortSettings& settings) = 0;
};

}  // namespace tw::console
