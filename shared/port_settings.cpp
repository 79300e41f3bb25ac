#include "shared/port_settings.h"

#include <algorithm>
#include <cstring>

namespace tw {

PortSettings MakeZeroPortSettings() {
  PortSettings s;
  std::memset(&s, 0, sizeof s);
  return s;
}

PortSettings MakeDefaultPortSettings() {
  PortSettings s = MakeZeroPortSettings();
  const std::u16string_view unknown = u"Unknown";
  for (PortText* f : {&s.portType, &s.portName, &s.deviceName, &s.servicePortName, &s.modelName,
                      &s.bluetoothAddress, &s.interfaceName, &s.versionText, &s.secondVersionText,
                      &s.usbSerialNumber, &s.usbSpeedText}) {
    SetText(*f, unknown);
  }
  s.readTimeout = 2000;
  s.writeTimeout = 2000;
  s.baudRate = 9600;
  s.dataBits = 8;
  return s;
}

std::u16string_view GetText(const PortText& field) {
  const auto* end = std::find(std::begin(field), std::end(field), u'\0');
  return std::u16string_view(field, static_cast<size_t>(end - field));
}

bool SetText(PortText& field, std::u16string_view text) {
  if (text.size() > kPortTextMaxChars) return false;
  std::fill(std::begin(field), std::end(field), u'\0');
  std::copy(text.begin(), text.end(), field);
  return true;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - u'a' + u'A');
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - u'a' + u'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace tw
