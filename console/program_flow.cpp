#include "console/program_flow.h"

#include "console/adjustment_bof.h"
#include "console/option_info.h"
#include "console/test_manager.h"

namespace tw::console {

int32_t WaitPrinterReconnect(IPortwire& port, const PortSettings& settings, IConsole& console) {
  port.Close();
  console.Print("waite printer reset\n");
  console.Sleep(kResetWaitMs);
  console.Print("waite printer reconnect\n");

  int32_t result = 0;
  for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
    if (console.StopRequested()) return kExitCommunication;
    result = port.Open(&settings);
    if (result == 0) {
      CTestManager test(console);
      result = test.Run(&port);
      if (result == 0) return 0;
      port.Close();
    }
    console.Sleep(kReconnectPauseMs);
    console.Print(".");
  }
  console.Print("reconnect timeout.\n");
  return result;
}

namespace {

int RunOpened(IPortwireLibrary& library, const PortSettings& settings, bool testOnly, IConsole& console) {
  console.Print("Communication test start\n");
  int32_t result;
  {
    CTestManager test(console);
    result = test.Run(&library);
  }
  if (result == 0) {
    console.Print("Communication test success\n");
  } else {
    console.Print("Communication test false:%d\n", result);
    // A port that opened without reaching its device (USB) still has a
    // reason for the technician.
    const std::string why = library.WhyNotLinked(settings);
    if (!why.empty()) console.WriteError(why);
  }
  console.Print("\n");
  if (result != 0) return result;
  if (testOnly) return kExitSuccess;

  console.Print("Slip Paper Sensor Adjustment strat\n");
  {
    CAdjustmentBOF adjustment(console);
    result = adjustment.Run(&library);
  }
  if (result == 0) {
    console.Print("Slip Paper Sensor Adjustment success\n");
  } else {
    console.Print("Slip Paper Sensor Adjustment false:%d\n", result);
  }
  console.Print("\n");
  if (result != 0) return result;

  // Whether the printer comes back in time is reported by text only: the
  // adjustment itself has succeeded.
  WaitPrinterReconnect(library, settings, console);
  // Asked to end while waiting for the printer: it has its threshold, but the
  // run did not see it back.
  return console.StopRequested() ? kExitCommunication : kExitSuccess;
}

}  // namespace

int RunTrimsense(int argc, char** argv, IPortwireLibrary& library, IConsole& console) {
  COptionInfo options;
  if (options.Parse(argc, argv) != 0) {
    COptionInfo::PrintUsage(console);
    return kExitUsage;
  }
  // The library sees this copy, in the reconnect phase too.
  const PortSettings settings = options.settings;

  int result;
  console.Print(".");
  if (console.StopRequested()) {
    result = kExitCommunication;
  } else if (!library.Load()) {
    console.Print("port open error\n");
    console.WriteError(library.WhyNotOpened(settings));
    result = kExitPortOpenError;
  } else {
    console.Print(".");
    if (library.Open(&settings) != 0) {
      console.Print("port open error\n");
      console.WriteError(library.WhyNotOpened(settings));
      result = kExitPortOpenError;
    } else {
      console.Print("%s\n", ".");
      result = RunOpened(library, settings, options.testOnly != 0, console);
    }
  }

  if (library.IsLoaded()) library.ReleasePort();
  // Said once, for the person at the console and for the front end's details.
  if (console.StopRequested()) console.WriteError(kStoppedReason);
  console.Print(".");
  console.Print("exit\n");
  return result;
}

}  // namespace tw::console
