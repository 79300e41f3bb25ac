#include "sim/makersw/sim_staging.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/process.h"

namespace tw::makersw {
namespace {

void Link(const std::filesystem::path& folder, const std::string& file) {
  std::filesystem::create_directories(folder);
  std::error_code ec;
  std::filesystem::create_symlink(platform::ExecutableFolder() / file, folder / file, ec);
}

}  // namespace

Staging::Staging(StagingOptions options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kpsim-XXXXXX").string();
  if (char* made = mkdtemp(pattern.data())) folder_ = made;
  const std::filesystem::path programFiles = folder_ / "pf";
  std::filesystem::create_directories(programFiles);
  if (options.driverPath) Link(programFiles / "ORLEX" / "Drvbridge", "libDrvbridge.so");
  if (options.portService) {
    Link(programFiles / "ORLEX" / "qlxservice", "libQLXIF.so");
    Link(programFiles / "ORLEX" / "qlxservice", "libQLXConfig.so");
  }
  WritePorts("");
  setenv("PORTWIRE_PROGRAM_FILES", programFiles.c_str(), 1);
  setenv("KPSIM_PORTS", PortsFile().c_str(), 1);
}

Staging::~Staging() {
  unsetenv("KPSIM_PORTS");
  unsetenv("PORTWIRE_PROGRAM_FILES");
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

void Staging::WritePorts(const std::string& text) const {
  const std::filesystem::path temp = folder_ / "ports.txt.new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << text;
  }
  std::filesystem::rename(temp, PortsFile());
}

std::string Staging::ReadPorts() const {
  std::ifstream in(PortsFile());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace tw::makersw
