#include "shared/port_settings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tw {
namespace {

TEST(PortSettingsText, RoundTripsAndRefusesOverlongText) {
  PortSettings s = MakeZeroPortSettings();
  EXPECT_TRUE(SetText(s.portName, u"COM3"));
  EXPECT_EQ(GetText(s.portName), u"COM3");

  std::u16string longest(kPortTextMaxChars, u'x');
  EXPECT_TRUE(SetText(s.portName, longest));
  EXPECT_EQ(GetText(s.portName).size(), kPortTextMaxChars);
  EXPECT_EQ(s.portName[kPortTextMaxChars], u'\0');

  // One more character would overrun the terminator: refused, field unchanged.
  EXPECT_FALSE(SetText(s.portName, longest + u"y"));
  EXPECT_EQ(GetText(s.portName), longest);
  EXPECT_EQ(s.readTimeout, 0);  // the neighbouring field is untouched
}

TEST(PortSettingsText, UnterminatedFieldStopsAtItsEnd) {
  PortSettings s = MakeZeroPortSettings();
  std::fill(std::begin(s.modelName), std::end(s.modelName), u'A');
  EXPECT_EQ(GetText(s.modelName).size(), kPortTextUnits);
}

TEST(PortSettingsDefaults, LibraryDefaultRecord) {
  const PortSettings s = MakeDefaultPortSettings();
  EXPECT_EQ(GetText(s.portType), u"Unknown");
  EXPECT_EQ(GetText(s.usbSpeedText), u"Unknown");
  EXPECT_EQ(s.readTimeout, 2000);
  EXPECT_EQ(s.writeTimeout, 2000);
  EXPECT_EQ(s.baudRate, 9600);
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.route, 0);
  EXPECT_EQ(s.parity, 0);
  EXPECT_EQ(s.routeKind, 0);
  EXPECT_EQ(s.reserved, 0);
}

TEST(PortSettingsDefaults, CaseInsensitivePortTypes) {
  EXPECT_TRUE(EqualsIgnoreCase(u"usb", u"USB"));
  EXPECT_TRUE(EqualsIgnoreCase(u"Net", u"NET"));
  EXPECT_FALSE(EqualsIgnoreCase(u"NE", u"NET"));
}

}  // namespace
}  // namespace tw
