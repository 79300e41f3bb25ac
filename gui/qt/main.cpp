// TrimsenseGUI: the front end. Choose a port, press "Adjustment", read the
// result; the console program Trimsense beside this program does the work.
#include <QApplication>
#include <QIcon>

#include "gui/qt/main_dialog_qt.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TrimsenseGUI"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/trimsense/trimsense.png")));
  tw::gui::qt::MainDialog dialog;
  dialog.show();
  return app.exec();
}
