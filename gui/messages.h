#pragma once
// What a run's exit code tells the user: message text, caption and box type.

#include <string>

namespace tw::gui {

// Message box types: an OK button alone, or with the error icon.
constexpr int kMbOk = 0;
constexpr int kMbIconError = 16;

struct MessageBoxSpec {
  std::u16string text;
  std::u16string caption;
  int type = kMbOk;
  // Shown behind the box's details button where the view has one (Qt);
  // the text, caption and type above stay as they are.
  std::u16string details;
  bool operator==(const MessageBoxSpec&) const = default;
};

// After "Adjustment" in the main dialog.
MessageBoxSpec AdjustmentResultMessage(int exitCode);
// After "Communication Test" in the select-port dialog.
MessageBoxSpec CommunicationTestResultMessage(int exitCode);
// The same two with the console program's reason as details (failures only).
MessageBoxSpec AdjustmentResultMessage(int exitCode, const std::u16string& reason);
MessageBoxSpec CommunicationTestResultMessage(int exitCode, const std::u16string& reason);

}  // namespace tw::gui
