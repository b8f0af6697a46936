// Emboss jobs driven by a host over TCP, on the real window with fast machine waits: the order
// of the strikes, where each glyph goes, the operator's buttons during a job, the Reverse mode
// and the failures of a field's font or pitch.

#include "cardpanel.h"
#include "hostmessages.h"
#include "jobscript.h"
#include "messagedecoder.h"
#include "pixels.h"
#include "simulatorharness.h"

#include <QCheckBox>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>

using namespace HostMessages;

namespace
{
// Pitch 14 puts the characters of a field at x offsets 0, 14, 29, 43, 58, ...
const QByteArray kTop = record("085", "120", '0', "14");    // 5 mm cells from y 20, x 68
const QByteArray kBottom = record("226", "120", '0', "14"); // 5 mm cells from y 100, x 68

struct Strike {
    QChar c;
    int x;
    int y;
    int h;
};

QList<Strike> strikes(Simulator &sim)
{
    QList<Strike> out;
    for (const StruckGlyph &g : sim.window->decoder().lastJobStrikes())
        out.append({g.character, g.x, g.y, g.fontHeight});
    return out;
}

QString describe(const QList<Strike> &list)
{
    QStringList parts;
    for (const Strike &s : list)
        parts.append(QStringLiteral("%1@%2,%3/%4").arg(s.c).arg(s.x).arg(s.y).arg(s.h));
    return parts.join(QLatin1Char(' '));
}

int struckCount(Simulator &sim)
{
    return static_cast<int>(sim.window->decoder().lastJobStrikes().size());
}

// Sends a message and waits until the job it started has run its final steps.
void runJob(Simulator &sim, HostClient &host, const QByteArray &message)
{
    host.send(message);
    QTRY_VERIFY_WITH_TIMEOUT(sim.sound.played.contains(QStringLiteral("Reset.wav")) &&
                                 !sim.machine().longActionRunning(),
                             10000);
}

void sendFormat(Simulator &sim, HostClient &host, const QList<QByteArray> &records)
{
    host.send(formatDefinition(records));
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_VERIFY(!sim.machine().longActionRunning());
}

QStringList embossSounds(int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out.append(QStringLiteral("Emboss.wav"));
    return out;
}
} // namespace

class TestJobsFromHost : public QObject
{
    Q_OBJECT
private slots:
    void strikeOrder_data();
    void strikeOrder();
    void blanksTakeTheirPlaceButAreNotStruck();
    void fontSelectorsGiveCellHeights_data();
    void fontSelectorsGiveCellHeights();
    void glyphIsWhiteThenGreyOnePixelDownRight();
    void emptyFieldTextStillRunsTheFinalSteps();
    void failures_data();
    void failures();
    void failureReachesErrorBoxAfterFinalSteps();
    void pollsDuringJobAnswerBusy();
    void pauseHoldsAndClearStrikesOneMoreEachTime();
    void clearRememberedBeforeJobLetsOneMoreStrike();
    void resetStopsJobBeforeNextStrike();
    void resetWhilePoweredOnLeavesJobAlone();
    void clearWhileNotPausedLetsJobGoOn();
    void reverseDrawsTurnedGlyphsLineByLine();
    void hostResetRequestResumesPausedJob();
    void formatDuringJobErasesCardAndJobGoesOn();
};

void TestJobsFromHost::strikeOrder_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");
    // All A before all B, whatever the fields; within a character, y then x as text.
    QTest::newRow("AB over BA") << QByteArray("AB\r\nBA")
                                << "A@82,100/28 A@68,20/28 B@68,100/28 B@82,20/28";
    QTest::newRow("a and A in one group")
        << QByteArray("aAB") << "a@68,20/28 A@82,20/28 B@97,20/28";
    QTest::newRow("y 100 before y 20") << QByteArray("Z\r\nZ") << "Z@68,100/28 Z@68,20/28";
    QTest::newRow("x as text: 111 before 68") << QByteArray("Q  Q") << "Q@111,20/28 Q@68,20/28";
    QTest::newRow("digits before letters") << QByteArray("A1") << "1@82,20/28 A@68,20/28";
}

void TestJobsFromHost::strikeOrder()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop, kBottom});
    runJob(sim, host, embossData(text));
    QCOMPARE(describe(strikes(sim)), expected);
    const int n = static_cast<int>(strikes(sim).size());
    QCOMPARE(sim.sound.played, embossSounds(n) + QStringList{"Reset.wav"});
    QVERIFY(!sim.state().Busy);
    QVERIFY(sim.errors.messages.isEmpty());
}

