// Kitdrop on Linux: the folder dialog and the message box drawn by Qt.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>

#include "installer/kitdrop.h"
#include "platform/process.h"

namespace {

QString ToQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

class QtKitdropView : public tw::installer::IKitdropView {
 public:
  bool BrowseForFolder(const std::u16string& initialFolder, std::u16string& chosen) override {
    const QString folder = QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Select Folder"),
                                                             ToQString(initialFolder), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return false;
    chosen = folder.toStdU16String();
    if (chosen.back() != u'/') chosen.push_back(u'/');
    return true;
  }
  void ShowFailure(const std::u16string& text) override {
    QMessageBox::warning(nullptr, QStringLiteral("Kitdrop"), ToQString(text));
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QtKitdropView view;
  // -1 becomes exit status 255.
  return tw::installer::RunKitdrop(view, tw::platform::ExecutableFolder());
}
