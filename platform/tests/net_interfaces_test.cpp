// Which interfaces a discovery asks.
#include <gtest/gtest.h>

#include "platform/net_interfaces.h"
#include "platform/udp_socket.h"

using tw::platform::Ipv4Address;
using tw::platform::NetInterface;
using tw::platform::SelectBroadcastInterfaces;

namespace {

NetInterface Iface(const char* name, unsigned index, std::uint32_t address, bool up = true, bool broadcast = true,
                   bool loopback = false) {
  NetInterface i;
  i.name = name;
  i.index = index;
  i.address = address;
  i.up = up;
  i.broadcast = broadcast;
  i.loopback = loopback;
  return i;
}

}  // namespace

TEST(BroadcastInterfaces, OnlyUpBroadcastLinksWithAnAddressOncePerInterface) {
  const std::vector<NetInterface> all = {
      Iface("lo", 1, Ipv4Address(127, 0, 0, 1), true, false, true),
      Iface("eth0", 2, Ipv4Address(192, 168, 1, 10)),
      Iface("eth0", 2, Ipv4Address(10, 0, 0, 10)),          // a second address of eth0
      Iface("eth1", 3, Ipv4Address(169, 254, 3, 4)),        // the direct cable
      Iface("eth2", 4, Ipv4Address(172, 16, 0, 1), false),  // down
      Iface("tun0", 5, Ipv4Address(10, 8, 0, 2), true, false),
      Iface("eth3", 6, 0),                                   // no address yet
  };
  const auto chosen = SelectBroadcastInterfaces(all);
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0].name, "eth0");
  EXPECT_EQ(chosen[0].address, Ipv4Address(192, 168, 1, 10));
  EXPECT_EQ(chosen[1].name, "eth1");
  // Without interface indexes the names tell interfaces apart.
  EXPECT_EQ(SelectBroadcastInterfaces({Iface("a", 0, 1), Iface("a", 0, 2), Iface("b", 0, 3)}).size(), 2u);
  EXPECT_TRUE(SelectBroadcastInterfaces({}).empty());
}

TEST(BroadcastInterfaces, TheSystemListsItsLoopbackAndNeverOffersIt) {
  ASSERT_EQ(tw::platform::SocketsStartup(), 0);
  int error = -1;
  const auto all = tw::platform::ListIpv4Interfaces(&error);
  EXPECT_EQ(error, 0);
  bool loopback = false;
  for (const auto& i : all) loopback = loopback || (i.loopback && i.address == Ipv4Address(127, 0, 0, 1));
  EXPECT_TRUE(loopback) << "127.0.0.1 on a loopback interface";
  for (const auto& i : tw::platform::BroadcastInterfaces()) EXPECT_FALSE(i.loopback) << i.name;
  tw::platform::SocketsCleanup();
}

// Several sockets waited on together: the one with a datagram is named.
TEST(BroadcastInterfaces, WaitAnyNamesTheReadableSocket) {
  using tw::platform::UdpSocket;
  using tw::platform::WaitResult;
  ASSERT_EQ(tw::platform::SocketsStartup(), 0);
  UdpSocket a = UdpSocket::Open(nullptr), b = UdpSocket::Open(nullptr), sender = UdpSocket::Open(nullptr);
  ASSERT_TRUE(a.Bind({Ipv4Address(127, 0, 0, 1), 0}));
  ASSERT_TRUE(b.Bind({Ipv4Address(127, 0, 0, 1), 0}));
  tw::platform::Ipv4Endpoint to;
  ASSERT_TRUE(b.LocalEndpoint(to));
  UdpSocket* const both[] = {&a, &b};
  std::size_t ready = 99;
  int error = 0;
  EXPECT_EQ(UdpSocket::WaitAnyReadable(both, std::chrono::milliseconds(20), &ready, &error), WaitResult::kTimeout);
  ASSERT_EQ(sender.SendTo("x", 1, to), 1);
  EXPECT_EQ(UdpSocket::WaitAnyReadable(both, std::chrono::seconds(5), &ready, &error), WaitResult::kReadable);
  EXPECT_EQ(ready, 1u);
  a.Close();
  b.Close();
  sender.Close();
  tw::platform::SocketsCleanup();
}
