#pragma once
// Folders and files where the maker's installed software is looked for.
//
// Windows: the Program Files folder of the system (SHGetFolderPathW with
// CSIDL_PROGRAM_FILES), PathFileExistsW, the process environment.
//
// Linux: the Program Files folder is a prefix given by the environment variable
// PORTWIRE_PROGRAM_FILES, "/opt" without it. Paths composed the Windows way
// ("<prefix>\ORLEX\Drvbridge\Drvbridge.dll") are accepted everywhere a path is
// taken: "\" separates folders, and the module loader maps the file name
// "X.dll" to "libX.so" (module.h).

#include <string>
#include <string_view>

namespace tw::platform {

// The Program Files folder, without a trailing separator; empty when unknown.
std::u16string ProgramFilesFolder();

// Whether a file or folder exists at `path`.
bool PathExists(std::u16string_view path);

// The value of an environment variable; empty when unset.
std::u16string EnvironmentText(std::string_view name);

}  // namespace tw::platform
