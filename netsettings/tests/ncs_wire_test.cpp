// Request layouts and reply readers, without a network. Replies are built in
// heap buffers of their exact length so that a read past the datagram shows up
// under the address sanitizer.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "netsettings/fuzz/read_all_replies.h"
#include "netsettings/ncs_wire.h"
#include "platform/udp_socket.h"

using namespace tw::ncs;

namespace {

std::vector<std::uint8_t> Header(char letter, std::uint32_t code, std::uint16_t result, std::size_t payload) {
  std::vector<std::uint8_t> d(kHeaderSize + payload, 0);
  std::memcpy(d.data(), "ORLEX", 5);
  d[5] = static_cast<std::uint8_t>(letter);
  for (int i = 0; i < 4; ++i) d[6 + i] = static_cast<std::uint8_t>(code >> (24 - 8 * i));
  d[10] = static_cast<std::uint8_t>(result >> 8);
  d[11] = static_cast<std::uint8_t>(result);
  d[13] = static_cast<std::uint8_t>(payload);
  return d;
}

// Copies a datagram into a heap block of exactly its size.
struct Exact {
  explicit Exact(const std::vector<std::uint8_t>& d) : bytes(new std::uint8_t[d.size()]), size(d.size()) {
    if (!d.empty()) std::memcpy(bytes.get(), d.data(), d.size());
  }
  Reply reply() const { return Reply(bytes.get(), size); }
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size;
};

std::vector<std::uint8_t> Discovery(std::uint16_t result, std::size_t payload, const char* name) {
  auto d = Header('p', 0, result, payload);
  std::memcpy(d.data() + kHeaderSize, name, std::strlen(name));
  if (payload > 45) {
    d[kHeaderSize + 36] = 0x04;   // model 0x0400
    d[kHeaderSize + 38] = 0x01;   // version 1.02
    d[kHeaderSize + 39] = 0x02;
    for (int i = 0; i < 6; ++i) d[kHeaderSize + 40 + i] = static_cast<std::uint8_t>(0xA0 + i);
  }
  return d;
}

}  // namespace

TEST(NcsRequests, HeaderLoginAndSnmpLayouts) {
  std::uint8_t buf[kBufferSize];
  const std::uint8_t one = 1;
  ASSERT_EQ(BuildRequest(buf, 'C', cmd::kReset, &one, 1), 15u);
  const std::uint8_t header[] = {'O', 'R', 'L', 'E', 'X', 'C', 0x03, 0x00, 0x00, 0x12, 0, 0, 0, 1, 1};
  EXPECT_EQ(0, std::memcmp(buf, header, sizeof header));
  EXPECT_EQ(BuildRequest(buf, 'S', 0, nullptr, kBufferSize), 0u) << "a payload that cannot fit is refused";

  const std::uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(BuildLogin(buf, mac, LoginOp::kLogIn, "secret", 6), kHeaderSize + 17);
  const std::uint8_t login[] = {1, 2, 3, 4, 5, 6, 0xF0, 0x00, 0x0A, 0x00, 0x06, 's', 'e', 'c', 'r', 'e', 't'};
  EXPECT_EQ(0, std::memcmp(buf + kHeaderSize, login, sizeof login));
  EXPECT_EQ(buf[5], 'S');
  EXPECT_EQ(buf[13], 17);
  ASSERT_EQ(BuildLogin(buf, mac, LoginOp::kStoreAndRestart, "", 0), kHeaderSize + 11);
  EXPECT_EQ(buf[kHeaderSize + 6], 0x01);
  EXPECT_EQ(buf[kHeaderSize + 8], 0x12);
  ASSERT_EQ(BuildLogin(buf, mac, LoginOp::kLogOut, "x", 1), kHeaderSize + 12);
  EXPECT_EQ(buf[kHeaderSize + 6] | buf[kHeaderSize + 7] | buf[kHeaderSize + 8], 0);

  ASSERT_EQ(BuildSnmpSelfTest(buf, 0x07), 48u);
  const std::uint8_t snmp[48] = {0x30, 0x2E, 0x02, 0x01, 0x00, 0x04, 0x05, 'v',  'o',  'r',  'p',  'a',
                                 0xA3, 0x22, 0x02, 0x03, 0x00, 0x11, 0x22, 0x02, 0x01, 0x00, 0x02, 0x01,
                                 0x00, 0x30, 0x15, 0x30, 0x13, 0x06, 0x0E, 0x2B, 0x06, 0x01, 0x04, 0x01,
                                 0xAD, 0x35, 0x01, 0x01, 0x03, 0x01, 0x01, 0x23, 0x00, 0x02, 0x01, 0x07};
  EXPECT_EQ(0, std::memcmp(buf, snmp, 48));
}

