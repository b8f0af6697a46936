// The main window's layout: every component at its place and size, the menu, the status bar,
// the minimum size and the resize rule (the workspace takes up every change).

#include "cardpanel.h"
#include "simulatorharness.h"
#include "widgetpictures.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void componentsAtTheirPlaces_data();
    void componentsAtTheirPlaces();
    void menuEntries();
    void windowIconAtEverySize();
    void statusBarPanels();
    void statusPanelPicturesFollowBursts();
    void minimumSizeAndResize();
    void closeDuringJobWaitsForItsEnd();
};

void TestMainWindow::componentsAtTheirPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("LCDScreen") << "LCDScreen" << QRect(5, 6, 307, 28);
    QTest::newRow("btnReset") << "btnReset" << QRect(318, 6, 43, 28);
    QTest::newRow("btnPause") << "btnPause" << QRect(365, 6, 43, 28);
    QTest::newRow("btnClear") << "btnClear" << QRect(412, 6, 43, 28);
    QTest::newRow("cbFeederEmpty") << "cbFeederEmpty" << QRect(5, 40, 92, 17);
    QTest::newRow("cbCardMisfeed") << "cbCardMisfeed" << QRect(108, 40, 92, 17);
    QTest::newRow("cbYMotorError") << "cbYMotorError" << QRect(206, 40, 132, 17);
    QTest::newRow("cbXMotorError") << "cbXMotorError" << QRect(338, 40, 132, 17);
    QTest::newRow("CardPanel") << "CardPanel" << QRect(10, 11, 500, 318);
}

void TestMainWindow::componentsAtTheirPlaces()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    Simulator sim;
    sim.start();
    QMap<QString, QWidget *> byName{
        {QStringLiteral("LCDScreen"), sim.window->LCDScreen},
        {QStringLiteral("btnReset"), sim.window->btnReset},
        {QStringLiteral("btnPause"), sim.window->btnPause},
        {QStringLiteral("btnClear"), sim.window->btnClear},
        {QStringLiteral("cbFeederEmpty"), sim.window->cbFeederEmpty},
        {QStringLiteral("cbCardMisfeed"), sim.window->cbCardMisfeed},
        {QStringLiteral("cbYMotorError"), sim.window->cbYMotorError},
        {QStringLiteral("cbXMotorError"), sim.window->cbXMotorError},
        {QStringLiteral("CardPanel"), sim.window->cardPanel},
    };
    QCOMPARE(byName.value(name)->geometry(), geometry);
}

void TestMainWindow::menuEntries()
{
    Simulator sim;
    QMenuBar *bar = sim.window->menuBar();
    const QList<QAction *> top = bar->actions();
    QCOMPARE(top.size(), 2);
    QCOMPARE(top[0]->text(), QStringLiteral("&Datei"));
    QCOMPARE(top[1]->text(), QStringLiteral("&Info"));
    QVERIFY(top[1]->menu() == nullptr);
    QStringList entries;
    const QList<QAction *> datei = top[0]->menu()->actions();
    for (QAction *action : datei) {
        if (!action->isSeparator())
            entries << action->text();
    }
    // The machine's four entries, with the two save entries of the test rigs before the end.
    QCOMPARE(entries, (QStringList{"&Maschinen Parameter", "&Hintergrundbild laden", "M&onitor",
                                   "&Kartenbild speichern...", "Monitor-&Protokoll speichern...",
                                   "&Beenden"}));
    QCOMPARE(sim.window->windowTitle(), QStringLiteral("Corvane Embosser Simulator"));
}

// The window system is handed the program's own icon, at every size the icon theme holds,
// and the setup dialog shows the same one.
void TestMainWindow::windowIconAtEverySize()
{
    Simulator sim;
    sim.start();
    QWindow *handle = sim.window->windowHandle();
    QVERIFY(handle);
    const QIcon icon = handle->icon();
    QList<QSize> expected;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        expected << QSize(size, size);
    QCOMPARE(icon.availableSizes(), expected);
    for (const QSize &size : expected) {
        const QImage picture = icon.pixmap(size).toImage();
        QCOMPARE(picture.size(), size);
        // Drawn, not blank: the plate's corner is transparent, its centre is the dark hub.
        QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
        QVERIFY(qGray(picture.pixel(size.width() / 2, size.height() / 2)) < 80);
    }
    QCOMPARE(sim.window->frmSetup().windowIcon().availableSizes(), expected);
}

