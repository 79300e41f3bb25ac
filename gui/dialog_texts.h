#pragma once
// Every text the front end shows, spelled as the users have always seen it
// (the misspellings included: manuals and support notes quote them).

namespace tw::gui::text {

// Main dialog.
inline constexpr char16_t kMainCaption[] = u"Orlex KP-S410 Slip Paper Sensor Adjustment Tool";
inline constexpr char16_t kPortGroup[] = u"Port";
inline constexpr char16_t kNoPortSelected[] = u"Port is not selected.";
inline constexpr char16_t kSelectPortButton[] = u"Select Port";
inline constexpr char16_t kRemoveSlipNotice[] =
    u"If Slip Paper is inserted, remove Slip Paler before starting adjustment.";
inline constexpr char16_t kAdjustmentButton[] = u"Adjustment";

// Result messages.
inline constexpr char16_t kAdjustmentTitle[] = u"Slip Papre Senser Adjustment";
inline constexpr char16_t kAdjustmentDone[] = u" is completed.";
inline constexpr char16_t kTestTitle[] = u"Communication Test";
inline constexpr char16_t kTestDone[] = u" is success.";
inline constexpr char16_t kFailed[] = u" is failed.\n";
inline constexpr char16_t kOtherModel[] = u"\nOthre Model";
inline constexpr char16_t kCommunicationError[] = u"\nA communication error occurred.";

// Select-port dialog.
inline constexpr char16_t kSelectPortCaption[] = u"Select Port";
inline constexpr char16_t kKindCom[] = u"COM";
inline constexpr char16_t kKindLpt[] = u"LPT";
inline constexpr char16_t kKindUsb[] = u"USB";
inline constexpr char16_t kKindEthernet[] = u"Ethernet";
inline constexpr char16_t kTestButton[] = u"Communication Test";
inline constexpr char16_t kSearchButton[] = u"Search";
inline constexpr char16_t kOkButton[] = u"OK";
inline constexpr char16_t kCancelButton[] = u"Cancel";

// Pages.
inline constexpr char16_t kPortLabel[] = u"Port";
inline constexpr char16_t kBaudrateLabel[] = u"Baudrate";
inline constexpr char16_t kParityLabel[] = u"Parity";
inline constexpr char16_t kDataBitLabel[] = u"Data Bit";
inline constexpr char16_t kIpAddressLabel[] = u"IP Address";

}  // namespace tw::gui::text
