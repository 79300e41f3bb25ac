#include "installer/kitdrop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using tw::installer::DeliveredFileNames;
using tw::installer::kExitDone;
using tw::installer::kExitFolderNotMade;
using tw::installer::kProductFolderName;
using tw::installer::RunKitdrop;
using tw::installer::TargetFolder;

namespace {

// Answers the folder dialog with a fixed choice (or a cancel) and records the
// message boxes.
class FakeView : public tw::installer::IKitdropView {
 public:
  explicit FakeView(std::u16string choice, bool cancel = false) : choice_(std::move(choice)), cancel_(cancel) {}
  bool BrowseForFolder(const std::u16string& initialFolder, std::u16string& chosen) override {
    ++dialogs;
    initial = initialFolder;
    if (cancel_) return false;
    chosen = choice_;
    return true;
  }
  void ShowFailure(const std::u16string& text) override { failures.push_back(text); }

  int dialogs = 0;
  std::u16string initial = u"unset";
  std::vector<std::u16string> failures;

 private:
  std::u16string choice_;
  bool cancel_;
};

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
}

std::u16string U16(const fs::path& path) { return path.generic_u16string(); }

// A source folder with the six delivered files (distinct binary contents) and
// an empty folder to choose, both removed at the end.
class KitdropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    base_ = fs::temp_directory_path() / ("kitdrop-test-" + std::to_string(random()));
    source_ = base_ / "kit";
    root_ = base_ / "chosen";
    fs::create_directories(source_);
    fs::create_directories(root_);
    int n = 0;
    for (const std::string& name : DeliveredFileNames()) {
      std::string content = name + std::string("\0\r\n\x1a\xff", 5);
      ++n;
      content.append(static_cast<size_t>(1000 * n), static_cast<char>(n));
      WriteAll(source_ / name, content);
    }
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(base_, fs::perms::all, ec);
    fs::remove_all(base_, ec);
  }
  fs::path Target() const { return root_ / fs::path(std::u16string(kProductFolderName)); }

  fs::path base_, source_, root_;
};

TEST(KitdropFiles, SixFilesInCopyOrderWithThisSystemsNames) {
  // Windows keeps the names of the table; Linux gives programs no extension
  // and libraries the lib*.so form.
  const std::vector<std::string> windowsNames = {"Trimsense.exe", "TrimsenseGUI.exe", "Portwire.dll",
                                            "lnkioapi.dll",  "Manual.pdf",       "License.txt"};
  const std::vector<std::string> linuxNames = {"Trimsense",      "TrimsenseGUI", "libPortwire.so",
                                          "liblnkioapi.so", "Manual.pdf",   "License.txt"};
  const auto names = DeliveredFileNames();
  EXPECT_EQ(names, names[0] == "Trimsense.exe" ? windowsNames : linuxNames);
}

TEST(KitdropFiles, TargetHasExactlyOneSeparatorBeforeTheProductFolder) {
  const std::u16string product = kProductFolderName;
  EXPECT_EQ(TargetFolder(u"C:\\"), u"C:\\" + product);
  EXPECT_EQ(TargetFolder(u"D:\\Tools\\"), u"D:\\Tools\\" + product);
  EXPECT_EQ(TargetFolder(u"/"), u"/" + product);
  EXPECT_EQ(TargetFolder(u"/opt/"), u"/opt/" + product);
  const std::u16string bare = TargetFolder(u"/opt");
  EXPECT_EQ(bare.size(), std::u16string(u"/opt/").size() + product.size());
  EXPECT_EQ(bare.find(u"//"), std::u16string::npos);
  EXPECT_EQ(bare.substr(5), product);
}

TEST_F(KitdropTest, CancelledDialogTouchesNothing) {
  FakeView view(U16(root_), /*cancel=*/true);
  EXPECT_EQ(RunKitdrop(view, source_), kExitDone);
  EXPECT_EQ(view.dialogs, 1);
  EXPECT_EQ(view.initial, u"");
  EXPECT_TRUE(view.failures.empty());
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(KitdropTest, FreshFolderGetsSixByteIdenticalFiles) {
  FakeView view(U16(root_) + u"/");
  EXPECT_EQ(RunKitdrop(view, source_), kExitDone);
  EXPECT_TRUE(view.failures.empty());
  ASSERT_TRUE(fs::is_directory(Target()));
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(Target())) {
    (void)entry;
    ++count;
  }
  EXPECT_EQ(count, 6u);
  for (const std::string& name : DeliveredFileNames()) {
    EXPECT_EQ(ReadAll(Target() / name), ReadAll(source_ / name)) << name;
  }
}

