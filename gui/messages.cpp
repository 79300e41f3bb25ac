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

}  // namespace

MessageBoxSpec AdjustmentResultMessage(int exitCode) {
  return ResultMessage(exitCode, text::kAdjustmentTitle, text::kAdjustmentDone);
}

MessageBoxSpec CommunicationTestResultMessage(int exitCode) {
  return ResultMessage(exitCode, text::kTestTitle, text::kTestDone);
}

}  // namespace tw::gui
