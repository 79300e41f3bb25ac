#pragma once
// The port maintenance operations behind the exports that list, complete,
// reconfigure and test ports through the maker's driver software, and the
// routing of the device-state callback registrations. Each runs on a caller's
// thread; the export frame holds the API lock where the export takes it.

#include <functional>

#include "portlib/manager/kp_comm.h"

namespace tw::portwire {

// KPC_EnumPort: the port list of the port service when it is available, else
// of the driver path when that is. Always kResultOk.
Result EnumPort(KPComm& manager);

// KPC_AddPort: kResultAlreadyOpen while a port is open. Completes `record`
// from the ports the driver software knows (the port service's list when the
// last route kind is 3, else the driver path's); a "USB" record that none
// knows takes USB class and service port name from the USB device whose
// number ("001", ...) is its port name. kResultInvalidArgument for null.
Result AddPort(KPComm& manager, PortSettings* record);

// Looks up the network interface at a record's address and keeps its data as
// the last network details (CPortEnumeration::LookupNetworkDetails).
using NetworkLookup = std::function<bool(PortSettings& record)>;

// KPC_PortSetting: changes the settings of the open port by its type (see the
// export's documentation in portwire.h). For "NET" the interface's data are
// those of the last lookup when it was of the current address, else
// `lookUpNetwork` runs first. kResultInvalidArgument for null.
Result PortSetting(KPComm& manager, const PortSettings* record, const NetworkLookup& lookUpNetwork);

// KPC_RegisterDeviceStateCallback / KPC_UnregisterDeviceStateCallback:
// kResultNotOpen without an open port; the port service's subscription for
// event 0x60001 with route kind 3, the driver path's for event 0x40002 with
// route kind 2, kResultFailed on the direct route.
Result RegisterDeviceStateCallback(KPComm& manager, void* callback, void* context);
Result UnregisterDeviceStateCallback(KPComm& manager, void* callback, void* context);

}  // namespace tw::portwire
