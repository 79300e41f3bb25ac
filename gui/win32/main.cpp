// TrimsenseGUI.exe: the front end. Choose a port, press "Adjustment", read the
// result; the console program Trimsense.exe beside this program does the work.
#include <windows.h>

#include <commctrl.h>

#include "gui/win32/main_dialog_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The address field's class is registered with the others: without the
  // version 6 controls the classes of the old set alone would not include it.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&controls);
  tw::gui::win32::MainDialog dialog(instance);
  dialog.Run();
  return 0;
}
