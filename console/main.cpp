#include "console/portwire_manager.h"
#include "console/program_flow.h"

int main(int argc, char** argv) {
  try {
    tw::console::CStdConsole console;
    // The manager outlives the flow: it terminates and unloads the library last.
    tw::console::CPortwireManager library;
    return tw::console::RunTrimsense(argc, argv, library, console);
  } catch (...) {
    // Out of memory is the only way here; report it as a communication failure
    // rather than an abnormal end.
    return tw::console::kExitCommunication;
  }
}
