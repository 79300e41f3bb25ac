// portwire-ports on a umockdev machine: a USB-serial adapter, a parallel port
// and USB printers of both classes (one printer-class printer that usblp did
// not claim), each listed with the options Trimsense takes for it and the
// node that those options open.
#include <gtest/gtest.h>

#include <string>

#include "platform/process.h"
#include "platform/tests/umockdev_bed.h"

using tw::testing::UmockdevBed;

TEST(PortwirePortsBed, EveryKindWithItsOptionsNodeAndProduct) {
  if (!UmockdevBed::Usable()) GTEST_SKIP() << "needs umockdev-wrapper";
  tw::platform::SetEnv("PORTWIRE_DOSDEVICES", "/nonexistent-portwire-links");
  UmockdevBed bed;
  UmockdevBed::UsbDevice printer;
  printer.port = "1-2";
  printer.devnum = 3;
  printer.serial = "K4AB01";
  printer.productName = "QX-U01";
  printer.lpIndex = 0;
  UmockdevBed::UsbDevice vendor;
  vendor.port = "1-1";
  vendor.product = "0e15";
  vendor.serial = "V0001";
  vendor.productName = "KP-S410";
  vendor.interfaceClass = "ff";
  UmockdevBed::UsbDevice unclaimed = printer;
  unclaimed.port = "1-3";
  unclaimed.devnum = 4;
  unclaimed.serial = "K4AB02";
  unclaimed.lpIndex = -1;
  ASSERT_TRUE(bed.Add(UmockdevBed::UsbTty("ttyUSB0", "2-1") + UmockdevBed::Parallel(0) + UmockdevBed::Usb(printer) +
                      UmockdevBed::Usb(vendor) + UmockdevBed::Usb(unclaimed)));

  const auto run = tw::platform::RunProcess(tw::platform::GetEnv("PORTWIRE_PORTS").value_or(""), {"--json"}, true);
  ASSERT_TRUE(run.started);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string& out = run.output;
  EXPECT_NE(out.find("\"port\": \"COM33\", \"options\": \"-c33\", \"node\": \"/dev/ttyUSB0\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"port\": \"LPT1\", \"options\": \"-l1\", \"node\": \"/dev/lp0\""), std::string::npos) << out;
  // Library names count over both classes ("002"); Trimsense numbers per class.
  EXPECT_NE(out.find("\"port\": \"001\", \"options\": \"-u1 -uCv\", \"node\": \"/dev/bus/usb/001/002\""),
            std::string::npos) << out;
  EXPECT_NE(out.find("\"port\": \"002\", \"options\": \"-u1 -uCp\", \"node\": \"/dev/usb/lp0\""), std::string::npos)
      << out;
  EXPECT_NE(out.find("\"port\": \"003\", \"options\": \"-u2 -uCp\", \"node\": \"/dev/bus/usb/001/004\""),
            std::string::npos) << out;
  EXPECT_NE(out.find("#V0001#{6a1c43e2-9d07-4b58-a3f1-52c8e07d9b14}\", \"product\": \"KP-S410\""), std::string::npos)
      << out;
  EXPECT_NE(out.find("#K4AB01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\", \"product\": \"QX-U01\""), std::string::npos)
      << out;
}
