#pragma once
// PORTWIRE_TRACE=<file>: when the variable is set, the library appends to that
// file one line per call of a KPC_ export and one per block sent to or
// received from the printer, for integrators to look at when something fails
// in the field:
//
//   2026-12-07T13:45:32.123Z 127.0.0.5 KPC_Open = 0x00000000 ok
//   2026-12-07T13:45:32.124Z 127.0.0.5 send 10 14 12 00 00
//   2026-12-07T13:45:32.125Z 127.0.0.5 recv 37 4D 30 24 53 34 31 30 00
//
// (UTC time, the current record's port name or "-", then the export with its
// result code and name, or the direction and the bytes in hex.)
//
// The variable is read once, at the first traced event; without it nothing is
// formatted or written, and every trace point costs one test of a flag. A file
// that cannot be opened turns tracing off.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "shared/result_codes.h"

namespace tw::portwire::trace {

// True when PORTWIRE_TRACE named a file that could be opened.
bool Enabled();

// Appends a line (no-ops when tracing is off; callers test Enabled() first
// only to save building the port text).
void Call(std::string_view function, std::u16string_view port, Result result);
void Block(std::u16string_view port, bool sent, const uint8_t* bytes, size_t length);
// Any other event worth a line, e.g. "dropped ..." when a receive queue was
// full: the text follows the port name.
void Note(std::u16string_view port, std::string_view text);

// Closes the file; called at unload once no library thread runs any more.
void Shutdown();

}  // namespace tw::portwire::trace
