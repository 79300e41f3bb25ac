// "BT" and "SERIAL" listings of KPC_EnumDevPort against BlueZ as
// python3-dbusmock's bluez5 template plays it on a private system bus, with
// rfcomm ttys on a umockdev machine. bluetooth_dbusmock.sh sets the bus up and
// names the stage in PORTWIRE_TEST_BT_STAGE:
//   absent     no BlueZ on the bus
//   noadapter  BlueZ without an adapter
//   paired     a paired printer bound to rfcomm0, a paired phone without a
//              serial port, an unpaired device bound to rfcomm1
//   hung       the same BlueZ, stopped: it keeps its name but never answers
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/bluetooth.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/tests/umockdev_bed.h"
#include "portwire.h"

namespace {

using tw::testing::UmockdevBed;

std::string Stage() { return tw::platform::GetEnv("PORTWIRE_TEST_BT_STAGE").value_or(""); }

struct Listing {
  int32_t result = 0;
  std::vector<std::u16string> names;
  std::vector<std::u16string> addresses;
  std::vector<std::u16string> models;
};

std::u16string Text(const PW_TEXT& t) {
  std::u16string s;
  for (size_t i = 0; i < 260 && t[i]; ++i) s.push_back(static_cast<char16_t>(t[i]));
  return s;
}

class BluetoothListing : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UmockdevBed::Usable() || Stage().empty()) GTEST_SKIP() << "run by bluetooth_dbusmock.sh";
    tw::platform::SetEnv("PORTWIRE_DOSDEVICES", "/nonexistent-portwire-links");
    bed = std::make_unique<UmockdevBed>();
    ASSERT_TRUE(bed->Add(UmockdevBed::UsbTty("ttyUSB0", "2-1") + UmockdevBed::Rfcomm(0, "00:11:22:aa:bb:cc") +
                         UmockdevBed::Rfcomm(1, "66:77:88:99:aa:bb")));
    module = tw::platform::Module::Load(u"Portwire.dll");
    enumDevPort = module.Function<decltype(&::KPC_EnumDevPort)>("KPC_EnumDevPort");
    ASSERT_NE(enumDevPort, nullptr);
  }
  Listing List(const char16_t* type) {
    std::vector<PortSettings> records(8);
    std::vector<PortSettings*> slots;
    for (auto& r : records) slots.push_back(&r);
    Listing l;
    uint32_t found = 0;
    l.result = enumDevPort(reinterpret_cast<const uint16_t*>(type), slots.data(), 8, &found);
    for (uint32_t i = 0; i < found && i < 8; ++i) {
      l.names.push_back(Text(records[i].portName));
      l.addresses.push_back(Text(records[i].bluetoothAddress));
      l.models.push_back(Text(records[i].modelName));
      EXPECT_EQ(Text(records[i].portType), u"COM");
    }
    return l;
  }
  std::unique_ptr<UmockdevBed> bed;
  tw::platform::Module module;
  decltype(&::KPC_EnumDevPort) enumDevPort = nullptr;
};

const std::vector<std::u16string> kAll = {u"COM33", u"COM161", u"COM162"};

TEST_F(BluetoothListing, AsTheStageHasIt) {
  const std::string stage = Stage();
  if (stage == "absent") {
    EXPECT_EQ(tw::platform::BluetoothSupportLevel(), 0);
    // Without Bluetooth, "BT" and "SERIAL" list every serial port.
    EXPECT_EQ(List(u"BT").names, kAll);
    EXPECT_EQ(List(u"SERIAL").names, kAll);
  } else if (stage == "noadapter") {
    EXPECT_EQ(tw::platform::BluetoothSupportLevel(), 2);
    std::vector<tw::platform::PairedBluetoothDevice> devices;
    EXPECT_EQ(tw::platform::SearchPairedBluetoothDevices(devices, nullptr), tw::platform::kBluetoothNone);
    const Listing bt = List(u"BT");
    EXPECT_EQ(bt.result, PW_OK);
    EXPECT_TRUE(bt.names.empty());
    EXPECT_EQ(List(u"SERIAL").names, kAll);
  } else if (stage == "paired") {
    EXPECT_EQ(tw::platform::BluetoothSupportLevel(), 2);
    const Listing bt = List(u"BT");
    EXPECT_EQ(bt.result, PW_OK);
    ASSERT_EQ(bt.names, (std::vector<std::u16string>{u"COM161"}));
    EXPECT_EQ(bt.addresses[0], u"00:11:22:AA:BB:CC");
    EXPECT_EQ(bt.models[0], u"KP-S410 BT");
    const Listing serial = List(u"SERIAL");
    EXPECT_EQ(serial.names, (std::vector<std::u16string>{u"COM33", u"COM162"}));
    EXPECT_EQ(serial.addresses[0], u"Unknown");
  } else if (stage == "hung") {
    // A hung daemon counts as no BlueZ, and finds that out within seconds
    // (about one per query), not after the bus's 25 s default.
    const auto bound = std::chrono::seconds(8);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tw::platform::BluetoothSupportLevel(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
    std::vector<tw::platform::PairedBluetoothDevice> devices;
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(tw::platform::SearchPairedBluetoothDevices(devices, nullptr), tw::platform::kBluetoothUnavailable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, bound);
    for (const char16_t* type : {u"BT", u"SERIAL"}) {
      start = std::chrono::steady_clock::now();
      const Listing l = List(type);
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_EQ(l.result, PW_OK);
      EXPECT_EQ(l.names, kAll) << "as without Bluetooth";
      EXPECT_LT(took, bound);
      std::printf("listing with a hung BlueZ: %lld ms\n",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    }
  } else {
    FAIL() << "unknown stage " << stage;
  }
}

}  // namespace
