#pragma once
// Kitdrop, the installer helper: asks for a folder, creates the product folder
// inside it and copies the delivered files from its own folder into it.
//
// The sequence is toolkit-free; the folder dialog and the message box sit
// behind IKitdropView, drawn by the Win32 shell on Windows and by Qt on Linux.

#include <filesystem>
#include <string>
#include <vector>

namespace tw::installer {

// The folder created inside the chosen one.
inline constexpr char16_t kProductFolderName[] = u"Orlex KP-S410 Slip Paper Sensor Adjustment Tool";

// The delivered files in copy order, by their Windows names; the table ends
// with an empty string.
inline constexpr const char16_t* kDeliveredFiles[] = {
    u"Trimsense.exe", u"TrimsenseGUI.exe", u"Portwire.dll", u"lnkioapi.dll", u"Manual.pdf", u"License.txt", u""};

// Exit codes.
inline constexpr int kExitDone = 0;            // installed, or nothing chosen
inline constexpr int kExitFolderNotMade = -1;  // the product folder could not be created

class IKitdropView {
 public:
  virtual ~IKitdropView() = default;
  // The folder dialog. False when nothing was chosen; otherwise `chosen` holds
  // the folder, normally ending in a separator.
  virtual bool BrowseForFolder(const std::u16string& initialFolder, std::u16string& chosen) = 0;
  // One message box telling the user what went wrong.
  virtual void ShowFailure(const std::u16string& text) = 0;
};

// Chosen folder + product folder name, with exactly one separator between them
// whether or not the chosen path ends in one (a drive or file-system root does).
std::u16string TargetFolder(const std::u16string& chosen);

// The file names that are copied on this OS, in copy order.
std::vector<std::string> DeliveredFileNames();

// The whole sequence: dialog, target folder, copies. Returns the exit code.
int RunKitdrop(IKitdropView& view, const std::filesystem::path& sourceFolder);

}  // namespace tw::installer
