#pragma once
// Marks an entry point of a simulated component: C linkage, exported, with the
// maker's calling convention (PW_CALL, __stdcall on Windows).
#include "shared/portwire_call.h"
#ifdef _WIN32
#define SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
