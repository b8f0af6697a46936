// The main window's menu actions for its three other windows: "Maschinen Parameter" (when each
// setup value takes effect), "Monitor" (real traffic over TCP in both halves) and "Info"
// (the main window's style while the About box shows).

#include "modalwindows.h"
#include "hostmessages.h"
#include "simulatorharness.h"
#include "testfiles.h"

#include "aboutwnd.h"
#include "monitorform.h"
#include "trafficlogview.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <pty.h>
#include <unistd.h>

namespace
{


} // namespace

class TestDialogActions : public QObject
{
    Q_OBJECT
private slots:
    void setupShowsCurrentValues();
    void cancelKeepsValuesFontsAtOnceStayOnTopApplied();
    void okWritesSettingsKeepsSerialChoiceAndAppliesStayOnTop();
    void okWithUnwritableFileTouchesNothingElse();
    void monitorShowsTrafficOnlyWhileShown();
    void aboutBoxLowersWindowOnlyWhileShown();
};

void TestDialogActions::setupShowsCurrentValues()
{
    Simulator sim;
    sim.start();
    TfrmSetup &setup = sim.window->frmSetup();
    QStringList entries;
    QString selected, protocol;
    bool centred = false;
    whenModalShows([&](QWidget *modal) {
        QCOMPARE(modal, &setup);
        for (int i = 0; i < setup.cbCOM->count(); ++i)
            entries.append(setup.cbCOM->itemText(i));
        selected = setup.cbCOM->currentText();
        protocol = setup.cbProtocol->currentText();
        // Before its first show the dialog's frame is not known: off by the frame at most.
        centred = (setup.frameGeometry().center() - sim.window->frameGeometry().center())
                      .manhattanLength() <= 4;
        setup.btnCancel->click();
    });
    sim.window->acSetup->trigger();
    QVERIFY(!entries.isEmpty());
    QCOMPARE(entries.first(), QStringLiteral("NONE"));
    QCOMPARE(selected, QStringLiteral("NONE"));
    QCOMPARE(protocol, QStringLiteral("SEP"));
    QVERIFY(centred);
}

void TestDialogActions::cancelKeepsValuesFontsAtOnceStayOnTopApplied()
{
    Simulator sim;
    sim.start();
    const quint16 listening = sim.port();
    const QString panel2 = sim.panel(2);
    TfrmSetup &setup = sim.window->frmSetup();
    setup.setExtraSerialPorts({QStringLiteral("/tmp/vserial0")});
    whenModalShows([&](QWidget *) {
        setup.udFont0->setValue(8);
        setup.ePort->selectAll();
        QTest::keyClicks(setup.ePort, QStringLiteral("4711"));
        setup.cbStayOnTop->setChecked(true);
        setup.cbCOM->setCurrentText(QStringLiteral("/tmp/vserial0"));
        setup.btnCancel->click();
    });
    sim.window->acSetup->trigger();
    // The fields keep what the operator did; the fonts are in effect for the next job already.
    QCOMPARE(setup.font0Height(), 8);
    QCOMPARE(setup.portText(), QStringLiteral("4711"));
    // Stay-on-top takes effect however the dialog closed; the serial port choice does not.
    QVERIFY(sim.onTop());
    QCOMPARE(sim.window->SerialDeviceName(), QStringLiteral("NONE"));
    // The TCP port takes effect at the next start only.
    QCOMPARE(sim.port(), listening);
    QCOMPARE(sim.panel(2), panel2);
    QVERIFY(!QFile::exists(sim.settingsPath()));

    sim.window->close();
    const QByteArray written = readAll(sim.settingsPath());
    QVERIFY(written.contains("\nFont0=8\n"));
    QVERIFY(written.contains("\nPort=4711\n"));
    QVERIFY(written.contains("\nStayOnTop=1\n"));
}

void TestDialogActions::okWritesSettingsKeepsSerialChoiceAndAppliesStayOnTop()
{
    // A pseudo-terminal stands for the serial line the operator chooses.
    int master = -1, slave = -1;
    char name[256] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const QString device = QString::fromLocal8Bit(name);
    ::close(slave);
    Simulator sim;
    sim.start();
    sim.window->setStatusPanelText(0, QStringLiteral("Waiting"));
    TfrmSetup &setup = sim.window->frmSetup();
    setup.setExtraSerialPorts({device});
    whenModalShows([&](QWidget *) {
        setup.cbStayOnTop->setChecked(true);
        setup.cbCOM->setCurrentText(device);
        setup.btnOK->click();
    });
    sim.window->acSetup->trigger();
    QVERIFY(sim.onTop());
    QCOMPARE(sim.window->SerialDeviceName(), device);
    QCOMPARE(sim.panel(0), device); // the port opened
    QVERIFY(readAll(sim.settingsPath()).endsWith("\nStayOnTop=1\n"));

    // The choice is selected again at the next show; "NONE" and no stay-on-top undo both.
    QString selectedAgain;
    whenModalShows([&](QWidget *) {
        selectedAgain = setup.serialPortName();
        setup.cbStayOnTop->setChecked(false);
        setup.cbCOM->setCurrentIndex(0);
        setup.btnOK->click();
    });
    sim.window->acSetup->trigger();
    QCOMPARE(selectedAgain, device);
    QVERIFY(!sim.onTop());
    QCOMPARE(sim.window->SerialDeviceName(), QStringLiteral("NONE"));
    QCOMPARE(sim.panel(0), device); // "NONE" closes the port and leaves the panel
    QVERIFY(readAll(sim.settingsPath()).endsWith("\nStayOnTop=0\n"));
    QVERIFY(sim.errors.messages.isEmpty());
    ::close(master);
}