void TestJobsFromHost::blanksTakeTheirPlaceButAreNotStruck()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop, kBottom});
    runJob(sim, host, embossData("A  B\r\n   \t"));
    QCOMPARE(describe(strikes(sim)), QStringLiteral("A@68,20/28 B@111,20/28"));
    QCOMPARE(sim.sound.played, embossSounds(2) + QStringList{"Reset.wav"});
}

void TestJobsFromHost::fontSelectorsGiveCellHeights_data()
{
    QTest::addColumn<char>("selector");
    QTest::addColumn<int>("height");
    // Font 0 is 5 mm (28 pixels), Font 1 is 8 mm (45 pixels).
    QTest::newRow("0") << '0' << 28;
    QTest::newRow("1") << '1' << 45;
    QTest::newRow("2") << '2' << 28;
    QTest::newRow("3 to 9 take Font 0") << '7' << 28;
}

void TestJobsFromHost::fontSelectorsGiveCellHeights()
{
    QFETCH(char, selector);
    QFETCH(int, height);
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.window->frmSetup().udFont0->setValue(5);
    sim.window->frmSetup().udFont1->setValue(8);
    // Both fields with their cells' bottom edges at Y 22.6 mm (pixel 128).
    sendFormat(sim, host, {kBottom, record("226", "400", selector, "14")});
    runJob(sim, host, embossData("H\r\nH"));
    const QList<Strike> list = strikes(sim);
    QCOMPARE(list.size(), 2);
    for (const Strike &s : list) {
        const int expectedHeight = s.x == 68 ? 28 : height;
        QCOMPARE(s.h, expectedHeight);
        QCOMPARE(s.y + s.h, 128);
        // The ink of each glyph (white and grey copy) stays inside its cell.
        const QRect cell(s.x, s.y, 3 * s.h, s.h + 1);
        const QRect ink =
            inkBounds(sim.window->cardPanel->glyphLayer(), cell.adjusted(-4, -20, 4, 20));
        QVERIFY2(cell.contains(ink), qPrintable(describe(list)));
    }
}

void TestJobsFromHost::glyphIsWhiteThenGreyOnePixelDownRight()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop, kBottom});
    runJob(sim, host, embossData("\r\n  H"));
    // Line 1, character 2: x = 68 + 29, cell top y = 128 - 28.
    QCOMPARE(describe(strikes(sim)), QStringLiteral("H@97,100/28"));

    CardPanel &card = *sim.window->cardPanel;
    const CellFont font = FixedPitchCellFont(QStringLiteral("Courier New"), true, 28, card);
    QImage expected(card.glyphLayer().size(), QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::transparent);
    QPainter p(&expected);
    p.setFont(font.font);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QPointF(97, 100 + font.ascent), QStringLiteral("H"));
    p.setPen(QColor(128, 128, 128));
    p.drawText(QPointF(98, 101 + font.ascent), QStringLiteral("H"));
    p.end();
    QCOMPARE(card.glyphLayer(), expected);

    // The highlight shows along the top and left edges, the grey body below and right of it.
    const QImage &layer = card.glyphLayer();
    const QRect ink = inkBounds(layer);
    QVERIFY(QRect(97, 100, 20, 29).contains(ink));
    auto colourAt = [&](int x, int y) { return QColor(layer.pixel(x, y)).rgb(); };
    int white = 0;
    int grey = 0;
    for (int y = ink.top(); y <= ink.bottom(); ++y) {
        for (int x = ink.left(); x <= ink.right(); ++x) {
            white += colourAt(x, y) == qRgb(255, 255, 255) && qAlpha(layer.pixel(x, y)) == 255;
            grey += colourAt(x, y) == qRgb(128, 128, 128) && qAlpha(layer.pixel(x, y)) == 255;
        }
    }
    QVERIFY(white > 0 && grey > white);
    int topRowWhite = 0;
    for (int x = ink.left(); x <= ink.right(); ++x)
        topRowWhite += colourAt(x, ink.top()) == qRgb(255, 255, 255);
    QVERIFY(topRowWhite > 0);
    int bottomRowGrey = 0;
    for (int x = ink.left(); x <= ink.right(); ++x)
        bottomRowGrey += colourAt(x, ink.bottom()) == qRgb(128, 128, 128);
    QVERIFY(bottomRowGrey > 0);
}

