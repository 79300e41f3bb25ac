#pragma once
// Result codes of the communication library. Every export, the port manager and
// the backends speak only these values; components that the backends call have
// their own codes, which each backend translates into this set.

#include <cstdint>

namespace tw::portwire {

using Result = int32_t;

inline constexpr Result kResultOk = 0;
// Failure without a more specific code: unsupported operation or port type,
// zero-length write, nothing selected at close, missing component library.
inline constexpr Result kResultFailed = static_cast<Result>(0x80000000u);
// No port open (or, where an operation says so, no backend selected).
inline constexpr Result kResultNotOpen = static_cast<Result>(0x80000001u);
// A port is already open: a new record or a second open is refused.
inline constexpr Result kResultAlreadyOpen = static_cast<Result>(0x80000002u);
// The printer did not answer in time.
inline constexpr Result kResultTimeout = static_cast<Result>(0x80000003u);
// An output buffer is missing, or a reply is larger than the caller's buffer.
inline constexpr Result kResultBufferTooSmall = static_cast<Result>(0x80000004u);
// Data still held by the port service.
inline constexpr Result kResultDataPending = static_cast<Result>(0x80000005u);
// Device state reported by the driver software.
inline constexpr Result kResultDeviceState = static_cast<Result>(0x80000006u);
// A write moved no byte.
inline constexpr Result kResultNothingWritten = static_cast<Result>(0x80000007u);
// Settings could not be applied, or differ from the device's.
inline constexpr Result kResultSettingsMismatch = static_cast<Result>(0x80000008u);
// Passed on from the port service.
inline constexpr Result kResultServiceError = static_cast<Result>(0x80000009u);
// The printer cannot be linked: in use by another program, or the link failed.
inline constexpr Result kResultCannotLink = static_cast<Result>(0x8000000Bu);
// Invalid argument.
inline constexpr Result kResultInvalidArgument = static_cast<Result>(0x8000000Cu);
// No response arrived within the time-out (port service).
inline constexpr Result kResultNoResponse = static_cast<Result>(0x8000000Du);

// Short English name of a result code ("ok", "not open", ...); "unknown" for
// values outside the set above. Never null.
const char* ResultName(Result code);

}  // namespace tw::portwire
