// Datagram sockets on the loopback interface.
#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <vector>

namespace tw::platform {
namespace {

struct Sockets : ::testing::Test {
  void SetUp() override { ASSERT_EQ(SocketsStartup(), 0); }
  void TearDown() override { SocketsCleanup(); }
};

TEST_F(Sockets, ADatagramLongerThanTheBufferIsAnErrorNotACutOffReply) {
  int error = 0;
  UdpSocket receiver = UdpSocket::Open(&error);
  UdpSocket sender = UdpSocket::Open(&error);
  ASSERT_TRUE(receiver.IsOpen() && sender.IsOpen());
  ASSERT_TRUE(receiver.Bind({Ipv4Address(127, 0, 0, 1), 0}));
  Ipv4Endpoint to;
  ASSERT_TRUE(receiver.LocalEndpoint(to));
  to.address = Ipv4Address(127, 0, 0, 1);

  const std::vector<char> big(1500, 'x'), small(20, 'y');
  ASSERT_EQ(sender.SendTo(big.data(), big.size(), to), 1500);
  ASSERT_EQ(sender.SendTo(small.data(), small.size(), to), 20);
  std::vector<char> buffer(1024);
  ASSERT_EQ(receiver.WaitReadable(std::chrono::seconds(2)), WaitResult::kReadable);
  EXPECT_EQ(receiver.ReceiveFrom(buffer.data(), buffer.size(), nullptr), -1);
  EXPECT_NE(receiver.LastError(), 0);
  // The long datagram is gone; the next one arrives whole.
  ASSERT_EQ(receiver.WaitReadable(std::chrono::seconds(2)), WaitResult::kReadable);
  Ipv4Endpoint from;
  EXPECT_EQ(receiver.ReceiveFrom(buffer.data(), buffer.size(), &from), 20);
  EXPECT_EQ(from.address, Ipv4Address(127, 0, 0, 1));
}

}  // namespace
}  // namespace tw::platform
