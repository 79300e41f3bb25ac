// What portwire-ports prints of a listing: aligned lines, JSON a parser reads.
#include <gtest/gtest.h>

#include "tools/ports/port_listing.h"

using tw::ports::FormatJson;
using tw::ports::FormatText;
using tw::ports::JsonString;
using tw::ports::Listing;
using tw::ports::PortRow;

namespace {

PortRow Row(const char* kind, const char* port, const char* options, const char* node, bool mayOpen,
            const char* fix = "") {
  PortRow r;
  r.kind = kind;
  r.port = port;
  r.options = options;
  r.node = node;
  r.mayOpen = mayOpen;
  r.fix = fix;
  return r;
}

}  // namespace

TEST(PortListingOutput, TextLinesAreAlignedAndSayWhatFixesAClosedPort) {
  std::vector<PortRow> rows = {Row("COM", "COM33", "-c33", "/dev/ttyUSB0", false, "add the user to group dialout"),
                               Row("USB", "001", "-u1 -uCv", "/dev/bus/usb/001/004", true)};
  rows[1].identity = "\\\\?\\usb#vid_7a5e&pid_0202#S1#{x}";
  rows[1].product = "KP-S410";
  const std::string text = FormatText(rows);
  const auto first = text.find('\n'), second = text.find('\n', first + 1);
  ASSERT_NE(second, std::string::npos);
  const std::string header = text.substr(0, first), com = text.substr(first + 1, second - first - 1);
  EXPECT_EQ(header.find("DEVICE"), com.find("/dev/ttyUSB0")) << text;
  EXPECT_NE(com.find("no: add the user to group dialout"), std::string::npos) << text;
  EXPECT_NE(text.find("-u1 -uCv"), std::string::npos);
  EXPECT_NE(text.find("KP-S410"), std::string::npos);
  EXPECT_NE(text.find("/dev/bus/usb/001/004 \\\\?\\usb#vid_7a5e"), std::string::npos) << text;
}

TEST(PortListingOutput, JsonEscapesEverythingAParserRejects) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("\n\t\x01"), "\"\\n\\t\\u0001\"");
  EXPECT_EQ(JsonString("Gr\xc3\xbc\xc3\x9f \xe2\x82\xac"), "\"Gr\xc3\xbc\xc3\x9f \xe2\x82\xac\"");
  // Bytes that are not UTF-8 (a Latin-1 file name, a cut sequence, an
  // overlong form) become U+FFFD instead of breaking the document.
  EXPECT_EQ(JsonString("/tmp/\xe4x\xc3"), "\"/tmp/\\ufffdx\\ufffd\"");
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\"");

  Listing empty;
  EXPECT_EQ(FormatJson(empty), "{\"ports\": [],\n \"complete\": true,\n \"notes\": []}\n");
  Listing one;
  one.rows.push_back(Row("LPT", "LPT1", "-l1", "/dev/lp0", false, "only root may open it"));
  one.notes.push_back("BT: result 0x80000000");
  one.complete = false;
  const std::string json = FormatJson(one);
  EXPECT_NE(json.find("\"options\": \"-l1\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"mayOpen\": false, \"fix\": \"only root may open it\"}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"complete\": false"), std::string::npos) << json;
  EXPECT_NE(json.find("\"notes\": [\"BT: result 0x80000000\"]"), std::string::npos) << json;
}
