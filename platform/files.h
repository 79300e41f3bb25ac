#pragma once
// Creating folders and copying files, for the installer helper.
//
// Failures come back as false with the OS's reason as text, so the caller can
// name both the file and the cause to the user.

#include <filesystem>
#include <string>
#include <string_view>

namespace tw::platform {

// Creates one new folder (its parent must exist). False, with the reason, when
// the folder exists already or cannot be made.
bool CreateNewFolder(const std::filesystem::path& folder, std::string& reason);

// True when a regular file (or a link to one) exists at `file`.
bool RegularFileExists(const std::filesystem::path& file);

// Copies `from` to `to`, replacing a file of that name. False, with the reason,
// when the copy fails.
bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to, std::string& reason);

// The file name a delivered file carries on this OS, from its Windows name
// (Linux: "Trimsense.exe" -> "Trimsense", "Portwire.dll" -> "libPortwire.so";
// Windows: unchanged).
std::string NativeDeliverableFileName(std::u16string_view windowsFileName);

}  // namespace tw::platform
