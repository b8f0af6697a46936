// The emboss job on its own, without a window: what it draws for each glyph and in which
// order, the cell heights the setup gives, the Reverse mode, and how the machine's flags stop
// or hold it. (tests/app/tst_jobsfromhost runs jobs through the real program and its card.)

#include "emulationrig.h"
#include "hostmessages.h"

#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace HostMessages;

namespace
{
// Pitch 14 puts the characters of a field at x offsets 0, 14, 29, 43, 58, ...
const QByteArray kTop = record("085", "120", '0', "14");    // 5 mm cells from y 20, x 68
const QByteArray kBottom = record("226", "120", '1', "14"); // Font 1 cells ending at y 128
const QString kWhite = QStringLiteral("#ffffff");
const QString kGrey = QStringLiteral("#808080");
} // namespace

class TestEmbossJob : public QObject
{
    Q_OBJECT
private slots:
    void eachGlyphIsDrawnWhiteThenGrey_data();
    void eachGlyphIsDrawnWhiteThenGrey();
    void reverseDrawsTurnedGlyphsWhileBuilding();
    void flagsAtEachStrike_data();
    void flagsAtEachStrike();
};

// Font 0 of 5 mm gives 28-pixel cells, Font 1 of 8 mm 45-pixel ones; each glyph is struck in
// character order, white at its cell and grey one pixel down and right.
void TestEmbossJob::eachGlyphIsDrawnWhiteThenGrey_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("drawn");
    QTest::newRow("one glyph") << QByteArray("H")
                               << QStringList{"H@68,20/28 " + kWhite, "H@69,21/28 " + kGrey};
    QTest::newRow("character order across fields")
        << QByteArray("B\r\nA")
        << QStringList{"A@68,83/45 " + kWhite, "A@69,84/45 " + kGrey, "B@68,20/28 " + kWhite,
                       "B@69,21/28 " + kGrey};
    QTest::newRow("a blank keeps its place")
        << QByteArray(" C") << QStringList{"C@82,20/28 " + kWhite, "C@83,21/28 " + kGrey};
}

void TestEmbossJob::eachGlyphIsDrawnWhiteThenGrey()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, drawn);
    EmulationRig rig(fixedSetup(5, 8));
    rig.send(formatDefinition({kTop, kBottom}));
    rig.send(embossData(text));
    QCOMPARE(rig.card.describe(), drawn);
    QCOMPARE(rig.card.fontName, QStringLiteral("Courier New"));
    QVERIFY(rig.card.fontBold);
    QVERIFY(rig.errors.isEmpty());
    QVERIFY(!rig.machine.state().Busy);
}

// In the Reverse mode the glyphs go on the card turned by 180 degrees while the job builds,
// line by line; nothing is struck afterwards.
void TestEmbossJob::reverseDrawsTurnedGlyphsWhileBuilding()
{
    EmulationRig rig(fixedSetup(5, 5, true));
    rig.send(formatDefinition({kTop}));
    rig.send(embossData("AB"));
    QCOMPARE(rig.card.describe(), (QStringList{"A@68,48/28 " + kWhite + " turned 180",
                                               "A@69,49/28 " + kGrey + " turned 180",
                                               "B@82,48/28 " + kWhite + " turned 180",
                                               "B@83,49/28 " + kGrey + " turned 180"}));
    QCOMPARE(rig.sound.played, QStringList{"Reset.wav"});
}

// A rig sets a flag right after the n-th strike's sound; what the job does at its next look at
// the flags: Reset stops it before the next strike, Pause holds it until Clear lets one more
// strike through each time.
void TestEmbossJob::flagsAtEachStrike_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("struck");
    QTest::newRow("nothing") << "" << 6;
    QTest::newRow("reset after the second") << "reset" << 2;
    QTest::newRow("pause after the second, then clear") << "pause" << 6;
}

void TestEmbossJob::flagsAtEachStrike()
{
    QFETCH(QString, action);
    QFETCH(int, struck);
    EmulationRig rig;
    rig.machine.btnClearClick(); // ready, no longer powered on: Reset acts
    rig.send(formatDefinition({kTop}));
    int strikes = 0;
    rig.sound.onPlay = [&](const QString &name) {
        if (name != QLatin1String("Emboss.wav") || ++strikes != 2)
            return;
        if (action == QLatin1String("reset"))
            rig.machine.btnResetClick();
        else if (action == QLatin1String("pause"))
            rig.machine.btnPauseClick();
    };
    // The operator ends a pause once the paused strike is on the card and the job has been
    // held there for a few event rounds.
    int roundsHeld = 0;
    int mostStruckWhilePaused = -1;
    QTimer release;
    QObject::connect(&release, &QTimer::timeout, [&] {
        if (!rig.machine.state().Paused)
            return;
        const int now = int(rig.decoder.lastJobStrikes().size());
        mostStruckWhilePaused = std::max(mostStruckWhilePaused, now);
        if (now == 2 && ++roundsHeld == 5)
            rig.machine.btnPauseClick();
    });
    release.start(0);
    rig.send(embossData("ABCDEF"));
    QCOMPARE(int(rig.decoder.lastJobStrikes().size()), struck);
    QCOMPARE(mostStruckWhilePaused, action == QLatin1String("pause") ? 2 : -1);
    QVERIFY(!rig.machine.state().Busy);
    QCOMPARE(rig.sound.played.last(), QStringLiteral("Reset.wav"));
}

QTEST_GUILESS_MAIN(TestEmbossJob)
#include "tst_embossjob.moc"