TEST_F(KitdropTest, SecondRunWithTheSameChoiceFailsAndLeavesTheFirstCopy) {
  FakeView first(U16(root_) + u"/");
  ASSERT_EQ(RunKitdrop(first, source_), kExitDone);
  const std::string manual = ReadAll(source_ / "Manual.pdf");
  // A newer kit must not seep into the existing installation.
  for (const std::string& name : DeliveredFileNames()) WriteAll(source_ / name, "newer");

  FakeView second(U16(root_) + u"/");
  EXPECT_EQ(RunKitdrop(second, source_), kExitFolderNotMade);
  EXPECT_EQ(kExitFolderNotMade & 0xff, 255);
  ASSERT_EQ(second.failures.size(), 1u);
  EXPECT_NE(second.failures[0].find(kProductFolderName), std::u16string::npos);
  EXPECT_NE(second.failures[0].find(u"could not be created"), std::u16string::npos);
  EXPECT_EQ(ReadAll(Target() / "Manual.pdf"), manual);
  for (const std::string& name : DeliveredFileNames()) EXPECT_NE(ReadAll(Target() / name), "newer") << name;
}

TEST_F(KitdropTest, MissingSourceFileIsSkippedSilently) {
  const std::string missing = DeliveredFileNames()[2];
  fs::remove(source_ / missing);
  FakeView view(U16(root_) + u"/");
  EXPECT_EQ(RunKitdrop(view, source_), kExitDone);
  EXPECT_TRUE(view.failures.empty());
  EXPECT_FALSE(fs::exists(Target() / missing));
  for (const std::string& name : DeliveredFileNames()) {
    if (name != missing) {
      EXPECT_EQ(ReadAll(Target() / name), ReadAll(source_ / name)) << name;
    }
  }
}

TEST_F(KitdropTest, ChosenFolderWithAndWithoutTrailingSeparator) {
  // Without the separator (as a dialog may return it) and with it: the same
  // product folder directly below the chosen one.
  FakeView bare(U16(root_));
  EXPECT_EQ(RunKitdrop(bare, source_), kExitDone);
  EXPECT_TRUE(fs::is_regular_file(Target() / "License.txt"));
  fs::remove_all(Target());

  FakeView trailing(U16(root_) + u"/");
  EXPECT_EQ(RunKitdrop(trailing, source_), kExitDone);
  EXPECT_TRUE(fs::is_regular_file(Target() / "License.txt"));
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(root_)) {
    EXPECT_EQ(entry.path().filename(), fs::path(std::u16string(kProductFolderName)));
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST_F(KitdropTest, FolderThatCannotBeMadeIsNamedAndNothingIsCopied) {
  FakeView view(U16(root_ / "no-such-parent") + u"/");
  EXPECT_EQ(RunKitdrop(view, source_), kExitFolderNotMade);
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_NE(view.failures[0].find(u"no-such-parent"), std::u16string::npos);
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(KitdropTest, FileThatExistsButCannotBeReadIsNamedAndTheOthersStillArrive) {
  const std::string blocked = DeliveredFileNames()[4];
  fs::permissions(source_ / blocked, fs::perms::none);
  if (std::ifstream(source_ / blocked, std::ios::binary).is_open()) {
    GTEST_SKIP() << "file permissions do not stop this user from reading (root, or Wine)";
  }
  FakeView view(U16(root_) + u"/");
  EXPECT_EQ(RunKitdrop(view, source_), kExitDone);
  ASSERT_EQ(view.failures.size(), 1u);
  EXPECT_NE(view.failures[0].find(u"Manual.pdf"), std::u16string::npos);
  for (const std::string& name : DeliveredFileNames()) {
    if (name != blocked) {
      EXPECT_EQ(ReadAll(Target() / name), ReadAll(source_ / name)) << name;
    }
  }
}

}  // namespace