void TestJobsFromHost::emptyFieldTextStillRunsTheFinalSteps()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop});
    runJob(sim, host, embossData(""));
    QVERIFY(!sim.state().Busy);
    QVERIFY(strikes(sim).isEmpty());
    QCOMPARE(sim.sound.played, QStringList{"Reset.wav"});
}

void TestJobsFromHost::failures_data()
{
    QTest::addColumn<QList<QByteArray>>("format");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    const QByteArray badPitch = record("085", "120", '0', "x1");
    QTest::newRow("third line, two fields")
        << QList<QByteArray>{kTop, kBottom} << QByteArray("AB\r\nCD\r\nEF")
        << "'' ist kein gültiger Integerwert.";
    QTest::newRow("two breaks at the end when all fields are used")
        << QList<QByteArray>{kTop, kBottom} << QByteArray("AB\r\nCD\r\n\r\n")
        << "'' ist kein gültiger Integerwert.";
    QTest::newRow("font selector not a digit, even on an empty line")
        << QList<QByteArray>{record("085", "120", 'X', "14"), kBottom} << QByteArray("\r\nA")
        << "'X' ist kein gültiger Integerwert.";
    QTest::newRow("pitch not a number at its first placed character")
        << QList<QByteArray>{kTop, badPitch} << QByteArray("A\r\n  B")
        << "'x1' ist kein gültiger Integerwert.";
    QTest::newRow("pitch never read on a line of blanks")
        << QList<QByteArray>{badPitch, kBottom} << QByteArray("   \r\nA") << QString();
}

void TestJobsFromHost::failures()
{
    QFETCH(QList<QByteArray>, format);
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, format);
    runJob(sim, host, embossData(text));
    if (error.isEmpty()) {
        QVERIFY(sim.errors.messages.isEmpty());
        QCOMPARE(strikes(sim).size(), 1);
        return;
    }
    QCOMPARE(sim.errors.messages, QStringList{error});
    // Nothing is struck: the error comes in the build phase.
    QVERIFY(strikes(sim).isEmpty());
    QCOMPARE(sim.sound.played, QStringList{"Reset.wav"});
    QVERIFY(!sim.state().Busy);
    QCOMPARE(host.readFor(5), ackReply('2'));
    QCOMPARE(host.poll(), ackReply('P'));
}

void TestJobsFromHost::failureReachesErrorBoxAfterFinalSteps()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop, kBottom});
    QStringList soundsAtError;
    bool busyAtError = true;
    StandardErrorBox::setHandler([&](const QString &) {
        soundsAtError = sim.sound.played;
        busyAtError = sim.state().Busy;
    });
    runJob(sim, host, embossData("A\r\nB\r\nC"));
    QTRY_COMPARE(soundsAtError, QStringList{"Reset.wav"});
    QVERIFY(!busyAtError);
}

void TestJobsFromHost::pollsDuringJobAnswerBusy()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop, kBottom});
    QByteArray beforePoll;
    QByteArray reply;
    QString display;
    JobScript script;
    script.when([&] { return struckCount(sim) >= 2; },
                [&] {
                    beforePoll = host.readFor(5);
                    reply = host.poll();
                    display = sim.display();
                });
    script.start();
    runJob(sim, host, embossData("ABCDEFGH\r\nIJKLMNOP"));
    QVERIFY(script.done());
    QCOMPARE(beforePoll, ackReply('2')); // the message's own acknowledgement
    QCOMPARE(reply, ackReply('2'));
    QCOMPARE(display, QStringLiteral("BUSY"));
    QCOMPARE(strikes(sim).size(), 16);
    QCOMPARE(host.poll(), ackReply('P'));
}

