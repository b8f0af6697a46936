// The main window's layout: every component at its place and size, the menu, the status bar,
// the minimum size and the resize rule (the workspace takes up every change).

#include "cardpanel.h"
#include "diagnosticswindow.h"
#include "hostmessages.h"
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
    void hostDiagnosisWindowListsNewestLast();
    void windowIconAtEverySize();
    void highlightedEntryKeepsStatusPanels_data();
    void highlightedEntryKeepsStatusPanels();
    void menuBarColours();
    void dropDownTakesTheBarsFont();
    void statusBarPanels();
    void statusPanelPicturesFollowBursts();
    void jobTagIsShownAsItCame();
    void minimumSizeAndResize();
    void hugeCardEndsInsideWorkspaceBorder_data();
    void hugeCardEndsInsideWorkspaceBorder();
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
    // The machine's four entries, with the entries added for test rigs before the end.
    QCOMPARE(entries, (QStringList{"&Maschinen Parameter", "&Hintergrundbild laden", "M&onitor",
                                   "&Kartenbild speichern...", "Monitor-&Protokoll speichern...",
                                   "&Host-Diagnose...", "&Beenden"}));
    QCOMPARE(sim.window->windowTitle(), QStringLiteral("Corvane Embosser Simulator"));
}

// "Host-Diagnose..." lists what the machine diagnosed so far and what follows, newest last.
void TestMainWindow::hostDiagnosisWindowListsNewestLast()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QVERIFY(host.connected);
    host.send("ab" + kPoll);
    QCOMPARE(host.read(2), ackReply('P'));
    sim.window->acDiagnostics->trigger();
    DiagnosticsWindow *list = sim.window->diagnosticsWindow();
    QVERIFY(list && list->isVisible());
    host.send(HostMessages::embossData("AB"));
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_VERIFY(list->text().contains(QStringLiteral("no_format")));
    const QStringList lines = list->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("diagnostic 1 tcp:1 stray_bytes_dropped: ")));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("diagnostic 2 tcp:1 no_format: ")));
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

namespace
{
bool isGrey(QRgb pixel)
{
    return qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel);
}
} // namespace

void TestMainWindow::highlightedEntryKeepsStatusPanels_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("Beenden") << "FileExit1";
    QTest::newRow("Monitor") << "acLog";
    QTest::newRow("Maschinen Parameter") << "acSetup";
}

// The window shows no hints: a highlighted entry (Beenden has a status tip) leaves every pixel
// of the five panels as it was.
void TestMainWindow::highlightedEntryKeepsStatusPanels()
{
    QFETCH(QString, entry);
    Simulator sim;
    sim.start();
    sim.window->setStatusPanelText(0, QStringLiteral("Waiting"));
    sim.window->setStatusPanelText(1, QStringLiteral("SEL"));
    sim.window->setStatusPanelText(3, QStringLiteral("00001"));
    QTest::qWait(50);
    QStatusBar *bar = sim.window->statusBar();
    const QImage before = shot(*bar);
    // Opened from the bar, as the operator opens it: the hint travels up to the window.
    QAction *dateiEntry = sim.window->menuBar()->actions().first();
    QMenu *datei = dateiEntry->menu();
    sim.window->menuBar()->setActiveAction(dateiEntry);
    QVERIFY(QTest::qWaitForWindowExposed(datei));
    QAction *action = sim.window->findChild<QAction *>(entry);
    QVERIFY(action);
    QTest::mouseMove(datei, datei->actionGeometry(action).center());
    QTRY_COMPARE(datei->activeAction(), action);
    QTest::keyClick(datei, Qt::Key_Down);
    QTest::keyClick(datei, Qt::Key_Up);
    QCOMPARE(datei->activeAction(), action);
    QCoreApplication::processEvents();
    QCOMPARE(bar->currentMessage(), QString());
    compareImages(shot(*bar), before);
    datei->close();
}

// The bar's empty area and the open entry are white, the captions black, a disabled caption
// RGB 109, 109, 109; no line under the entries, which sit centred in the 27-pixel bar.
void TestMainWindow::menuBarColours()
{
    Simulator sim;
    sim.start();
    QMenuBar *bar = sim.window->menuBar();
    QAction *datei = bar->actions().first();
    const QRect dateiItem = bar->actionGeometry(datei);
    const QRect infoItem = bar->actionGeometry(sim.window->acInfo);
    QCOMPARE(dateiItem.height(), 20);
    QCOMPARE(dateiItem.top(), 3);

    bar->setActiveAction(datei); // opens the drop-down, the entry is drawn as open
    QVERIFY(QTest::qWaitForWindowExposed(datei->menu()));
    const QImage open = shot(*bar);
    datei->menu()->close();
    QCOMPARE(open.pixel(bar->width() - 3, 13), qRgb(255, 255, 255));
    int darkest = 255;
    for (int y = 0; y < bar->height(); ++y)
        for (int x = dateiItem.left(); x <= infoItem.right(); ++x) {
            const QRgb pixel = open.pixel(x, y);
            QVERIFY2(
                isGrey(pixel),
                qPrintable(QStringLiteral("pixel %1, %2: %3").arg(x).arg(y).arg(pixel, 8, 16)));
            darkest = qMin(darkest, qRed(pixel));
        }
    QCOMPARE(darkest, 0); // black captions
    // No line under the entries: below the captions and their mnemonic underline the rows are
    // white across the bar.
    for (int y = 21; y < bar->height(); ++y)
        for (int x = 0; x < bar->width() - 1; ++x)
            QCOMPARE(open.pixel(x, y), qRgb(255, 255, 255));

    sim.window->acInfo->setEnabled(false);
    const QImage disabled = shot(*bar);
    int darkestDisabled = 255;
    for (int y = infoItem.top(); y <= infoItem.bottom(); ++y)
        for (int x = infoItem.left(); x <= infoItem.right(); ++x)
            darkestDisabled = qMin(darkestDisabled, qRed(disabled.pixel(x, y)));
    QCOMPARE(darkestDisabled, 109);
}