void TestMainWindow::statusBarPanels()
{
    Simulator sim;
    sim.start();
    const int widths[5] = {120, 50, 120, 120, 50};
    int left = 2;
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(sim.window->statusPanels[i]->geometry(), QRect(left, 3, widths[i], 14));
        left += widths[i] + 6;
        if (i != 2)
            QCOMPARE(sim.panel(i), QString());
    }
    QCOMPARE(sim.window->statusBar()->height(), 19);

    // Every poll toggles panel 1: a new text repaints the panel, it does not lay the status bar
    // out again.
    QTest::qWait(50);
    EventCounter counter(sim.window->statusBar(), QEvent::LayoutRequest);
    for (int i = 0; i < 20; ++i) {
        sim.window->setStatusPanelText(1, i % 2 ? QString() : QStringLiteral("SEL"));
        sim.window->setStatusPanelText(0, i % 2 ? QStringLiteral("Waiting")
                                                : QStringLiteral("Host connected"));
        QCoreApplication::processEvents();
    }
    QCOMPARE(counter.count, 0);
}

// A host that polls without pause toggles panel 1 at every poll: the text is exact at once,
// the picture follows at most every 20 ms, and always shows the last text in the end.
void TestMainWindow::statusPanelPicturesFollowBursts()
{
    Simulator sim;
    sim.start();
    QLabel *panel = sim.window->statusPanels[1];
    QTest::qWait(50);
    EventCounter counter(panel);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 400; ++i) {
        const QString text = i % 2 ? QString() : QStringLiteral("SEL");
        sim.window->setStatusPanelText(1, text);
        QCOMPARE(sim.panel(1), text);
        QCoreApplication::processEvents();
    }
    const qint64 took = clock.elapsed();
    QVERIFY2(counter.count <= 2 + 2 * (took / 20 + 1),
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(counter.count).arg(took)));
    // The burst's last text ("" after "SEL") is on screen once the period is over.
    sim.window->setStatusPanelText(1, QStringLiteral("SEL"));
    const int before = counter.count;
    QTRY_VERIFY(counter.count > before);
    QTest::qWait(40);
    QVERIFY(panel->updatesEnabled());
    // What the window holds now is what painting the panel afresh gives.
    const QImage shown = onScreen(*panel);
    panel->repaint();
    QCOMPARE(shown, onScreen(*panel));
}

void TestMainWindow::minimumSizeAndResize()
{
    Simulator sim;
    sim.start();
    // The limits are on the outer size, frame included.
    sim.window->resize(100, 100);
    QCOMPARE(sim.window->frameGeometry().size(), QSize(540, 512));
    sim.window->resize(600, 550);
    const int workspaceBefore = sim.window->paWorkSpace->height();
    sim.window->resize(700, 650);
    QCOMPARE(sim.window->paWorkSpace->height(), workspaceBefore + 100);
    QCOMPARE(sim.window->paHeader->height(), 41);
    QCOMPARE(sim.window->paBottom->height(), 67);
    QCOMPARE(sim.window->paBottom->width(), 700);
    // The logo keeps to the header's right edge; the card panel keeps its place.
    QCOMPARE(sim.window->imgDelvor->geometry().right(), 700 - 10 - 1);
    QCOMPARE(sim.window->cardPanel->pos(), QPoint(10, 11));
}

void TestMainWindow::closeDuringJobWaitsForItsEnd()
{
    Simulator sim(10);
    sim.start();
    HostClient host(sim.port());
    host.send("\x01"
              "31\x02"
              "F]00 U0   0540  0856 0100 050 0  14\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    QSignalSpy closed(sim.window.get(), &TfrmVorlak::closed);
    bool shownAfterClose = false;
    bool busyAfterClose = false;
    // The close comes while the job strikes (nested inside this test's wait).
    QTimer::singleShot(60, [&] {
        sim.window->close();
        shownAfterClose = sim.window->isVisible();
        busyAfterClose = sim.state().Busy;
        // From now on host input is ignored: this poll goes unanswered.
        host.send("\x04"
                  "31\x05");
    });
    host.send("\x01"
              "31\x02"
              "T]00ABCDEFGH@00001\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 5000);
    QVERIFY(shownAfterClose);
    QVERIFY(busyAfterClose);
    QVERIFY(sim.state().Closing);
    // The job ran to its end: every glyph was struck.
    QCOMPARE(sim.sound.played.count(QStringLiteral("Emboss.wav")), 8);
    QVERIFY(!sim.window->isVisible());
    QCOMPARE(host.readFor(30), QByteArray());
}

VORLAK_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
