#include "platform/bluetooth.h"

namespace tw::platform {

int SearchPairedBluetoothDevices(std::vector<PairedBluetoothDevice>& out, std::uint32_t* lastError) {
  out.clear();
  if (lastError) *lastError = 0;
  return kBluetoothUnavailable;
}

int BluetoothSupportLevel() { return 0; }

}  // namespace tw::platform