TEST(NcsAcceptance, LetterCodeAndMacFilter) {
  std::uint8_t request[kBufferSize];
  BuildRequest(request, 'P', cmd::kIpSettings, nullptr, 0);
  const std::uint8_t mac[6] = {9, 8, 7, 6, 5, 4};
  auto reply = Header('p', cmd::kIpSettings, 0, 21);
  std::memcpy(reply.data() + kHeaderSize + 1, mac, 6);
  EXPECT_TRUE(AcceptsReply(request, reply.data(), reply.size(), mac, 15));
  EXPECT_TRUE(AcceptsReply(request, reply.data(), reply.size(), nullptr, -1));
  EXPECT_FALSE(AcceptsReply(request, reply.data(), 20, mac, 15)) << "MAC field beyond the datagram";
  const std::uint8_t other[6] = {9, 8, 7, 6, 5, 3};
  EXPECT_FALSE(AcceptsReply(request, reply.data(), reply.size(), other, 15));
  EXPECT_TRUE(AcceptsReply(request, reply.data(), reply.size(), other, -1)) << "negative offset: no filter";

  auto wrongCode = Header('p', cmd::kDnsNames, 0, 21);
  EXPECT_FALSE(AcceptsReply(request, wrongCode.data(), wrongCode.size(), nullptr, -1));
  auto upper = Header('P', cmd::kIpSettings, 0, 21);
  EXPECT_FALSE(AcceptsReply(request, upper.data(), upper.size(), nullptr, -1));
  EXPECT_FALSE(AcceptsReply(request, reply.data(), 13, nullptr, -1));
  reply[0] = 'X';
  EXPECT_FALSE(AcceptsReply(request, reply.data(), reply.size(), nullptr, -1));

  std::uint8_t odd[kBufferSize];
  BuildRequest(odd, 'Z', cmd::kIpSettings, nullptr, 0);
  auto z = Header('z', cmd::kIpSettings, 0, 21);
  EXPECT_FALSE(AcceptsReply(odd, z.data(), z.size(), nullptr, -1)) << "unknown letters accept nothing";
}

