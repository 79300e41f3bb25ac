#pragma once
// Entry points of the maker's driver-path library ("Drvbridge.dll", installed
// with the maker's printer driver; libDrvbridge.so on Linux). It owns the
// physical ports and exposes each as a device named "pipe://KP/<name>". The
// driver-path backend loads it at run time; the simulated component in
// sim/makersw implements the same entry points. No OS headers here.
//
// Every entry point returns 0 on success or one of the library's own codes
// (DrvCode below). Callbacks are called on the library's own threads.

#include <stdint.h>

#include "shared/portwire_call.h"

namespace tw::drvbridge {

// Callback of RegisterCallback: (context, event id, data, data size).
using EventCallback = void(PW_CALL*)(void* context, int32_t eventId, const void* data, uint32_t size);

using OpenFn = int32_t(PW_CALL*)(const char16_t* deviceName, int32_t* outHandle);
using CloseFn = int32_t(PW_CALL*)(int32_t handle);
using LockFn = int32_t(PW_CALL*)(int32_t handle, int32_t timeoutMs);
using UnlockFn = int32_t(PW_CALL*)(int32_t handle);
// (handle, data, length, out written, 0, timeout ms, 0, 0, 0)
using SendReceiveFn = int32_t(PW_CALL*)(int32_t handle, const void* data, uint32_t length, uint32_t* outWritten,
                                        int32_t reserved1, int32_t timeoutMs, int32_t reserved2, int32_t reserved3,
                                        int32_t reserved4);
using IoctlFn = int32_t(PW_CALL*)(int32_t handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                                  uint32_t outputSize, uint32_t* outReturned);
using RegisterCallbackFn = int32_t(PW_CALL*)(int32_t handle, int32_t eventId, EventCallback callback, void* context);
using UnRegisterCallbackFn = int32_t(PW_CALL*)(int32_t handle, int32_t eventId, EventCallback callback,
                                               void* context);

// Codes of the library that callers tell apart.
enum DrvCode : uint32_t {
  kDrvOk = 0,
  kDrvSendNothing = 0x80000005,   // the send moved no byte
  kDrvBufferTooSmall = 0x80000007,
  kDrvSettingsRefused = 0x80010001,
  kDrvLockTimeout = 0x80010002,   // the device is locked by another user
  kDrvDeviceState = 0x80060002,
  kDrvNotWritten = 0x80060003,
  kDrvNoDevice = 0x80020001,      // no such device / handle
  kDrvFailed = 0x80020002,        // any other failure
};

// Ioctl codes.
enum IoctlCode : uint32_t {
  kIoctlReceiveMode = 0x40040002,     // out: 4-byte receive mode
  kIoctlStatusBytes = 0x40050001,     // out: 4 status bytes
  kIoctlDeviceState = 0x40060001,     // out: 4-byte device state
  kIoctlListDevices = 0x40070002,     // in: namespace "KP"; out: multi-string
  kIoctlGetNumber = 0x4007000A,       // in: property name; out: 4-byte number
  kIoctlGetString = 0x4007000B,       // in: property name; out: string
  kIoctlSetNumber = 0x6007000E,       // in: property name, NUL, 4-byte value
  kIoctlSetString = 0x6007000F,       // in: property name, NUL, value characters
  kIoctlResponseAck = 0x60050002,     // in: 1 on, 2 off
  kIoctlResetDevice = 0x60060004,
  kIoctlForcedFlow = 0x60060005,      // in: 2 forced, 1 not forced
  kIoctlDisableOffOffline = 0x60060008,
};

// Event ids of RegisterCallback.
enum EventId : int32_t {
  kEventStatus = 0x50001,       // 4 status bytes
  kEventDeviceState = 0x60001,  // pointer to a 4-byte device state
  kEventData = 0x501FF,         // received bytes
  kEventReceiveMode = 0x40002,  // pointer to a 4-byte receive mode
  kEventReply = 0x60002,        // reply bytes delivered apart from data
};

}  // namespace tw::drvbridge
