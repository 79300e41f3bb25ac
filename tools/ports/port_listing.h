#pragma once
// portwire-ports: the ports the communication library lists, one row each,
// with what a technician needs to pick one: the options that give it to
// Trimsense, the device node or identity, the product name, and whether the
// current user may open it (with the fix when not).

#include <functional>
#include <string>
#include <vector>

#include "include/portwire.h"

namespace tw::ports {

struct PortRow {
  std::string kind;      // "COM", "BT", "LPT", "USB", "NET"
  std::string port;      // the library's port name: "COM33", "LPT1", "001", "10.0.0.5"
  std::string options;   // what Trimsense is given: "-c33", "-l1", "-u1 -uCv", "-n10.0.0.5"
  std::string node;      // device node ("/dev/ttyUSB0", a comN link), MAC address for NET
  std::string target;    // where a link points, else empty
  std::string identity;  // USB identity text, Bluetooth device address, else empty
  std::string product;   // product or interface name, empty when unknown
  bool mayOpen = true;
  std::string fix;       // empty when mayOpen
};

// The library's exports that the listing uses, resolved by name.
struct LibraryPorts {
  decltype(&::KPC_EnumDevPort) enumDevPort = nullptr;
  decltype(&::KPC_SetPort) setPort = nullptr;
  decltype(&::KPC_GetPort) getPort = nullptr;
};

struct Listing {
  std::vector<PortRow> rows;
  std::vector<std::string> notes;  // listings that failed ("BT: result 0x80000000")
  bool complete = true;            // false when COM, LPT or USB could not be listed
};

// Lists COM (Bluetooth serial ports marked as BT), LPT and USB, and NET when
// `network` is set (a discovery of at least 3 s). Device nodes, USB numbers
// and access come from the platform's port table, the same one the library
// opens by.
Listing ListPorts(const LibraryPorts& library, bool network);

// One line per row, columns aligned; a header line first. Rows that may not
// be opened end with "no: <fix>".
std::string FormatText(const std::vector<PortRow>& rows);
// {"ports":[{...}, ...]} with every field of PortRow.
std::string FormatJson(const Listing& listing);
// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& text);

}  // namespace tw::ports
