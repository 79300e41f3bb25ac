// Simulated configuration library of the port service (QLXConfig.DLL /
// libQLXConfig.so): the port list, port configuration items and per-port
// custom values, read from and written to the port table.

#include <string>

#include "portlib/backends/qlx_api.h"
#include "sim/makersw/sim_export.h"
#include "sim/makersw/sim_ports.h"

using namespace tw::makersw;
using namespace tw::qlx;

namespace {

constexpr int32_t Code(ServiceCode c) { return static_cast<int32_t>(c); }

struct Change {
  std::string key;
  std::string value;
  bool erase = false;
};

void Apply(SimPort& port, const void* arg) {
  const auto* c = static_cast<const Change*>(arg);
  if (c->erase) port.values.erase(c->key);
  else port.values[c->key] = c->value;
}

int32_t KindNumber(const std::string& type) {
  if (type == "COM") return 1;
  if (type == "LPT") return 2;
  if (type == "USB") return 3;
  if (type == "NET") return 4;
  if (type == "BT") return 5;
  return 0;
}

bool Find(const char16_t* portName, SimPort& out) {
  if (!portName) return false;
  SimTable table = LoadTable();
  const SimPort* port = table.Find(Narrow(portName));
  if (!port || port->HasFault("service-down")) return false;
  out = *port;
  return true;
}

int32_t PutString(const std::string& value, uint32_t* inOutSize, char16_t* buffer) {
  if (!inOutSize || !buffer) return Code(kQlxFailed);
  const std::u16string text = Widen(value);
  if (!CopyOut(text, buffer, *inOutSize)) {
    *inOutSize = static_cast<uint32_t>(text.size() + 1);
    return Code(kQlxBufferTooSmall);
  }
  *inOutSize = static_cast<uint32_t>(text.size() + 1);
  return 0;
}

}  // namespace

SIM_EXPORT int32_t PW_CALL QLX_EnumPortName(const char16_t*, uint32_t* inOutSize, char16_t* buffer) {
  if (!inOutSize || !buffer) return Code(kQlxFailed);
  std::u16string list;
  for (const SimPort& p : LoadTable().ports) {
    if (!p.HasFault("service-down")) list += Widen(p.name) + u'\0';
  }
  list += u'\0';
  if (list.size() > *inOutSize) return Code(kQlxBufferTooSmall);
  std::copy(list.begin(), list.end(), buffer);
  *inOutSize = static_cast<uint32_t>(list.size());
  return 0;
}

SIM_EXPORT int32_t PW_CALL QLX_GetPortConfigNumber(const char16_t*, const char16_t* portName, int32_t item,
                                                   int32_t* outNumber) {
  SimPort port;
  if (!Find(portName, port)) return Code(kQlxNoPort);
  if (!outNumber) return Code(kQlxFailed);
  switch (item) {
    case kItemPortKind: *outNumber = KindNumber(port.Get("type")); return 0;
    case kItemBaudRate: *outNumber = port.Number("baud", 9600); return 0;
    case kItemDataBits: *outNumber = port.Number("bytesize", 8); return 0;
    case kItemParity: *outNumber = port.Number("parity", 0); return 0;
    case kItemFlowControl: *outNumber = port.Get("flow") == "on" ? 2 : 0; return 0;
    default: return Code(kQlxFailed);
  }
}

SIM_EXPORT int32_t PW_CALL QLX_GetPortConfigString(const char16_t*, const char16_t* portName, int32_t item,
                                                   uint32_t* inOutSize, char16_t* buffer) {
  SimPort port;
  if (!Find(portName, port)) return Code(kQlxNoPort);
  const std::string key = item == kItemPortName ? "portname" : item == kItemModelName ? "model" : "";
  if (key.empty() || !port.values.count(key)) return Code(kQlxNoValue);
  return PutString(port.Get(key), inOutSize, buffer);
}

