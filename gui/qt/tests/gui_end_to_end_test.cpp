// End to end: the front end beside the real console program (this test lies
// in the build's bin folder, where Trimsense and the libraries are) against
// the simulated printer on 127.0.0.195: Ethernet page, address typed,
// "Adjustment", and the printer stores the threshold.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QComboBox>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gui/qt/tests/gui_driver.h"
#include "platform/process.h"

using namespace tw::gui::qt;
using namespace tw::gui::qt::testing;
namespace fs = std::filesystem;

namespace {

std::string ReportValue(const fs::path& report, const std::string& key) {
  std::ifstream in(report);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

// Chooses the network printer at `address` in the select-port dialog.
void ChooseNetworkPrinter(MainDialog& main, const QStringList& address) {
  auto c = QObject::connect(&main, &MainDialog::selectPortDialogShown, &main, [address](SelectPortDialog* d) {
    QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
    TypeAddress(d->AddressEdit(), address);
    QTest::mouseClick(d->OkButton(), Qt::LeftButton);
  });
  QTest::mouseClick(main.SelectPortButton(), Qt::LeftButton);
  QObject::disconnect(c);
}

constexpr const char* kAsUserVariable = "TW_GUI_E2E_AS_USER";

}  // namespace

class GuiEndToEndTest : public QObject {
  Q_OBJECT
 private slots:
  void adjustsTheSimulatedPrinterOverTheNetwork() {
    const fs::path bin = tw::platform::ExecutableFolder();
    QVERIFY(fs::exists(bin / tw::platform::ExecutableFileName("Trimsense")));
    const fs::path dir = fs::temp_directory_path() / ("gui-e2e-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    const fs::path report = dir / "sim.report", ready = dir / "sim.ready";
    auto sim = tw::platform::ChildProcess::Start(
        bin / "kps410-sim", {"--tcp", "127.0.0.195", "--level", "100", "--reset-ms", "300", "--report",
                             report.string(), "--ready-file", ready.string(), "--quiet"});
    QVERIFY(sim.IsRunning());
    QVERIFY(Wait([&] { return fs::exists(ready); }, 10000));

    MainDialog main;
    main.show();
    bool chosen = false;
    connect(&main, &MainDialog::selectPortDialogShown, this, [&](SelectPortDialog* d) {
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      TypeAddress(d->AddressEdit(), {"127", "0", "0", "195"});
      QTest::mouseClick(d->OkButton(), Qt::LeftButton);
      chosen = true;
    });
    QTest::mouseClick(main.SelectPortButton(), Qt::LeftButton);
    QVERIFY(chosen);
    QCOMPARE(main.PortText()->text(), QStringLiteral("127.0.0.195"));

    SeenMessage seen;
    bool answered = false;
    AnswerNextMessage(&seen, &answered);
    QTest::mouseClick(main.AdjustmentButton(), Qt::LeftButton);
    QVERIFY(Wait([&] { return answered; }, 120000));
    QCOMPARE(seen.caption, QStringLiteral("Slip Papre Senser Adjustment"));
    QCOMPARE(seen.text, QStringLiteral("Slip Papre Senser Adjustment is completed."));
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(ReportValue(report, "threshold"), std::string("35"));
    QCOMPARE(ReportValue(report, "threshold_writes"), std::string("1"));

    sim.Terminate(std::chrono::milliseconds(3000));
    fs::remove_all(dir);
  }

  // A serial port the user may not open: the specified box, and behind
  // "Show Details..." the console program's reason with the device and the
  // group. Root may open anything, so as root this test runs itself again
  // as "nobody" (setpriv) for this one case.
  void portTheUserMayNotOpenSaysWhyInTheDetails() {
    if (geteuid() == 0 && !std::getenv(kAsUserVariable)) {
      if (std::system("command -v setpriv >/dev/null && id nobody >/dev/null 2>&1") != 0) {
        QSKIP("running as root without setpriv or a user nobody");
      }
      const fs::path self = fs::read_symlink("/proc/self/exe");
      const std::string command = std::string(kAsUserVariable) + "=1 setpriv --reuid=nobody --regid=$(id -g nobody) " +
                                  "--clear-groups '" + self.string() + "' portTheUserMayNotOpenSaysWhyInTheDetails";
      QCOMPARE(std::system(command.c_str()), 0);
      return;
    }
    const fs::path dir = fs::temp_directory_path() / ("gui-denied-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir / "dos");
    { std::ofstream(dir / "ttyS9"); }
    fs::permissions(dir / "ttyS9", fs::perms::none);
    fs::create_symlink(dir / "ttyS9", dir / "dos" / "com7");
    tw::platform::SetEnv("PORTWIRE_DOSDEVICES", (dir / "dos").string());

    MainDialog main;
    main.show();
    bool chosen = false;
    QString listed;
    auto c = connect(&main, &MainDialog::selectPortDialogShown, this, [&](SelectPortDialog* d) {
      QComboBox* ports = d->ComPortList();
      const int row = ports->findText(QStringLiteral("COM7"));
      if (row >= 0) {
        ports->setCurrentIndex(row);
        listed = ports->itemData(row, Qt::ToolTipRole).toString();
        chosen = true;
      }
      QTest::mouseClick(d->OkButton(), Qt::LeftButton);
    });
    QTest::mouseClick(main.SelectPortButton(), Qt::LeftButton);
    disconnect(c);
    QVERIFY(chosen);
    // The list says so before any run.
    QVERIFY2(listed.contains(QStringLiteral("cannot be opened")), qPrintable(listed));

    QString text, caption, details;
    bool answered = false;
    When([] { return OpenMessageBox() != nullptr; }, [&] {
      QMessageBox* box = OpenMessageBox();
      text = box->text();
      caption = box->windowTitle();
      details = box->detailedText();
      answered = true;
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    QTest::mouseClick(main.AdjustmentButton(), Qt::LeftButton);
    QVERIFY(Wait([&] { return answered; }, 60000));
    QCOMPARE(caption, QStringLiteral("Slip Papre Senser Adjustment"));
    QCOMPARE(text, QStringLiteral("Slip Papre Senser Adjustment is failed.\n\nA communication error occurred."));
    QVERIFY2(details.contains(QStringLiteral("com7")), qPrintable(details));
    QVERIFY2(details.contains(QStringLiteral("dialout")), qPrintable(details));
    tw::platform::SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
    fs::remove_all(dir);
  }

  // The close box during an adjustment of a slowed printer, just after the
  // opening frame: the console program is asked to end, closes the
  // maintenance exchange (the printer receives the closing frame) and ends
  // within the 2 s grace period, so the window goes without killing it.
  void closeBoxDuringARunLeavesThePrinterOutOfItsMaintenanceExchange() {
    const fs::path bin = tw::platform::ExecutableFolder();
    const fs::path dir = fs::temp_directory_path() / ("gui-close-" + std::to_string(QCoreApplication::applicationPid()));
    fs::create_directories(dir);
    const fs::path report = dir / "sim.report", ready = dir / "sim.ready";
    auto sim = tw::platform::ChildProcess::Start(
        bin / "kps410-sim", {"--tcp", "127.0.0.198", "--fault", "slow", "--slow-ms", "400", "--report",
                             report.string(), "--ready-file", ready.string(), "--quiet"});
    QVERIFY(sim.IsRunning());
    QVERIFY(Wait([&] { return fs::exists(ready); }, 10000));

    auto* main = new MainDialog;
    main->show();
    ChooseNetworkPrinter(*main, {"127", "0", "0", "198"});
    QCOMPARE(main->PortText()->text(), QStringLiteral("127.0.0.198"));
    QTest::mouseClick(main->AdjustmentButton(), Qt::LeftButton);
    QVERIFY(Wait([&] { return ReportValue(report, "commands").find("frame_open") != std::string::npos; }, 30000));
    QElapsedTimer t;
    t.start();
    main->close();  // the close box
    const qint64 took = t.elapsed();
    QVERIFY(!main->Logic().Busy());
    delete main;
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    QVERIFY(Wait([&] { return ReportValue(report, "last_command") == "frame_close"; }, 5000));
    QCOMPARE(ReportValue(report, "threshold_writes"), std::string("0"));
    qInfo("close box ended the run in %lld ms", static_cast<long long>(took));
    sim.Terminate(std::chrono::milliseconds(3000));
    fs::remove_all(dir);
  }
};

QTEST_MAIN(GuiEndToEndTest)
#include "gui_end_to_end_test.moc"
