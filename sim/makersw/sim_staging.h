#pragma once
// Stages the simulated maker's software the way an installation lays it out,
// for tests and demos on Linux: a Program Files folder (PORTWIRE_PROGRAM_FILES)
// holding the driver-path library and/or the port service's libraries, and the
// port table (KPSIM_PORTS). The libraries are links to the built ones beside
// the running program.

#include <filesystem>
#include <string>

namespace tw::makersw {

struct StagingOptions {
  bool driverPath = true;   // ORLEX\Drvbridge\Drvbridge.dll
  bool portService = true;  // ORLEX\qlxservice\QLXIF.DLL and QLXConfig.DLL
};

class Staging {
 public:
  explicit Staging(StagingOptions options = {});
  ~Staging();  // removes the folder and the environment variables
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path PortsFile() const { return folder_ / "ports.txt"; }
  // Replaces the port table.
  void WritePorts(const std::string& text) const;
  // The port table as it is now.
  std::string ReadPorts() const;

 private:
  std::filesystem::path folder_;
};

}  // namespace tw::makersw
