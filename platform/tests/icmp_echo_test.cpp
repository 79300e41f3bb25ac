#include <gtest/gtest.h>

#include "platform/icmp_echo.h"

namespace tw::platform {
namespace {

TEST(IcmpEcho, LoopbackHostAnswers) {
  // Every address of 127/8 is this host. Whichever method this machine
  // allows (raw socket as root, datagram socket, or the TCP probe whose
  // refused connection proves the host is there), the answer is yes.
  EchoMethod method = EchoMethod::kNone;
  EXPECT_TRUE(IcmpEchoReachable("127.0.0.1", kIcmpEchoTimeoutMs, &method));
  EXPECT_NE(method, EchoMethod::kNone);
  EXPECT_TRUE(IcmpEchoReachable("127.0.0.89", kIcmpEchoTimeoutMs));
}

TEST(IcmpEcho, MalformedAndBroadcastAddressesAreNeverProbed) {
  for (const char* text : {"", "127.0.0", "127.0.0.1.1", "127.0.0.256", "127.0.0.-1", "127.0.0.1 ", "localhost",
                           "0x7f.0.0.1", "255.255.255.255", "0.0.0.0", "224.0.0.1"}) {
    EchoMethod method = EchoMethod::kIcmpApi;
    EXPECT_FALSE(IcmpEchoReachable(text, 100, &method)) << text;
    EXPECT_EQ(method, EchoMethod::kNone) << text;
  }
}

TEST(IcmpEcho, DottedParserIsStrict) {
  unsigned char b[4];
  ASSERT_TRUE(ParseDottedIpv4("127.0.0.81", b));
  EXPECT_EQ(b[0], 127);
  EXPECT_EQ(b[3], 81);
  EXPECT_FALSE(ParseDottedIpv4("1..2.3", b));
  EXPECT_FALSE(ParseDottedIpv4("0127.0.0.1", b));
}

}  // namespace
}  // namespace tw::platform