// A drop-down is a window of its own; it draws its entries in the bar's font all the same.
void TestMainWindow::dropDownTakesTheBarsFont()
{
    Simulator sim;
    sim.start();
    QMenuBar *bar = sim.window->menuBar();
    QMenu *datei = bar->actions().first()->menu();
    QCOMPARE(datei->font().pixelSize(), 13);
    QCOMPARE(QFontInfo(datei->font()).family(), QFontInfo(bar->font()).family());
    QCOMPARE(QFontInfo(datei->font()).family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(datei->palette().color(QPalette::Disabled, QPalette::Text), QColor(109, 109, 109));
    // The entries are laid out in it too: "Maschinen Parameter" is as wide as the bar's font
    // makes it.
    const QRect entry = datei->actionGeometry(sim.window->acSetup);
    QVERIFY(entry.width() >=
            QFontMetrics(bar->font()).horizontalAdvance(QStringLiteral("Maschinen Parameter")));
}

void TestMainWindow::statusBarPanels()
{
    Simulator sim;
    sim.start();
    const int widths[5] = {120, 50, 120, 120, 50};
    // Side by side from the bar's left edge: x = 0, 120, 170, 290, 410.
    int left = 0;
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(sim.window->statusPanels[i]->geometry(), QRect(left, 3, widths[i], 14));
        left += widths[i];
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
// The tag is the host's text: markup in it is shown, not obeyed (an <img> would load a file).
void TestMainWindow::jobTagIsShownAsItCame()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    const QByteArray tag = "<u>AB"; // the tag is five characters
    host.send(HostMessages::formatDefinition({HostMessages::record("085", "120", '0', "14")}));
    QCOMPARE(host.read(2), ackReply('2'));
    host.send(HostMessages::embossData("", tag));
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_VERIFY(!sim.machine().longActionRunning());
    QLabel *panel = sim.window->statusPanels[JobTagPanel];
    QCOMPARE(panel->text(), QString::fromLatin1(tag));
    QCOMPARE(panel->textFormat(), Qt::PlainText);
}

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

void TestMainWindow::hugeCardEndsInsideWorkspaceBorder_data()
{
    QTest::addColumn<QByteArray>("size"); // height, width in 0.1 mm, as the format gives them
    QTest::newRow("9999 x 9999") << QByteArray("9999  9999");
    QTest::newRow("wide") << QByteArray("0540  9999");
    QTest::newRow("tall") << QByteArray("9999  0856");
}

// A card larger than the workspace is cut off inside its 1-pixel border: the border's four
// lines stay whole, and the card reaches right up to them.
void TestMainWindow::hugeCardEndsInsideWorkspaceBorder()
{
    QFETCH(QByteArray, size);
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    host.send("\x01"
              "31\x02"
              "F]00 U0   " +
              size + " 0100 050 0  14\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_VERIFY(sim.window->cardPanel->width() > 485 || sim.window->cardPanel->height() > 306);
    QFrame *workSpace = sim.window->paWorkSpace;
    const QImage picture = shot(*workSpace);
    const QRgb border = qRgb(0, 0, 0);
    const int right = picture.width() - 1;
    const int bottom = picture.height() - 1;
    for (int x = 0; x <= right; ++x) {
        QCOMPARE(picture.pixel(x, 0), border);
        QCOMPARE(picture.pixel(x, bottom), border);
    }
    for (int y = 0; y <= bottom; ++y) {
        QCOMPARE(picture.pixel(0, y), border);
        QCOMPARE(picture.pixel(right, y), border);
    }
    // Inside the border the card lies where it reaches beyond the workspace.
    const QRgb workSpaceGrey = qRgb(87, 87, 87);
    const QRect card = sim.window->cardPanel->geometry();
    if (card.right() >= right)
        QVERIFY(picture.pixel(right - 1, qMin(card.center().y(), bottom - 1)) != workSpaceGrey);
    if (card.bottom() >= bottom)
        QVERIFY(picture.pixel(card.left() + 200, bottom - 1) != workSpaceGrey);
    // What draws the border takes no clicks: they reach what lies beneath.
    QWidget *hit = workSpace->childAt(right, 100);
    QVERIFY(!hit || hit == sim.window->cardPanel);
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
        host.send(kPoll);
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
