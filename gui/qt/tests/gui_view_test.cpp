// The Qt view with a stand-in console program beside the test binary: it
// records its arguments, ends with the exit code TW_STAND_IN_EXIT and can take
// TW_STAND_IN_SLEEP_MS, so the test sees the window still answering.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "gui/qt/tests/gui_driver.h"
#include "netsettings/ncs_engine.h"
#include "platform/process.h"
#include "sim/netif/netif_sim.h"

using namespace tw::gui::qt;
using namespace tw::gui::qt::testing;

namespace {

std::filesystem::path RecordFile() { return tw::platform::ExecutableFolder() / "stand-in-arguments.txt"; }

QStringList RecordedRuns() {
  QStringList runs;
  std::ifstream in(RecordFile());
  for (std::string line; std::getline(in, line);) runs << QString::fromStdString(line);
  return runs;
}

// Opens "Select Port", lets `drive` act on the dialog, and waits until it is closed.
void InSelectPort(MainDialog& main, std::function<void(SelectPortDialog*)> drive) {
  bool shown = false;
  auto c = QObject::connect(&main, &MainDialog::selectPortDialogShown, &main, [&](SelectPortDialog* d) {
    shown = true;
    drive(d);
    // A failed check inside `drive` returns early: close the dialog anyway.
    if (d->isVisible()) QTimer::singleShot(0, d, [d] { d->done(QDialog::Rejected); });
  });
  QTest::mouseClick(main.SelectPortButton(), Qt::LeftButton);
  QObject::disconnect(c);
  QVERIFY(shown);
}

}  // namespace

class GuiViewTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    std::filesystem::remove(RecordFile());
    tw::platform::SetEnv("TW_STAND_IN_RECORD", RecordFile().string());
    tw::platform::SetEnv("TW_STAND_IN_EXIT", "0");
    tw::platform::SetEnv("TW_STAND_IN_SLEEP_MS", std::nullopt);
  }

  void startsWithoutPortAndAdjustmentOff() {
    MainDialog main;
    main.show();
    QCOMPARE(main.windowTitle(), QStringLiteral("Orlex KP-S410 Slip Paper Sensor Adjustment Tool"));
    QCOMPARE(main.PortText()->text(), QStringLiteral("Port is not selected."));
    QVERIFY(!main.AdjustmentButton()->isEnabled());
    QVERIFY(main.SelectPortButton()->isEnabled());
    const auto labels = main.findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* l) {
      return l->text() == QStringLiteral("If Slip Paper is inserted, remove Slip Paler before starting adjustment.");
    }));
    // Same order from top to bottom as the template: port, notice, Adjustment.
    QVERIFY(main.PortText()->y() < main.AdjustmentButton()->y());
  }

  void ethernetChoiceTestAndCancelKeepsTheEarlierChoice() {
    MainDialog main;
    main.show();
    InSelectPort(main, [](SelectPortDialog* d) {
      QCOMPARE(d->windowTitle(), QStringLiteral("Select Port"));
      QVERIFY(d->KindButton(0)->isChecked());
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      QVERIFY(!d->OkButton()->isEnabled());
      QVERIFY(!d->TestButton()->isEnabled());
      TypeAddress(d->AddressEdit(), {"127", "0", "0", "5"});
      QVERIFY(d->OkButton()->isEnabled());
      QVERIFY(d->TestButton()->isEnabled());
      QTest::mouseClick(d->OkButton(), Qt::LeftButton);
    });
    QCOMPARE(main.PortText()->text(), QStringLiteral("127.0.0.5"));
    QVERIFY(main.AdjustmentButton()->isEnabled());

    // Again: a communication test that reports another model, then Cancel.
    tw::platform::SetEnv("TW_STAND_IN_EXIT", "6");
    SeenMessage seen;
    bool answered = false;
    InSelectPort(main, [&](SelectPortDialog* d) {
      QVERIFY(d->KindButton(3)->isChecked());
      QCOMPARE(d->AddressEdit()->Part(3)->text(), QStringLiteral("5"));
      TypeAddress(d->AddressEdit(), {"127", "0", "0", "9"});
      AnswerNextMessage(&seen, &answered);
      QTest::mouseClick(d->TestButton(), Qt::LeftButton);
      QVERIFY(!d->SearchButton()->isEnabled());
      QVERIFY(Wait([&] { return answered; }, 10000));
      QVERIFY(Wait([&] { return d->SearchButton()->isEnabled(); }, 2000));
      QVERIFY(d->OkButton()->isEnabled());
      QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(seen.caption, QStringLiteral("Communication Test"));
    QCOMPARE(seen.text, QStringLiteral("Communication Test is failed.\n\nOthre Model"));
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(RecordedRuns(), QStringList{QStringLiteral("-n127.0.0.9|-tC")});
    QCOMPARE(main.PortText()->text(), QStringLiteral("127.0.0.5"));
    QVERIFY(main.AdjustmentButton()->isEnabled());
  }

  void clearingTheAddressFieldTurnsOkAndTestOff() {
    MainDialog main;
    main.show();
    InSelectPort(main, [](SelectPortDialog* d) {
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      TypeAddress(d->AddressEdit(), {"300", "1", "2", "3"});
      QCOMPARE(d->AddressEdit()->Part(0)->text(), QStringLiteral("255"));
      QVERIFY(d->OkButton()->isEnabled());
      TypeAddress(d->AddressEdit(), {"", "", "", ""});
      QVERIFY(!d->OkButton()->isEnabled());
      QVERIFY(!d->TestButton()->isEnabled());
      QTest::keyClicks(d->AddressEdit()->Part(1), "7");
      QVERIFY(d->OkButton()->isEnabled());
      d->FoundPrinters()->addItem(QStringLiteral("192.168.192.168"));
      d->FoundPrinters()->setCurrentRow(0);
      QCOMPARE(d->AddressEdit()->Part(0)->text(), QStringLiteral("192"));
      QCOMPARE(d->AddressEdit()->Part(3)->text(), QStringLiteral("168"));
      QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
    });
    QCOMPARE(main.PortText()->text(), QStringLiteral("Port is not selected."));
    QVERIFY(!main.AdjustmentButton()->isEnabled());
  }

  void searchOnTheEthernetPageListsThePrinterAndPicksItsAddress() {
    // A simulated printer interface on 127.0.0.188; the discovery goes there.
    tw::sim::NetifConfig config;
    config.address = tw::platform::Ipv4Address(127, 0, 0, 188);
    tw::sim::NetifSimulator sim(config);
    std::string error;
    QVERIFY2(sim.Start(&error), error.c_str());
    tw::ncs::Overrides o = tw::ncs::GetOverrides();
    o.broadcastTarget = config.address;
    o.quietPeriod = std::chrono::milliseconds(500);
    tw::ncs::SetOverrides(o);

    MainDialog main;
    main.show();
    InSelectPort(main, [](SelectPortDialog* d) {
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      QCOMPARE(d->FoundPrinters()->count(), 0);  // no search until asked
      QTest::mouseClick(d->SearchButton(), Qt::LeftButton);
      QVERIFY(!d->SearchButton()->isEnabled());
      QVERIFY(!d->KindButton(0)->isEnabled());
      QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
      QVERIFY(Wait([&] { return d->SearchButton()->isEnabled(); }, 10000));
      QVERIFY(!QApplication::overrideCursor());
      QCOMPARE(d->FoundPrinters()->count(), 1);
      QCOMPARE(d->FoundPrinters()->item(0)->text(), QStringLiteral("127.0.0.188"));
      QVERIFY(!d->OkButton()->isEnabled());  // the field is still blank
      // Typed by hand, then Tab into the list: the typed address stays; only
      // picking a row fills the field.
      TypeAddress(d->AddressEdit(), {"10", "1", "2", "3"});
      d->FoundPrinters()->setFocus(Qt::TabFocusReason);
      QTest::qWait(50);
      QCOMPARE(d->AddressEdit()->Part(0)->text(), QStringLiteral("10"));
      QCOMPARE(d->AddressEdit()->Part(3)->text(), QStringLiteral("3"));
      d->FoundPrinters()->setCurrentRow(0);
      QCOMPARE(d->AddressEdit()->Part(3)->text(), QStringLiteral("188"));
      QVERIFY(d->OkButton()->isEnabled());
      QTest::mouseClick(d->OkButton(), Qt::LeftButton);
    });
    QCOMPARE(main.PortText()->text(), QStringLiteral("127.0.0.188"));

    // A search that would go on for a minute (the responder keeps the quiet
    // period from ever ending) ends when the dialog is closed.
    o.quietPeriod = std::chrono::seconds(60);
    tw::ncs::SetOverrides(o);
    qint64 closing = -1;
    InSelectPort(main, [&closing](SelectPortDialog* d) {
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      QTest::mouseClick(d->SearchButton(), Qt::LeftButton);
      QTest::qWait(300);
      QVERIFY(!d->SearchButton()->isEnabled());  // still searching
      QElapsedTimer t;
      t.start();
      d->close();
      closing = t.elapsed();
    });
    QVERIFY2(closing >= 0 && closing < 500, qPrintable(QString::number(closing)));
    QCOMPARE(main.PortText()->text(), QStringLiteral("127.0.0.188"));  // cancelled: the choice stays
    o.quietPeriod = std::chrono::milliseconds(500);
    tw::ncs::SetOverrides(o);
    sim.Stop();
  }

  void failureOffersTheConsoleProgramsReasonAsDetails() {
    MainDialog main;
    main.show();
    InSelectPort(main, [](SelectPortDialog* d) {
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      TypeAddress(d->AddressEdit(), {"127", "0", "0", "5"});
      QTest::mouseClick(d->OkButton(), Qt::LeftButton);
    });
    const QString reason = QStringLiteral("Trimsense: cannot open COM5 (/dev/ttyS4): Permission denied; members of group "
                                          "dialout may open it");
    for (const char* code : {"2", "0"}) {
      tw::platform::SetEnv("TW_STAND_IN_EXIT", code);
      tw::platform::SetEnv("TW_STAND_IN_STDERR", reason.toStdString());
      QString details = QStringLiteral("none yet"), text;
      bool answered = false;
      When([] { return OpenMessageBox() != nullptr; }, [&] {
        QMessageBox* box = OpenMessageBox();
        details = box->detailedText();
        text = box->text();
        answered = true;
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
      });
      QTest::mouseClick(main.AdjustmentButton(), Qt::LeftButton);
      QVERIFY(Wait([&] { return answered; }, 20000));
      if (std::string(code) == "0") {
        QCOMPARE(text, QStringLiteral("Slip Papre Senser Adjustment is completed."));
        QCOMPARE(details, QString());  // success says nothing more
      } else {
        QCOMPARE(text, QStringLiteral("Slip Papre Senser Adjustment is failed.\n\nA communication error occurred."));
        QCOMPARE(details, reason);
      }
    }
    tw::platform::SetEnv("TW_STAND_IN_STDERR", std::nullopt);
  }

  void portListsShowDeviceAndAccess() {
    // A serial port given by a link to a file the user may open: listed as
    // COM5, its details name the link and say it may be opened.
    const auto dir = std::filesystem::temp_directory_path() / ("gui-ports-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir / "dos");
    { std::ofstream(dir / "ttyOpen"); }
    std::filesystem::create_symlink(dir / "ttyOpen", dir / "dos" / "com5");
    tw::platform::SetEnv("PORTWIRE_DOSDEVICES", (dir / "dos").string());
    MainDialog main;
    main.show();
    InSelectPort(main, [&dir](SelectPortDialog* d) {
      QComboBox* ports = d->ComPortList();
      const int row = ports->findText(QStringLiteral("COM5"));
      QVERIFY(row >= 0);
      ports->setCurrentIndex(row);
      const QString tip = ports->itemData(row, Qt::ToolTipRole).toString();
      // The device the link leads to, then the link's name.
      QVERIFY2(tip.startsWith(QString::fromStdString((dir / "ttyOpen").string()) + QStringLiteral(" (link com5)")),
               qPrintable(tip));
      QVERIFY2(tip.contains(QStringLiteral("may be opened")), qPrintable(tip));
      auto* line = d->findChild<QLabel*>(QStringLiteral("comPortDetails"));
      QVERIFY(line);
      QVERIFY2(line->text().contains(QStringLiteral("com5")), qPrintable(line->text()));
      QCOMPARE(ports->itemText(row), QStringLiteral("COM5"));  // the item text stays the name
      QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
    });
    tw::platform::SetEnv("PORTWIRE_DOSDEVICES", std::nullopt);
    std::filesystem::remove_all(dir);
  }

  void adjustmentKeepsTheWindowAnsweringAndReportsTheResult() {
    MainDialog main;
    main.show();
    InSelectPort(main, [](SelectPortDialog* d) {
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      TypeAddress(d->AddressEdit(), {"127", "0", "0", "5"});
      QTest::mouseClick(d->OkButton(), Qt::LeftButton);
    });
    struct Case {
      const char* code;
      QString text;
      QMessageBox::Icon icon;
    };
    const Case cases[] = {
        {"0", QStringLiteral("Slip Papre Senser Adjustment is completed."), QMessageBox::NoIcon},
        {"6", QStringLiteral("Slip Papre Senser Adjustment is failed.\n\nOthre Model"), QMessageBox::Critical},
        {"3", QStringLiteral("Slip Papre Senser Adjustment is failed.\n\nA communication error occurred."),
         QMessageBox::Critical},
    };
    for (const Case& c : cases) {
      tw::platform::SetEnv("TW_STAND_IN_EXIT", c.code);
      tw::platform::SetEnv("TW_STAND_IN_SLEEP_MS", "1500");
      SeenMessage seen;
      bool answered = false;
      AnswerNextMessage(&seen, &answered);
      int ticks = 0;
      QTimer heartbeat;
      connect(&heartbeat, &QTimer::timeout, [&] { ++ticks; });
      heartbeat.start(50);
      QTest::mouseClick(main.AdjustmentButton(), Qt::LeftButton);
      QVERIFY(!main.AdjustmentButton()->isEnabled());
      QVERIFY(!main.SelectPortButton()->isEnabled());
      QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
      QVERIFY(Wait([&] { return answered; }, 20000));
      // The event loop kept running while the console program ran 1.5 s.
      QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
      QCOMPARE(seen.caption, QStringLiteral("Slip Papre Senser Adjustment"));
      QCOMPARE(seen.text, c.text);
      QCOMPARE(seen.icon, c.icon);
      QVERIFY(Wait([&] { return main.AdjustmentButton()->isEnabled(); }, 2000));
      QVERIFY(main.SelectPortButton()->isEnabled());
      QVERIFY(!QApplication::overrideCursor());
    }
    QCOMPARE(RecordedRuns(), (QStringList{"-n127.0.0.5", "-n127.0.0.5", "-n127.0.0.5"}));
  }

  void closingDuringARunEndsTheConsoleProgram() {
    auto* main = new MainDialog;
    main->show();
    InSelectPort(*main, [](SelectPortDialog* d) {
      QTest::mouseClick(d->KindButton(3), Qt::LeftButton);
      TypeAddress(d->AddressEdit(), {"127", "0", "0", "5"});
      QTest::mouseClick(d->OkButton(), Qt::LeftButton);
    });
    tw::platform::SetEnv("TW_STAND_IN_SLEEP_MS", "30000");
    QTest::mouseClick(main->AdjustmentButton(), Qt::LeftButton);
    QVERIFY(Wait([] { return !RecordedRuns().isEmpty(); }, 5000));  // it runs
    QElapsedTimer t;
    t.start();
    main->close();
    QVERIFY(!main->Logic().Busy());
    QVERIFY(t.elapsed() < 10000);
    QVERIFY(!OpenMessageBox());
    delete main;
  }
};

QTEST_MAIN(GuiViewTest)
#include "gui_view_test.moc"
