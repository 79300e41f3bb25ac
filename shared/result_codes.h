#pragma once
// Result codes of the communication library. Their names and values are
// defined once, in the public header include/portwire.h (PW_...); the library,
// the console program and its test double use them from there. Every export,
// the port manager and the backends speak only these values; components that
// the backends call have their own codes, which each backend translates into
// this set.

#include <cstdint>

#include "include/portwire.h"

namespace tw::portwire {

using Result = int32_t;

inline constexpr Result kResultOk = PW_OK;
// Failure without a more specific code: unsupported operation or port type,
// zero-length write, nothing selected at close, missing component library.
inline constexpr Result kResultFailed = PW_FAILED;
// No port open (or, where an operation says so, no backend selected).
inline constexpr Result kResultNotOpen = PW_NOT_OPEN;
// A port is already open: a new record or a second open is refused.
inline constexpr Result kResultAlreadyOpen = PW_ALREADY_OPEN;
// The printer did not answer in time.
inline constexpr Result kResultTimeout = PW_TIMEOUT;
// An output buffer is missing, or a reply is larger than the caller's buffer.
inline constexpr Result kResultBufferTooSmall = PW_BUFFER_TOO_SMALL;
// Data still held by the port service.
inline constexpr Result kResultDataPending = PW_DATA_PENDING;
// Device state reported by the driver software.
inline constexpr Result kResultDeviceState = PW_DEVICE_STATE;
// A write moved no byte.
inline constexpr Result kResultNothingWritten = PW_NOTHING_WRITTEN;
// Settings could not be applied, or differ from the device's.
inline constexpr Result kResultSettingsMismatch = PW_SETTINGS_MISMATCH;
// Passed on from the port service.
inline constexpr Result kResultServiceError = PW_SERVICE_ERROR;
// The printer cannot be linked: in use by another program, or the link failed.
inline constexpr Result kResultCannotLink = PW_CANNOT_LINK;
// Invalid argument.
inline constexpr Result kResultInvalidArgument = PW_INVALID_ARGUMENT;
// No response arrived within the time-out (port service).
inline constexpr Result kResultNoResponse = PW_NO_RESPONSE;

// Short English name of a result code ("ok", "not open", ...); "unknown" for
// values outside the set above. Never null.
const char* ResultName(Result code);

}  // namespace tw::portwire