TEST(NcsReaders, MinimumLengthsAndFieldPositions) {
  std::uint8_t mac[6];
  EXPECT_EQ(ReadIdentity(Exact(Header('q', cmd::kIdentity, 0, 10)).reply(), mac), kBadReply) << "24 bytes";
  EXPECT_EQ(ReadIdentity(Exact(Header('q', cmd::kIdentity, 0, 11)).reply(), mac), kOk);

  auto ip = Header('q', cmd::kIpSettings, 0, 21);
  const std::uint8_t fields[] = {10, 0, 0, 7, 255, 255, 0, 0, 10, 0, 0, 1};
  std::memcpy(ip.data() + kHeaderSize + 9, fields, sizeof fields);
  AddressSettings a{};
  ASSERT_EQ(ReadIpSettings(Exact(ip).reply(), a), kOk);
  EXPECT_EQ(a.method, 0x8000) << "method 0 is reported as 0x8000";
  EXPECT_EQ(a.ip[3], 7);
  EXPECT_EQ(a.mask[1], 255);
  EXPECT_EQ(a.gateway[3], 1);
  ip.pop_back();
  EXPECT_EQ(ReadIpSettings(Exact(ip).reply(), a), kBadReply);

  auto sec = Header('q', cmd::kWirelessSecurity, 0, 20);
  sec[kHeaderSize + 18] = 1;
  WirelessSettings w{};
  ASSERT_EQ(ReadWirelessSecurity(Exact(sec).reply(), w), kOk);
  EXPECT_EQ(w.keyLength, 5);
  sec[kHeaderSize + 18] = 3;
  ReadWirelessSecurity(Exact(sec).reply(), w);
  EXPECT_EQ(w.keyLength, 13);

  auto servers = Header('q', cmd::kDnsServers, 0, 3 + 8);
  servers[kHeaderSize + 2] = 2;
  DnsSettings d{};
  EXPECT_EQ(ReadDnsServers(Exact(servers).reply(), d), kOk);
  servers[kHeaderSize + 2] = 3;
  EXPECT_EQ(ReadDnsServers(Exact(servers).reply(), d), kBadReply) << "count promises more than the datagram holds";
  servers[kHeaderSize + 2] = 9;
  EXPECT_EQ(ReadDnsServers(Exact(servers).reply(), d), kUnexpected);

  auto online = Header('q', cmd::kOnline, 0, 1);
  online[kHeaderSize] = 200;
  EXPECT_EQ(ReadOnline(Exact(online).reply()), 200);
  online[11] = 1;
  EXPECT_EQ(ReadOnline(Exact(online).reply()), kBadReply) << "nonzero result";

  // A short text reply reads as NUL padding, never as what lies beyond it.
  auto text = Header('q', cmd::kLocation, 0, 3);
  std::memcpy(text.data() + kHeaderSize, "abc", 3);
  char out[256];
  std::memset(out, 'x', sizeof out);
  ReadText256(Exact(text).reply(), out);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(out[255], 0);
}

TEST(NcsReaders, WirelessStatusPadsAShortSsid) {
  auto full = Header('q', cmd::kWirelessStatus, 0, 50);
  full[kHeaderSize + 6] = 3;
  full[kHeaderSize + 7] = 0x12;
  full[kHeaderSize + 8] = 0x34;
  full[kHeaderSize + 17] = 0x77;
  std::memcpy(full.data() + kHeaderSize + 18, "counter-ap", 10);
  WirelessStatus st;
  ASSERT_EQ(ReadWirelessStatus(Exact(full).reply(), st), kOk);
  EXPECT_EQ(st.value0, 3);
  EXPECT_EQ(+st.value1, 0x1234);
  EXPECT_EQ(static_cast<std::uint8_t>(st.value10[1]), 0x77);
  EXPECT_STREQ(st.ssid, "counter-ap");

  // The SSID sent without its trailing NULs, or not at all: the rest is NULs.
  for (std::size_t payload : {std::size_t{28}, std::size_t{18}}) {
    std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<long>(kHeaderSize + payload));
    cut[13] = static_cast<std::uint8_t>(payload);
    std::memset(&st, 'x', sizeof st);
    ASSERT_EQ(ReadWirelessStatus(Exact(cut).reply(), st), kOk) << payload;
    EXPECT_EQ(+st.value1, 0x1234);
    EXPECT_STREQ(st.ssid, payload == 28 ? "counter-ap" : "");
    EXPECT_EQ(st.ssid[31], 0);
    EXPECT_EQ(st.ssidEnd, 0);
  }
  // A fixed field missing, or a nonzero result, is still a bad reply.
  std::vector<std::uint8_t> tooShort(full.begin(), full.begin() + static_cast<long>(kHeaderSize + 17));
  EXPECT_EQ(ReadWirelessStatus(Exact(tooShort).reply(), st), kBadReply);
  full[11] = 1;
  EXPECT_EQ(ReadWirelessStatus(Exact(full).reply(), st), kBadReply);
}

