// End to end: the front end beside the real console program (this test lies
// in the build's bin folder, where Trimsense and the libraries are) against
// the simulated printer on 127.0.0.195: Ethernet page, address typed,
// "Adjustment", and the printer stores the threshold.
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
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
};

QTEST_MAIN(GuiEndToEndTest)
#include "gui_end_to_end_test.moc"
