#include "installer/kitdrop.h"

#include "platform/files.h"
#include "platform/text.h"

namespace tw::installer {

namespace {

bool IsSeparator(char16_t c) {
  return c == u'/' || c == u'\\' || c == static_cast<char16_t>(std::filesystem::path::preferred_separator);
}

}  // namespace

std::u16string TargetFolder(const std::u16string& chosen) {
  std::u16string target = chosen;
  if (!target.empty() && !IsSeparator(target.back())) {
    target.push_back(static_cast<char16_t>(std::filesystem::path::preferred_separator));
  }
  return target + kProductFolderName;
}

std::vector<std::string> DeliveredFileNames() {
  std::vector<std::string> names;
  for (const char16_t* const* name = kDeliveredFiles; **name; ++name) {
    names.push_back(platform::NativeDeliverableFileName(*name));
  }
  return names;
}

int RunKitdrop(IKitdropView& view, const std::filesystem::path& sourceFolder) {
  std::u16string chosen;
  if (!view.BrowseForFolder(std::u16string(), chosen) || chosen.empty()) return kExitDone;

  const std::u16string targetText = TargetFolder(chosen);
  const std::filesystem::path target(targetText);
  std::string reason;
  // An existing folder is a failure too: a second run never mixes its files
  // into an earlier installation.
  if (!platform::CreateNewFolder(target, reason)) {
    std::u16string text = u"The folder \"";
    text += targetText;
    text += u"\" could not be created: ";
    text += platform::Utf8ToUtf16(reason);
    text += u".";
    view.ShowFailure(text);
    return kExitFolderNotMade;
  }

  // Files missing from the source folder are skipped without a word (a partial
  // kit installs what it has); a file that is there but cannot be copied is
  // named, all of them in one message.
  std::u16string failures;
  for (const std::string& name : DeliveredFileNames()) {
    const std::filesystem::path from = sourceFolder / name;
    if (!platform::RegularFileExists(from)) continue;
    if (!platform::CopyFileReplacing(from, target / name, reason)) {
      failures += u"\n";
      failures += platform::Utf8ToUtf16(name);
      failures += u": ";
      failures += platform::Utf8ToUtf16(reason);
    }
  }
  if (!failures.empty()) {
    std::u16string text = u"These files could not be copied into \"";
    text += targetText;
    text += u"\":";
    text += failures;
    view.ShowFailure(text);
  }
  return kExitDone;
}

}  // namespace tw::installer
