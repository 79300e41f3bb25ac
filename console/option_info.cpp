#include "console/option_info.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/text.h"

namespace tw::console {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Leading decimal digits (an optional sign first), saturating instead of
// overflowing; an empty or non-numeric text reads as 0.
long ReadDecimal(const char* text) {
  long sign = 1;
  if (*text == '-' || *text == '+') {
    if (*text == '-') sign = -1;
    ++text;
  }
  long value = 0;
  for (; IsDigit(*text); ++text) {
    if (value > (LONG_MAX - 9) / 10) return sign * INT_MAX;
    value = value * 10 + (*text - '0');
    if (value > INT_MAX) return sign * INT_MAX;
  }
  return sign * value;
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

int ValidBaudOrDefault(long baud) {
  switch (baud) {
    case 2400: case 4800: case 9600: case 19200: case 38400: case 57600: case 115200:
      return static_cast<int>(baud);
    default:
      return 38400;
  }
}

}  // namespace

COptionInfo::COptionInfo() : settings(MakeZeroPortSettings()), testOnly(0) {}

void COptionInfo::ApplyPortNumber(const char* value, const char16_t* type, const char* format) {
  if (!GetText(settings.portType).empty()) return;  // the first port option wins
  if (*value != '\0' && !IsDigit(*value)) return;
  long n = ReadDecimal(value);
  if (n <= 0) n = 1;
  char name[32];
  std::snprintf(name, sizeof name, format, static_cast<int>(n));
  SetText(settings.portType, type);
  SetText(settings.portName, Ascii(name));
}

void COptionInfo::ApplySerialOption(const char* value) {
  const char sub = *value;
  if (sub != 'B' && sub != 'P' && sub != 'D') {
    ApplyPortNumber(value, u"COM", "COM%d");
    return;
  }
  const std::u16string_view type = GetText(settings.portType);
  if (!type.empty() && type != u"COM") return;
  const char* arg = value + 1;
  if (sub == 'B') {
    settings.baudRate = ValidBaudOrDefault(ReadDecimal(arg));
  } else if (sub == 'P') {
    settings.parity = (*arg == 'e') ? 2 : (*arg == 'o') ? 1 : 0;
  } else {
    settings.dataBits = (*arg == '7') ? 7 : 8;
  }
}

void COptionInfo::ApplyUsbOption(const char* value) {
  if (*value == 'C') {
    settings.usbClass = (value[1] == 'p') ? 1 : 0;
    return;
  }
  ApplyPortNumber(value, u"USB", "%03d");
}

void COptionInfo::ApplyNetworkOption(const char* value) {
  if (!GetText(settings.portType).empty()) return;
  const std::u16string name = *value ? platform::Utf8ToUtf16(value) : std::u16string(u"192.168.192.168");
  // An address that does not fit is never cut down to one that might reach
  // another device: the whole command line is refused instead.
  if (!SetText(settings.portName, name)) {
    networkTextTooLong_ = true;
    return;
  }
  SetText(settings.portType, u"NET");
}

int COptionInfo::Parse(int argc, char** argv) {
  settings = MakeZeroPortSettings();
  networkTextTooLong_ = false;
  if (argc < 1 || argv == nullptr) return -1;

  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr || arg[0] != '-' || arg[1] == '\0') continue;
    const char* value = arg + 2;
    switch (arg[1]) {
      case 'c': ApplySerialOption(value); break;
      case 'l': ApplyPortNumber(value, u"LPT", "LPT%d"); break;
      case 'u': ApplyUsbOption(value); break;
      case 'n': ApplyNetworkOption(value); break;
      case 't': if (*value == 'C') testOnly = 1; break;
      default: break;
    }
  }
  if (networkTextTooLong_) return -1;

  settings.readTimeout = 2000;
  settings.writeTimeout = 2000;

  const std::u16string_view type = GetText(settings.portType);
  if (type == u"COM") {
    if (settings.baudRate == 0) settings.baudRate = 38400;
    if (settings.dataBits == 0) settings.dataBits = 8;
    return 0;
  }
  if (type == u"LPT" || type == u"USB" || type == u"NET") {
    return GetText(settings.portName).empty() ? -1 : 0;
  }
  return -1;
}

void COptionInfo::PrintUsage(IConsole& console) {
  const char* b = " ";
  console.Print("Orlex KP-S410 Slip Paper Sensor Adjustment Tool Version1.00\n");
  console.Print("Adjusts the slip paper sensor of a KP-S410 printer on the port given below.\n");
  console.Print("\n");
  console.Print("%sUsage: SlipTrimTool <options>\n", b);
  console.Print("%sOptions:\n", b);
  console.Print("%sCOM:-c<Serial Port> [-cB<Baud Rate>] [-cP<Parity Check>] [-cD<DataBit>]\n", b);
  console.Print("%s  -c<x>   Serial Port    [1=COM1], 2=COM2, 3=COM3, ...\n", b);
  console.Print("%s  -cB<x>  + Baud Rate    2400, 4800, 9600, 19200, [38400], 57600, 115200\n", b);
  console.Print("%s  -cP<x>  + Parity Check [n=No], o=Odd, e=Even\n", b);
  console.Print("%s  -cD<x>  + Data Bit     7=7bi, [8=8bit]\n", b);
  console.Print("\n");
  console.Print("%sLPT:-l<Parallel Port>\n", b);
  console.Print("%s  -l<x>   Parallel Port  [1=LPT1], 2=LPT2, 3=LPT3, ...\n", b);
  console.Print("\n");
  console.Print("%sUSB:-u<USB Port> [-uC<USB Class>]\n", b);
  console.Print("%s  -u<x>   USB Port       [1=USB001], 2=USB002, 3=USB003, ...\n", b);
  console.Print("%s  -uC<x>  + USB Class    [v=Vender Class], p=Printer Class\n", b);
  console.Print("\n");
  console.Print("%sNetwork:-n<IP address>\n", b);
  console.Print("%s  -n<x>   IP Address     [192.168.192.168], ...\n", b);
  console.Print("\n");
  console.Print("%sCommunication Test:<Port> -tC\n", b);
  console.Print("%s-tC       Communication Test only\n", b);
}

}  // namespace tw::console
