#pragma once
// The console program from command line to exit code.

#include "console/console_io.h"
#include "console/portwire.h"

namespace tw::console {

// Exit codes of the program.
enum ExitCode : int {
  kExitSuccess = 0,
  kExitUsage = 1,
  kExitPortOpenError = 2,
  kExitCommunication = 3,
  kExitOtherModel = 6,
};

inline constexpr int kResetWaitMs = 3000;
inline constexpr int kReconnectAttempts = 20;
inline constexpr int kReconnectPauseMs = 500;

// The line on standard error of a run that was asked to end (a signal, the
// front end closing). The run then ends with kExitCommunication once the
// exchange under way is finished, the maintenance exchange closed and the port
// closed.
inline constexpr const char* kStoppedReason = "Trimsense: stopped on request; the port was closed";

// Parses the options, opens the port through `library`, runs the communication
// test and the adjustment, waits for the printer to come back, and returns the
// exit code. Nothing is loaded when the options are unusable.
int RunTrimsense(int argc, char** argv, IPortwireLibrary& library, IConsole& console);

// After an adjustment the printer resets: close, wait, then reopen and retest
// until it answers. Returns 0 once it does, else the last failure.
int32_t WaitPrinterReconnect(IPortwire& port, const PortSettings& settings, IConsole& console);

}  // namespace tw::console