SIM_EXPORT int32_t PW_CALL QLX_SetPortConfigNumber(const char16_t*, const char16_t* portName, int32_t item,
                                                   int32_t number) {
  SimPort port;
  if (!Find(portName, port)) return Code(kQlxNoPort);
  if (port.HasFault("refuse-settings")) return Code(kQlxSettings);
  Change change;
  switch (item) {
    case kItemBaudRate: change = {"baud", std::to_string(number)}; break;
    case kItemDataBits: change = {"bytesize", std::to_string(number)}; break;
    case kItemParity: change = {"parity", std::to_string(number)}; break;
    case kItemFlowControl: change = {"flow", number == 2 ? "on" : "off"}; break;
    default: return Code(kQlxFailed);
  }
  return UpdatePort(port.name, Apply, &change) ? 0 : Code(kQlxFailed);
}

SIM_EXPORT int32_t PW_CALL QLX_SetPortConfigString(const char16_t*, const char16_t* portName, int32_t item,
                                                   const char16_t* text) {
  SimPort port;
  if (!Find(portName, port)) return Code(kQlxNoPort);
  if (!text) return Code(kQlxFailed);
  Change change;
  if (item == kItemPortName) {
    if (port.HasFault("refuse-rename")) return Code(kQlxSettings);
    change = {"portname", Narrow(text)};
  } else if (item == kItemModelName) {
    change = {"model", Narrow(text)};
  } else {
    return Code(kQlxFailed);
  }
  return UpdatePort(port.name, Apply, &change) ? 0 : Code(kQlxFailed);
}

SIM_EXPORT int32_t PW_CALL QLX_GetCustomValueNumber(const char16_t*, const char16_t* portName, const char16_t*,
                                                    int32_t*) {
  SimPort port;
  return Find(portName, port) ? Code(kQlxNoValue) : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_GetCustomValueString(const char16_t*, const char16_t* portName, const char16_t* key,
                                                    uint32_t* inOutSize, char16_t* buffer) {
  SimPort port;
  if (!Find(portName, port)) return Code(kQlxNoPort);
  if (!key) return Code(kQlxFailed);
  const std::string name = "custom." + Narrow(key);
  if (!port.values.count(name)) return Code(kQlxNoValue);
  return PutString(port.Get(name), inOutSize, buffer);
}

SIM_EXPORT int32_t PW_CALL QLX_GetCustomValueBinary(const char16_t*, const char16_t* portName, const char16_t*,
                                                    uint32_t*, void*) {
  SimPort port;
  return Find(portName, port) ? Code(kQlxNoValue) : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_SetCustomValueNumber(const char16_t*, const char16_t* portName, const char16_t*,
                                                    int32_t) {
  SimPort port;
  return Find(portName, port) ? 0 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_SetCustomValueString(const char16_t*, const char16_t* portName, const char16_t* key,
                                                    const char16_t* text) {
  SimPort port;
  if (!Find(portName, port)) return Code(kQlxNoPort);
  if (!key || !text) return Code(kQlxFailed);
  Change change{"custom." + Narrow(key), Narrow(text)};
  return UpdatePort(port.name, Apply, &change) ? 0 : Code(kQlxFailed);
}

SIM_EXPORT int32_t PW_CALL QLX_SetCustomValueBinary(const char16_t*, const char16_t* portName, const char16_t*,
                                                    const void*, uint32_t) {
  SimPort port;
  return Find(portName, port) ? 0 : Code(kQlxNoPort);
}

SIM_EXPORT int32_t PW_CALL QLX_DelCustomValue(const char16_t*, const char16_t* portName, const char16_t* key) {
  SimPort port;
  if (!Find(portName, port)) return Code(kQlxNoPort);
  if (!key) return Code(kQlxFailed);
  const std::string name = "custom." + Narrow(key);
  if (!port.values.count(name)) return Code(kQlxNoValue);
  Change change{name, "", true};
  return UpdatePort(port.name, Apply, &change) ? 0 : Code(kQlxFailed);
}
