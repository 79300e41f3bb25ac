// TrimsenseGUI: the front end. Choose a port, press "Adjustment", read the
// result; the console program Trimsense beside this program does the work.
#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "gui/qt/main_dialog_qt.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = write(signalPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TrimsenseGUI"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/trimsense/trimsense.png")));
  tw::gui::qt::MainDialog dialog;

  // SIGTERM, SIGINT and SIGHUP close the window the ordinary way, so a console
  // program still running is ended and collected first, never left behind.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog] {
      char c;
      [[maybe_unused]] const ssize_t n = read(signalPipe[0], &c, 1);
      dialog.close();
      QApplication::quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
  }

  dialog.show();
  return app.exec();
}