void TestDialogActions::okWithUnwritableFileTouchesNothingElse()
{
    QTemporaryDir base;
    const QString blocker = base.filePath(QStringLiteral("blocker"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    Simulator sim(100, blocker + QStringLiteral("/Vorlak"));
    sim.start();
    TfrmSetup &setup = sim.window->frmSetup();
    setup.setExtraSerialPorts({QStringLiteral("/tmp/vserial0")});
    whenModalShows([&](QWidget *) {
        setup.cbStayOnTop->setChecked(true);
        setup.cbCOM->setCurrentText(QStringLiteral("/tmp/vserial0"));
        setup.btnOK->click();
    });
    // Through the event loop, where the program's failures are caught and reported.
    QTimer::singleShot(0, sim.window->acSetup, &QAction::trigger);
    QTRY_COMPARE(sim.errors.messages.size(), 1);
    QCOMPARE(sim.errors.messages[0],
             QStringLiteral("In %1/Vorlak/Vorlak.ini kann nicht geschrieben werden.").arg(blocker));
    QVERIFY(!sim.onTop());
    QCOMPARE(sim.window->SerialDeviceName(), QStringLiteral("NONE"));
}

void TestDialogActions::monitorShowsTrafficOnlyWhileShown()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QVERIFY(host.connected);
    TMonitorForm &monitor = sim.window->MonitorForm();
    QCOMPARE(host.poll(), ackReply('P'));
    QVERIFY(!monitor.isVisible());

    sim.window->acLog->trigger();
    QVERIFY(monitor.isVisible());
    QCOMPARE(monitor.RxLog->text(), QString());
    QCOMPARE(host.poll(), ackReply('P'));
    QCOMPARE(monitor.RxLog->text(), QStringLiteral("#431#5"));
    QCOMPARE(monitor.TxLog->text(), QStringLiteral("#6P "));

    sim.clearToReady();
    sim.window->cbFeederEmpty->setChecked(true);
    QCOMPARE(host.poll(27), QByteArray("\x06"
                                       "3\x02"
                                       "E82        FEEDER EMPTY\x03"));
    QVERIFY(monitor.TxLog->text().endsWith(QStringLiteral("#63#2E82        FEEDER EMPTY#3 ")));

    host.send("\r\n\xC4\x80");
    QTRY_VERIFY(monitor.RxLog->text().endsWith(QStringLiteral("#13#10#196#8364")));

    // Hidden, it records nothing; shown again, it shows the earlier text and goes on.
    monitor.btnClose->click();
    const QString rx = monitor.RxLog->text();
    const QString tx = monitor.TxLog->text();
    host.send(kPoll);
    QCOMPARE(host.read(27).size(), 27);
    QCOMPARE(monitor.RxLog->text(), rx);
    sim.window->acLog->trigger();
    sim.window->acLog->trigger(); // already shown: stays shown
    QVERIFY(monitor.isVisible());
    QCOMPARE(monitor.TxLog->text(), tx);
    host.poll(27);
    QCOMPARE(monitor.RxLog->text(), rx + QStringLiteral("#431#5"));
}

void TestDialogActions::aboutBoxLowersWindowOnlyWhileShown()
{
    Simulator sim;
    {
        QFile file(sim.dir.filePath(QStringLiteral("Vorlak.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Setup]\nStayOnTop=1\n");
    }
    sim.start();
    QVERIFY(sim.onTop());
    bool onTopWhileShown = true;
    QString caption, version;
    whenModalShows([&](QWidget *modal) {
        onTopWhileShown = sim.onTop();
        caption = modal->windowTitle();
        if (auto *about = qobject_cast<TAboutWnd *>(modal))
            version = about->lblVersion->text();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    sim.window->acInfo->trigger();
    QVERIFY(!onTopWhileShown);
    QCOMPARE(caption, QStringLiteral("About Vorlak\u00AE"));
    QCOMPARE(version, QStringLiteral("%1.%2 (Build: %3.%4)")
                          .arg(VORLAK_VERSION_MAJOR)
                          .arg(VORLAK_VERSION_MINOR)
                          .arg(VORLAK_VERSION_PATCH)
                          .arg(VORLAK_VERSION_TWEAK));
    QVERIFY(sim.onTop());

    // A normal window stays normal.
    sim.window->frmSetup().cbStayOnTop->setChecked(false);
    whenModalShows([&](QWidget *) { sim.window->frmSetup().btnCancel->click(); });
    sim.window->acSetup->trigger();
    QVERIFY(!sim.onTop());
    whenModalShows([&](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Return); });
    sim.window->acInfo->trigger();
    QVERIFY(!sim.onTop());
}

VORLAK_TEST_MAIN(TestDialogActions)
#include "tst_dialogactions.moc"