TEST(NcsReaders, BasicInformationAndDiscoveryRule) {
  BasicInfo info;
  auto ext = Discovery(kReplyExtended, 62, "QX-W");
  ext[kHeaderSize + 55] = 2;
  ASSERT_EQ(ReadBasicInfo(Exact(ext).reply(), info), kOk);
  EXPECT_TRUE(info.wireless);
  EXPECT_EQ(info.model, 0x0400);
  EXPECT_EQ(info.version, 0x0102);
  EXPECT_EQ(info.mac[5], 0xA5);
  // Extended marker without the extended bytes: not wireless.
  std::vector<std::uint8_t> cut(ext.begin(), ext.begin() + 70);
  ASSERT_EQ(ReadBasicInfo(Exact(cut).reply(), info), kOk);
  EXPECT_FALSE(info.wireless);
  EXPECT_EQ(ReadBasicInfo(Exact(Discovery(0, 53, "QX")).reply(), info), kBadReply);

  // Plain replies need "QX" and the full 68 bytes.
  EXPECT_TRUE(ReadDiscoveryReply(Exact(Discovery(0, 54, "QX-E04")).reply(), 1).has_value());
  EXPECT_FALSE(ReadDiscoveryReply(Exact(Discovery(0, 54, "XQ-E04")).reply(), 1).has_value());
  EXPECT_FALSE(ReadDiscoveryReply(Exact(Discovery(0, 53, "QX-E04")).reply(), 1).has_value());
  // Extended replies need capability bit 2 and the full 76 bytes.
  auto capable = Discovery(kReplyExtended, 62, "");
  capable[kHeaderSize + 61] = 4;
  capable[kHeaderSize + 55] = 2;
  const auto rec = ReadDiscoveryReply(Exact(capable).reply(), 0x0100007F);
  ASSERT_TRUE(rec.has_value());
  EXPECT_EQ(rec->wireless, 1u);
  EXPECT_EQ(rec->capabilities, 4u);
  EXPECT_EQ(rec->sender, 0x0100007Fu);
  EXPECT_EQ(SummaryOf(*rec).model, 0x0400);
  capable[kHeaderSize + 61] = 3;
  EXPECT_FALSE(ReadDiscoveryReply(Exact(capable).reply(), 1).has_value());
  capable[kHeaderSize + 61] = 4;
  capable.pop_back();
  EXPECT_FALSE(ReadDiscoveryReply(Exact(capable).reply(), 1).has_value()) << "75-byte extended reply";
  EXPECT_FALSE(ReadDiscoveryReply(Exact(Discovery(0x0100, 62, "QX")).reply(), 1).has_value());
}

TEST(NcsReaders, ArbitraryBytesNeverReadPastTheDatagram) {
  // Every reader over every length of a patterned datagram.
  std::vector<std::uint8_t> base(400);
  for (std::size_t i = 0; i < base.size(); ++i) base[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::memcpy(base.data(), "ORLEXq", 6);
  for (std::uint16_t result : {0, 0xE000}) {
    base[10] = static_cast<std::uint8_t>(result >> 8);
    base[11] = static_cast<std::uint8_t>(result);
    for (std::size_t len = 0; len <= base.size(); len += 1) {
      const Exact e(std::vector<std::uint8_t>(base.begin(), base.begin() + len));
      ReadAllReplies(e.reply());
    }
  }
  EXPECT_STREQ(ResultName(kWrongPassword), "wrong password");
  EXPECT_STREQ(ResultName(42), "unknown");
}

TEST(NcsAddresses, DottedTextParsesStrictly) {
  std::uint32_t a = 0;
  ASSERT_TRUE(tw::platform::ParseIpv4("127.0.0.161", a));
  EXPECT_EQ(a, tw::platform::Ipv4Address(127, 0, 0, 161));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.256", "1..2.3", " 1.2.3.4", "1.2.3.4x", "0001.2.3.4"}) {
    EXPECT_FALSE(tw::platform::ParseIpv4(bad, a)) << bad;
  }
  EXPECT_FALSE(tw::platform::ParseIpv4(nullptr, a));
}