void TestJobsFromHost::pauseHoldsAndClearStrikesOneMoreEachTime()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop, kBottom});
    int atPause = -1;
    QList<int> held; // strikes counted while the job holds
    QByteArray pollReply;
    QString display;
    JobScript script;
    script
        .when([&] { return struckCount(sim) >= 2; },
              [&] {
                  atPause = struckCount(sim);
                  sim.window->btnPause->click();
              })
        .after(40, [&] {
            held.append(struckCount(sim));
            host.readFor(5);
            pollReply = host.poll();
            display = sim.display();
        });
    for (int i = 0; i < 3; ++i) {
        script.after(0, [&] { sim.window->btnClear->click(); })
            .when([&] { return !sim.state().ClearRequested; }, [] {})
            .after(40, [&] { held.append(struckCount(sim)); });
    }
    script.after(0, [&] { sim.window->btnPause->click(); });
    script.start();
    runJob(sim, host, embossData("ABCDEFGH\r\nIJKLMNOP"));
    QVERIFY(script.done());
    // Exactly the strike in progress completed, then one more per Clear.
    QCOMPARE(held, (QList<int>{atPause + 1, atPause + 2, atPause + 3, atPause + 4}));
    QCOMPARE(pollReply, ackReply('W'));
    QCOMPARE(display, QStringLiteral("PAUSE"));
    QCOMPARE(strikes(sim).size(), 16);
    QVERIFY(!sim.state().Paused);
    QVERIFY(!sim.state().ClearRequested);
    QVERIFY(!sim.sound.played.contains(QStringLiteral("reset.wav"))); // no clear sequence ran
}

void TestJobsFromHost::clearRememberedBeforeJobLetsOneMoreStrike()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop});
    sim.window->btnPause->click();
    sim.window->btnClear->click();
    QVERIFY(sim.state().ClearRequested);
    int held = -1;
    JobScript script;
    script.when([&] { return struckCount(sim) >= 2; }, [] {}).after(40, [&] {
        held = struckCount(sim);
        sim.window->btnPause->click();
    });
    script.start();
    runJob(sim, host, embossData("ABCDEF"));
    QCOMPARE(held, 2);
    QCOMPARE(strikes(sim).size(), 6);
}

void TestJobsFromHost::resetStopsJobBeforeNextStrike()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.clearToReady();
    sendFormat(sim, host, {kTop, kBottom});
    sim.sound.played.clear();
    int atReset = -1;
    JobScript script;
    script.when([&] { return struckCount(sim) >= 3; },
                [&] {
                    atReset = struckCount(sim);
                    sim.window->btnReset->click();
                });
    script.start();
    runJob(sim, host, embossData("ABCDEFGH\r\nIJKLMNOP"));
    QVERIFY(script.done());
    const int total = static_cast<int>(strikes(sim).size());
    QVERIFY2(total == atReset || total == atReset + 1,
             qPrintable(QStringLiteral("%1 after reset at %2").arg(total).arg(atReset)));
    // The reset sequence, then no further strike, then the job's final steps.
    const qsizetype resetAt = sim.sound.played.indexOf(QStringLiteral("reset.wav"));
    QVERIFY(resetAt > 0);
    QCOMPARE(sim.sound.played.mid(resetAt), (QStringList{"reset.wav", "Reset.wav"}));
    QVERIFY(!sim.state().Busy);
    QCOMPARE(host.readFor(5), ackReply('2'));
    QCOMPARE(host.poll(), ackReply('1'));
    QCOMPARE(sim.display(), QStringLiteral("READY"));
    // The card was cleared.
    QTRY_VERIFY(!hasInk(sim.window->cardPanel->glyphLayer()));

    // The next job is not affected by the earlier reset.
    sim.sound.played.clear();
    runJob(sim, host, embossData("AB"));
    QCOMPARE(strikes(sim).size(), 2);
}

void TestJobsFromHost::resetWhilePoweredOnLeavesJobAlone()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop});
    JobScript script;
    script.when([&] { return struckCount(sim) >= 2; }, [&] { sim.window->btnReset->click(); });
    script.start();
    runJob(sim, host, embossData("ABCDEF"));
    QVERIFY(script.done());
    QCOMPARE(strikes(sim).size(), 6);
    QVERIFY(!sim.sound.played.contains(QStringLiteral("reset.wav")));
}

void TestJobsFromHost::clearWhileNotPausedLetsJobGoOn()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop});
    JobScript script;
    script.when([&] { return struckCount(sim) >= 2; }, [&] { sim.window->btnClear->click(); });
    script.start();
    runJob(sim, host, embossData("ABCDEF"));
    QVERIFY(script.done());
    QCOMPARE(strikes(sim).size(), 6);
    QVERIFY(sim.sound.played.contains(QStringLiteral("reset.wav")));
    QVERIFY(!sim.state().PoweredOn);
    // The glyphs struck before the clear were erased, those after it stay.
    QVERIFY(hasInk(sim.window->cardPanel->glyphLayer()));
    QVERIFY(!hasInk(sim.window->cardPanel->glyphLayer().copy(QRect(68, 20, 14, 28))));
}

