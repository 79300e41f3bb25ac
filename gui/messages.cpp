#include "gui/messages.h"

#include "gui/cui_manager.h"
#include "gui/dialog_texts.h"

namespace tw::gui {
namespace {

// "<title> is failed.\n\n<reason>": one empty line between the two.
MessageBoxSpec ResultMessage(int exitCode, const char16_t* title, const char16_t* success) {
  MessageBoxSpec m;
  m.caption = title;
  m.text = title;
  if (exitCode == kExitSuccess) {
    m.text += success;
    m.type = kMbOk;
  } else {
    m.text += text::kFailed;
    m.text += exitCode == kExitOtherModel ? text::kOtherModel : text::kCommunicationError;
    m.type = kMbIconError;
  }
  return m;
}

MessageBoxSpec WithReason(MessageBoxSpec m, int exitCode, const std::u16string& reason) {
  if (exitCode != kExitSuccess) m.details = reason;
  return m;
}

}  // namespace

MessageBoxSpec AdjustmentResultMessage(int exitCode, const std::u16string& reason) {
  return WithReason(AdjustmentResultMessage(exitCode), exitCode, reason);
}

MessageBoxSpec CommunicationTestResultMessage(int exitCode, const std::u16string& reason) {
  return WithReason(CommunicationTestResultMessage(exitCode), exitCode, reason);
}

MessageBoxSpec AdjustmentResultMessage(int exitCode) {
  return ResultMessage(exitCode, text::kAdjustmentTitle, text::kAdjustmentDone);
}

MessageBoxSpec CommunicationTestResultMessage(int exitCode) {
  return ResultMessage(exitCode, text::kTestTitle, text::kTestDone);
}

}  // namespace tw::gui
