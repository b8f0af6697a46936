// The decoder and the receive dispatcher on their own, without a window: what the machine
// answers, shows and announces for each kind of host input, and what goes on the card.
// (tests/app/tst_decodingfromhost sends the same kinds of message through the real program.)

#include "emulationrig.h"
#include "hostmessages.h"

#include <QPoint>
#include <QTest>

using namespace HostMessages;

namespace
{
const QByteArray kField0 = record("085", "120", '0', "14"); // cells from y 20, x 68
const QByteArray kField1 = record("226", "120", '0', "14"); // cells from y 100, x 68
const QString kAck2 = QStringLiteral("\x06"
                                     "2");
} // namespace

class TestMessageDecoder : public QObject
{
    Q_OBJECT
private slots:
    void announcements_data();
    void announcements();
    void embossWithoutFormatWritesTheNote();
    void formatSizesTheCardAndErasesIt();
    void arbitraryMessagesAreSafe();
};

// Each row: host chunks sent one after the other, then what the machine answered, shows and
// announced. The activity indicator toggles at every dispatch; a finished message turns it off
// before its toggle, so it is on after every message.
void TestMessageDecoder::announcements_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QString>("display");
    QTest::addColumn<bool>("activity");
    QTest::addColumn<QString>("jobTag");
    QTest::addColumn<QStringList>("sounds");
    const QString poweredOn = QStringLiteral("\x06P");
    QTest::newRow("a poll") << QList<QByteArray>{kPoll} << QStringList{poweredOn} << "POWERED ON"
                            << true << QString() << QStringList();
    QTest::newRow("two polls") << QList<QByteArray>{kPoll, kPoll}
                               << QStringList{poweredOn, poweredOn} << "POWERED ON" << false
                               << QString() << QStringList();
    QTest::newRow("half a poll waits") << QList<QByteArray>{kPoll.left(2)} << QStringList()
                                       << QString() << true << QString() << QStringList();
    QTest::newRow("a poll in two chunks")
        << QList<QByteArray>{kPoll.left(2), kPoll.mid(2)} << QStringList{poweredOn} << "POWERED ON"
        << false << QString() << QStringList();
    QTest::newRow("a format") << QList<QByteArray>{formatDefinition({kField0})}
                              << QStringList{kAck2} << "BUSY" << true << QString() << QStringList();
    QTest::newRow("a format, then a poll")
        << QList<QByteArray>{formatDefinition({kField0}), kPoll} << QStringList{kAck2, poweredOn}
        << "POWERED ON" << false << QString() << QStringList();
    QTest::newRow("a job") << QList<QByteArray>{formatDefinition({kField0}),
                                                embossData("AB", "00042")}
                           << QStringList{kAck2, kAck2} << "BUSY" << true << "00042"
                           << QStringList{"Emboss.wav", "Emboss.wav", "Reset.wav"};
    // Powered on, the machine ignores the reset request (it only ends a pause).
    QTest::newRow("the host's reset request while powered on")
        << QList<QByteArray>{kResetRequest} << QStringList() << QString() << true << QString()
        << QStringList();
}

void TestMessageDecoder::announcements()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, replies);
    QFETCH(QString, display);
    QFETCH(bool, activity);
    QFETCH(QString, jobTag);
    QFETCH(QStringList, sounds);
    EmulationRig rig;
    QStringList answered;
    for (const QByteArray &chunk : chunks)
        answered += rig.send(chunk);
    QCOMPARE(answered, replies);
    QCOMPARE(rig.panel.display, display);
    QCOMPARE(rig.panel.activity, activity);
    QCOMPARE(rig.machine.activity(), activity);
    QCOMPARE(rig.panel.jobTag, jobTag);
    QCOMPARE(rig.sound.played, sounds);
    // What the monitor would log: every chunk as it came, every reply with its blank.
    QStringList received;
    for (const QByteArray &chunk : chunks)
        received.append(QString::fromLatin1(chunk));
    QCOMPARE(rig.panel.received, received);
    QStringList sent;
    for (const QString &reply : replies)
        sent.append(reply + QLatin1Char(' '));
    QCOMPARE(rig.panel.sent, sent);
    QVERIFY(rig.errors.isEmpty());
    QVERIFY(!rig.machine.longActionRunning());
}

void TestMessageDecoder::embossWithoutFormatWritesTheNote()
{
    EmulationRig rig;
    QCOMPARE(rig.send(embossData("AB", "77777")), QStringList{kAck2});
    QCOMPARE(rig.card.drawn.size(), 1);
    QCOMPARE(rig.card.drawn[0].text, QStringLiteral("Keine Formatdaten"));
    QCOMPARE(QPoint(rig.card.drawn[0].x, rig.card.drawn[0].y), QPoint(20, 20));
    // No job ran: no tag, no sound, nothing struck.
    QCOMPARE(rig.panel.jobTag, QString());
    QVERIFY(rig.sound.played.isEmpty());
    QVERIFY(rig.struck().isEmpty());
}

void TestMessageDecoder::formatSizesTheCardAndErasesIt()
{
    EmulationRig rig;
    rig.send(formatDefinition({kField0, kField1}));
    rig.send(embossData("A\r\nB"));
    QCOMPARE(rig.struck(), QStringLiteral("AB"));
    QVERIFY(!rig.card.drawn.isEmpty());
    const int repaints = rig.card.repaints;
    rig.send(formatDefinition(cardBlock("0300", "0400"), {kField0}));
    QCOMPARE(rig.card.cardWidth, 400);
    QCOMPARE(rig.card.cardHeight, 300);
    // Every message first erases the glyphs of earlier jobs; a new size repaints the card.
    QCOMPARE(rig.card.repaints, repaints + 1);
    QVERIFY(rig.card.drawn.isEmpty());
    QCOMPARE(rig.decoder.FormatTable().Count, 1);
}
// Whatever the host sends, decoding stays within its tables and ends; only the conversion error
// may come out of it.
void TestMessageDecoder::arbitraryMessagesAreSafe()
{
    EmulationRig rig;
    Machine &machine = rig.machine;
    MessageDecoder &decoder = rig.decoder;
    const QByteArray alphabet("0123456789 -+@\r\nAaZ\x00\x01\x04\x05\t31Y");
    const QString heads[] = {QStringLiteral("\x01"
                                            "31\x02"
                                            "F]00 U0 "),
                             QStringLiteral("\x01"
                                            "31\x02"
                                            "T]00"),
                             QString()};
    uint32_t seed = 830;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    int failures = 0;
    int formats = 0;
    size_t struck = 0;
    for (int round = 0; round < 1500; ++round) {
        QString message = heads[next() % 3];
        const int length = static_cast<int>(next() % 400);
        for (int i = 0; i < length; ++i)
            message += QChar::fromLatin1(alphabet.at(static_cast<int>(next() % alphabet.size())));
        message += QChar(0x03);
        try {
            decoder.InterpretMessage(message);
        } catch (const VorlakError &error) {
            QVERIFY(error.message().endsWith(QStringLiteral("ist kein gültiger Integerwert")));
            ++failures;
        }
        QVERIFY(decoder.FormatTable().Count >= 0 && decoder.FormatTable().Count <= 51);
        QVERIFY(!machine.state().Busy);
        formats += decoder.FormatTable().Count > 0;
        struck += decoder.lastJobStrikes().size();
    }
    // The rounds reached every path: formats taken, glyphs struck, conversions failed.
    QVERIFY(failures > 0 && formats > 0 && struck > 0);
}

QTEST_GUILESS_MAIN(TestMessageDecoder)
#include "tst_messagedecoder.moc"