void TestJobsFromHost::reverseDrawsTurnedGlyphsLineByLine()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.window->frmSetup().cbReverse->setChecked(true);
    sendFormat(sim, host, {kBottom, kTop});
    runJob(sim, host, embossData("TB T\r\nA"));
    // In line order, turned about (x, Y): the cells end there.
    const StrikeRecord &record = sim.window->decoder().lastJobStrikes();
    QCOMPARE(record.size(), size_t(4));
    QCOMPARE(record[0], (StruckGlyph{QLatin1Char('T'), 68, 128, 28, true}));
    QCOMPARE(record[1], (StruckGlyph{QLatin1Char('B'), 82, 128, 28, true}));
    QCOMPARE(record[2], (StruckGlyph{QLatin1Char('T'), 111, 128, 28, true}));
    QCOMPARE(record[3], (StruckGlyph{QLatin1Char('A'), 68, 48, 28, true}));
    QCOMPARE(sim.sound.played, QStringList{"Reset.wav"});
    // The first T lies left of and above (68, 128), grey copy included, standing on its head:
    // its bar is at the bottom.
    const QImage &layer = sim.window->cardPanel->glyphLayer();
    const QRect ink = inkBounds(layer, QRect(30, 90, 39, 40));
    QVERIFY(!ink.isNull());
    QVERIFY2(ink.right() <= 68 && ink.bottom() <= 128,
             qPrintable(QStringLiteral("%1,%2").arg(ink.right()).arg(ink.bottom())));
    auto rowInk = [&](int y) {
        int n = 0;
        for (int x = ink.left(); x <= ink.right(); ++x)
            n += qAlpha(layer.pixel(x, y)) > 128;
        return n;
    };
    int widest = ink.top();
    for (int y = ink.top(); y <= ink.bottom(); ++y)
        if (rowInk(y) > rowInk(widest))
            widest = y;
    QVERIFY(widest > ink.center().y());
}

void TestJobsFromHost::hostResetRequestResumesPausedJob()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop});
    int held = -1;
    JobScript script;
    script.when([&] { return struckCount(sim) >= 2; }, [&] { sim.window->btnPause->click(); })
        .after(40, [&] {
            held = struckCount(sim);
            host.send(QByteArray("\x04"
                                 "31r"));
        });
    script.start();
    runJob(sim, host, embossData("ABCDEF"));
    QVERIFY(held >= 3 && held < 6);
    // Powered on: the request only clears Paused, and the job strikes the rest.
    QCOMPARE(strikes(sim).size(), 6);
    QVERIFY(!sim.sound.played.contains(QStringLiteral("reset.wav")));
}

void TestJobsFromHost::formatDuringJobErasesCardAndJobGoesOn()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sendFormat(sim, host, {kTop, kBottom});
    int atFormat = -1;
    JobScript script;
    script.when([&] { return struckCount(sim) >= 3; },
                [&] {
                    atFormat = struckCount(sim);
                    // Decoded at once, nested in the job: the card is repainted and resized.
                    host.send(formatDefinition(cardBlock("0300", "0400"), {kTop}));
                });
    script.start();
    runJob(sim, host, embossData("ABCDEFGH"));
    QVERIFY(script.done());
    QCOMPARE(sim.window->decoder().FormatTable().Count, 1);
    QCOMPARE(sim.window->cardPanel->size(), QSize(227, 170));
    QCOMPARE(strikes(sim).size(), 8);
    // A, B, C, ... lie left to right: those struck before the format are gone, the rest stay.
    const StrikeRecord &record = sim.window->decoder().lastJobStrikes();
    const int erasedUpTo = record[size_t(atFormat - 1)].x + 14;
    const QImage &layer = sim.window->cardPanel->glyphLayer();
    QVERIFY(!hasInk(layer.copy(QRect(60, 10, erasedUpTo - 60, 45))));
    QVERIFY(hasInk(layer.copy(QRect(record.back().x, 10, 20, 45))));
}

VORLAK_TEST_MAIN(TestJobsFromHost)
#include "tst_jobsfromhost.moc"
