#pragma once
// The port-access library "lnkioapi.dll" (liblnkioapi.so on Linux): one link to
// one printer at a time, opened from a LinkOpenBlock (link_open_block.h).
// C linkage, default calling convention, int32 results. Programs load it by file
// name at run time; nothing links to it. No OS headers here.
//
// Result codes of Open and Write:
//   1      linked / all bytes taken
//   1000   time-out: the printer did not answer (connect) or did not take the
//          bytes (write) within the block's link timeout
//   < 0    failure, see LnkioError
//
// Read codes (LNKIO_Read returns at once, one whole printer packet per call):
//   0      nothing received (also when no link is open or it has dropped)
//   1      data: a reply or other received bytes
//   2      automatic status: exactly 4 bytes, first byte 0xx1xx00b and the
//          others 0xx0xxxxb; bit 3 of the first byte set means offline
//   3      a 4- or 5-byte packet that may be a status or battery report
//          (35 or 39 with two 0x40-flagged bytes and 00; 37 45 d d 00)
//
// How received bytes are cut into packets: the library knows the shape of the
// printer's packets and returns a packet as soon as it is complete:
//   - automatic status (4 bytes, pattern above);
//   - 35/39 real-time reports (4 bytes);
//   - replies that begin with 37, 5F ("_") or 31 ("1") and end with a zero byte.
// A packet of such a shape that is still incomplete is held up to
// kLnkioPartialPacketMs after its last byte, then returned as it is. Bytes of
// any other shape are collected until the line has been quiet for the quiet gap
// (kLnkioQuietGapMs, on slow serial lines at least three character times) and
// returned as one block of data; a whole automatic status packet that follows
// them ends the block at once and is returned on its own. A packet larger than the caller's buffer is
// returned in buffer-sized pieces, in order.

#include <stdint.h>

#if defined(_WIN32)
#define LNKIO_EXPORT
#else
#define LNKIO_EXPORT __attribute__((visibility("default")))
#endif

enum LnkioResult {
  kLnkioOk = 1,
  kLnkioTimeout = 1000,
  kLnkioErrParameter = -1,     // null pointer, bad block, bad length
  kLnkioErrNotOpen = -2,       // no link is open, or it has dropped
  kLnkioErrNoDevice = -3,      // the port or device does not exist / cannot be opened
  kLnkioErrRefused = -4,       // the network printer refused the connection
  kLnkioErrIo = -5,            // the operating system reported a transfer error
  kLnkioErrUnsupported = -6,   // this link kind or function is not available here
};

enum LnkioReadCode {
  kLnkioReadNothing = 0,
  kLnkioReadData = 1,
  kLnkioReadStatus = 2,
  kLnkioReadStatusOrBattery = 3,
};

// Quiet gap that ends a block of bytes of unknown shape.
#define kLnkioQuietGapMs 5
// Longest wait for the rest of a packet of known shape.
#define kLnkioPartialPacketMs 500

#ifdef __cplusplus
extern "C" {
#endif

// Opens the link described by the 64-byte block (closing any link open before).
// Kind -1 does nothing and returns 1.
LNKIO_EXPORT int32_t LNKIO_Open(const void* block);
// Sends `length` bytes; blocks until all are taken or the link timeout passes
// (1000). *written is always set to the number of bytes taken.
LNKIO_EXPORT int32_t LNKIO_Write(const void* data, int32_t length, int32_t* written);
// Returns at once with a read code; *length is the packet's length (0 for none).
LNKIO_EXPORT int32_t LNKIO_Read(void* buffer, int32_t size, int32_t* length);
LNKIO_EXPORT int32_t LNKIO_Close(void);
// 1: ignore the printer's flow control, 0: obey it. 1 when accepted.
LNKIO_EXPORT int32_t LNKIO_SetNoFlow(uint8_t noFlow);
// Nonzero while the link is open and has not dropped.
LNKIO_EXPORT int32_t LNKIO_GetIsOpen(void);
// Nonzero while the link is open and the last automatic status (if any) said online.
LNKIO_EXPORT int32_t LNKIO_GetIsOnLine(void);
LNKIO_EXPORT int32_t LNKIO_Terminate(void);
// Blocks until a read would deliver something or the link is closed or dropped
// (1), or timeoutMs passes (0). LNKIO_Close on another thread wakes it at once.
// A caller that sees LNKIO_GetIsOpen() == 0 must not keep waiting on it in a
// loop: it returns 1 at once while no link is open.
LNKIO_EXPORT int32_t LNKIO_WaitReadable(int32_t timeoutMs);

// Optional, like LNKIO_WaitReadable: why the last LNKIO_Open failed, so that a
// program can tell its user. *osError (when not null) gets the system's error
// number (errno on Linux, GetLastError or WSAGetLastError on Windows; 0 when
// no system call failed, e.g. no such port number); `device` (when not null)
// the device or address that was tried, UTF-8, cut to deviceSize - 1 bytes and
// NUL-terminated. Returns the code LNKIO_Open returned, kLnkioOk when the last
// Open succeeded or none failed yet.
LNKIO_EXPORT int32_t LNKIO_GetOpenError(int32_t* osError, char* device, int32_t deviceSize);

// Firmware functions: present for callers that resolve every name; not
// supported, they return kLnkioErrUnsupported.
LNKIO_EXPORT int32_t FirmwareCompare(void);
LNKIO_EXPORT int32_t FirmwareUpdate(void);
LNKIO_EXPORT int32_t RegisteredCallbackProgress(void);
LNKIO_EXPORT int32_t GetFirmware(void);
LNKIO_EXPORT int32_t FirmwareUpload(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <cstddef>

namespace tw::lnkio {
// Entry-point types for callers that load the library by name: the
// declarations above are their one source.
using OpenFn = decltype(&::LNKIO_Open);
using WriteFn = decltype(&::LNKIO_Write);
using ReadFn = decltype(&::LNKIO_Read);
using VoidFn = decltype(&::LNKIO_Close);
using SetNoFlowFn = decltype(&::LNKIO_SetNoFlow);
using WaitReadableFn = decltype(&::LNKIO_WaitReadable);
using GetOpenErrorFn = decltype(&::LNKIO_GetOpenError);

// A battery report: 37 45 d d 00, the first digit 0 or 1, the second 0 to 6.
inline bool IsBatteryReport(const uint8_t* p, std::size_t length) {
  return p != nullptr && length == 5 && p[0] == 0x37 && p[1] == 0x45 && (p[2] == '0' || p[2] == '1') &&
         p[3] >= '0' && p[3] <= '6' && p[4] == 0x00;
}
}  // namespace tw::lnkio
#endif
