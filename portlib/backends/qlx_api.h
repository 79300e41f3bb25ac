#pragma once
// Entry points of the maker's port communication service: the service library
// "QLXIF.DLL" (open, lock, send, properties, callbacks) and the configuration
// library "QLXConfig.DLL" (port list, port configuration, per-port custom
// values); libQLXIF.so and libQLXConfig.so on Linux. The port-service backend
// loads them at run time; the simulated components in sim/makersw implement
// the same entry points. No OS headers here.
//
// Ports are addressed by a host (null for the local service, else
// "name:2291") and a service port name, both UTF-16 with a terminator, at most
// 63 characters. Every entry point returns 0 on success or a service code
// (ServiceCode below).

#include <stdint.h>

#include "shared/portwire_call.h"

namespace tw::qlx {

// Callback of QLX_RegisterCallback: (event code, four event-dependent values,
// context). Data events: (kEventReceived, 0, 0, byte count, pointer to the
// bytes, context). State events: (kEventState, 0, pointer to the 4-byte
// device state, 0, 0, context). The values are pointer-sized so that pointers
// fit on 64-bit systems.
using ServiceCallback = int32_t(PW_CALL*)(uintptr_t event, uintptr_t v1, uintptr_t v2, uintptr_t v3, uintptr_t v4,
                                          void* context);

using InitializeFn = int32_t(PW_CALL*)();
using TerminateFn = int32_t(PW_CALL*)();
using RegisterCallbackFn = int32_t(PW_CALL*)(int32_t kind, int32_t handle, ServiceCallback callback, void* context);
using UnRegisterCallbackFn = int32_t(PW_CALL*)(int32_t kind, int32_t handle);
using OpenFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* portName, const char16_t* application,
                                 int32_t flag, int32_t* outHandle);
using CloseFn = int32_t(PW_CALL*)(int32_t handle);
using LockFn = int32_t(PW_CALL*)(int32_t handle, int32_t timeoutMs);
using UnlockFn = int32_t(PW_CALL*)(int32_t handle);
using SendFn = int32_t(PW_CALL*)(int32_t handle, int32_t mode, int32_t one, int32_t timeoutMs, uint32_t length,
                                 const void* data, uint32_t* outWritten);
using GetPropertyFn = int32_t(PW_CALL*)(int32_t handle, int32_t id, uint64_t* outValue);
using SetPropertyFn = int32_t(PW_CALL*)(int32_t handle, int32_t three, int32_t one, uint64_t value);
using CancelOperationFn = int32_t(PW_CALL*)(int32_t handle, int32_t three, int32_t one);
using ResumeSendingFn = int32_t(PW_CALL*)(int32_t handle);
using ExtendFunctionFn = int32_t(PW_CALL*)(int32_t handle, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e,
                                           int32_t f, int32_t g);
using GetQLXVersionFn = int32_t(PW_CALL*)(const char16_t* host, uint32_t* outVersion);
using ResetDeviceFn = int32_t(PW_CALL*)(int32_t handle, int32_t three);

using EnumPortNameFn = int32_t(PW_CALL*)(const char16_t* host, uint32_t* inOutSize, char16_t* buffer);
using GetPortConfigNumberFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, int32_t item,
                                                int32_t* outNumber);
using GetPortConfigStringFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, int32_t item,
                                                uint32_t* inOutSize, char16_t* buffer);
using SetPortConfigNumberFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, int32_t item,
                                                int32_t number);
using SetPortConfigStringFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, int32_t item,
                                                const char16_t* text);
using GetCustomValueNumberFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, const char16_t* key,
                                                 int32_t* outNumber);
using GetCustomValueStringFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, const char16_t* key,
                                                 uint32_t* inOutSize, char16_t* buffer);
using GetCustomValueBinaryFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, const char16_t* key,
                                                 uint32_t* inOutSize, void* buffer);
using SetCustomValueNumberFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, const char16_t* key,
                                                 int32_t number);
using SetCustomValueStringFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, const char16_t* key,
                                                 const char16_t* text);
using SetCustomValueBinaryFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, const char16_t* key,
                                                 const void* data, uint32_t size);
using DelCustomValueFn = int32_t(PW_CALL*)(const char16_t* host, const char16_t* port, const char16_t* key);

// Service codes that callers tell apart.
enum ServiceCode : uint32_t {
  kQlxOk = 0,
  kQlxNoValue = 0x20000009,       // no such custom value
  kQlxHeldData = 0x20000001,
  kQlxDeviceError = 0x40000001,
  kQlxNotWritten = 0x40000003,
  kQlxLockRefused = 0x40000004,   // the port is in use by another program
  kQlxFailed = 0x80000001,
  kQlxLockTimeout = 0x80000006,   // the lock (or a send) timed out
  kQlxNoPort = 0x80000007,
  kQlxBufferTooSmall = 0x80000009,
  kQlxSettings = 0x8000000B,
  kQlxUnlockBusy = 0x8000000C,    // unlock while an operation runs: try again later
  kQlxAlreadyOpen = 0x8000000F,
};

// Callback kinds.
enum CallbackKind : int32_t { kKindData = 0, kKindOther = 1, kKindState = 2 };

// Event codes handed to the callbacks.
inline constexpr uintptr_t kEventReceived = 0x10000000;
inline constexpr uintptr_t kEventState = 0x40000000;

// Property ids of QLX_GetProperty.
enum PropertyId : int32_t { kPropDeviceState = 4, kPropHeldSize = 5, kPropReceiveMode = 6 };

// Configuration items.
enum ConfigItem : int32_t {
  kItemPortKind = 0,   // number: 1 COM, 2 LPT, 3 USB, 4 NET, 5 BT
  kItemPortName = 1,   // string
  kItemModelName = 4,  // string
  kItemBaudRate = 5,
  kItemDataBits = 7,
  kItemParity = 8,
  kItemFlowControl = 10,  // 2 on, 0 off
};

}  // namespace tw::qlx
