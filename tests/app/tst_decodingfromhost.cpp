// Format definitions and emboss data as the host sends them over a real TCP connection: what
// the active format becomes, how the card is sized, how field text is split, and what is not
// decoded at all.

#include "cardpanel.h"
#include "hostmessages.h"
#include "messagedecoder.h"
#include "pixels.h"
#include "simulatorharness.h"
#include "vorlakerror.h"

#include <QLabel>
#include <QTimer>

using namespace HostMessages;

namespace
{
const QByteArray kField0 = record("085", "120", '0', "14"); // cells from y 20, x 68
const QByteArray kField1 = record("226", "120", '0', "14"); // cells from y 100, x 68

QString struck(const MessageDecoder &decoder)
{
    QString out;
    for (const StruckGlyph &g : decoder.lastJobStrikes())
        out += g.character;
    return out;
}

// Sends one message and returns once it has been decoded (jobs included).
void decode(Simulator &sim, HostClient &host, const QByteArray &message)
{
    host.send(message);
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_VERIFY(!sim.machine().longActionRunning());
}
} // namespace

class TestDecodingFromHost : public QObject
{
    Q_OBJECT
private slots:
    void formatSizesCardAndStoresFields();
    void recordValidity_data();
    void recordValidity();
    void shorterFormatKeepsHigherEntries();
    void recordsBeyondTheTableAreDropped();
    void unreadableCardSizeCountsAsZero();
    void invalidFirstRecordAppliesSizeOnly();
    void pollsInsideMessagesAreRemoved();
    void fieldTextAndTag_data();
    void fieldTextAndTag();
    void embossWithoutFormatShowsNote();
    void undecodedMessages_data();
    void undecodedMessages();
    void linesBeyondTheTableFail();
};

void TestDecodingFromHost::formatSizesCardAndStoresFields()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QCOMPARE(sim.window->cardPanel->size(), QSize(500, 318));
    decode(sim, host, formatDefinition({kField0, record("226", "007", '1', "35")}));

    const MessageDecoder &decoder = sim.window->decoder();
    QCOMPARE(sim.window->cardPanel->size(), QSize(485, 306));
    QCOMPARE(sim.window->cardPanel->pos(), QPoint(10, 11));
    QCOMPARE(decoder.CardHeight(), 540);
    QCOMPARE(decoder.CardWidth(), 856);
    QCOMPARE(decoder.FormatTable().Count, 2);
    const FieldDef &second = decoder.FormatTable().Fields[1];
    QCOMPARE(second.Y, QStringLiteral("226"));
    QCOMPARE(second.X, QStringLiteral("007"));
    QCOMPARE(second.Font, QLatin1Char('1'));
    QCOMPARE(second.Pitch, QStringLiteral("35"));
    QCOMPARE(decoder.FormatTable().Fields[2].Font, QChar(0)); // never written
    // A format starts no job.
    QVERIFY(sim.sound.played.isEmpty());
    QCOMPARE(host.poll(), ackReply('P'));
}

void TestDecodingFromHost::recordValidity_data()
{
    QTest::addColumn<QList<QByteArray>>("records");
    QTest::addColumn<int>("count");
    const QByteArray body = "Y085X120F0P014";
    QTest::newRow("blank in front and behind")
        << QList<QByteArray>{" " + body, body + " ", body + " "} << 3;
    QTest::newRow("control characters trim too")
        << QList<QByteArray>{"\t" + body, body + "\x01"} << 2;
    QTest::newRow("15 characters, no blank at either end ends the list")
        << QList<QByteArray>{body + " ", body + "9", body + " "} << 1;
    QTest::newRow("a blank at each end trims to 13")
        << QList<QByteArray>{body + " ", " " + body.left(13) + " ", body + " "} << 1;
    QTest::newRow("last record without its blank") << QList<QByteArray>{body + " ", body} << 2;
    QTest::newRow("short tail") << QList<QByteArray>{body + " ", body.left(10)} << 1;
    QTest::newRow("no records") << QList<QByteArray>{} << 0;
}

void TestDecodingFromHost::recordValidity()
{
    QFETCH(QList<QByteArray>, records);
    QFETCH(int, count);
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    decode(sim, host, formatDefinition(records));
    const ::FormatTable &table = sim.window->decoder().FormatTable();
    QCOMPARE(table.Count, count);
    // Every valid record gave the same field, wherever its blank was.
    for (int i = 0; i < count; ++i) {
        QCOMPARE(table.Fields[i].Y, QStringLiteral("085"));
        QCOMPARE(table.Fields[i].X, QStringLiteral("120"));
        QCOMPARE(table.Fields[i].Font, QLatin1Char('0'));
        QCOMPARE(table.Fields[i].Pitch, QStringLiteral("14"));
    }
}

void TestDecodingFromHost::shorterFormatKeepsHigherEntries()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QList<QByteArray> five;
    for (int i = 0; i < 5; ++i)
        five.append(record("10" + QByteArray::number(i), "050", '0', "14"));
    decode(sim, host, formatDefinition(five));
    decode(sim, host,
           formatDefinition({record("200", "001", '1', "20"), record("201", "001", '1', "20"),
                             record("202", "001", '1', "20")}));
    const ::FormatTable &table = sim.window->decoder().FormatTable();
    QCOMPARE(table.Count, 3);
    QCOMPARE(table.Fields[2].Y, QStringLiteral("202"));
    QCOMPARE(table.Fields[3].Y, QStringLiteral("103"));
    QCOMPARE(table.Fields[4].Y, QStringLiteral("104"));
    QCOMPARE(table.Fields[4].X, QStringLiteral("050"));
    QCOMPARE(table.Fields[5].Font, QChar(0));
}

void TestDecodingFromHost::recordsBeyondTheTableAreDropped()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QList<QByteArray> records;
    for (int i = 0; i < 60; ++i)
        records.append(record(QByteArray::number(100 + i), "050", '0', "14"));
    decode(sim, host, formatDefinition(records));
    const ::FormatTable &table = sim.window->decoder().FormatTable();
    QCOMPARE(table.Count, 51);
    QCOMPARE(table.Fields[50].Y, QStringLiteral("150"));
}

void TestDecodingFromHost::unreadableCardSizeCountsAsZero()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    decode(sim, host, formatDefinition(cardBlock(" 54 ", "08x6"), {kField0}));
    QCOMPARE(sim.window->decoder().CardHeight(), 54);
    QCOMPARE(sim.window->decoder().CardWidth(), 0);
    QCOMPARE(sim.window->cardPanel->size(), QSize(0, 31));
    QCOMPARE(sim.window->cardPanel->pos(), QPoint(10, 11));
    QCOMPARE(sim.window->decoder().FormatTable().Count, 1);
}

void TestDecodingFromHost::invalidFirstRecordAppliesSizeOnly()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    decode(sim, host, formatDefinition({kField0}));
    decode(sim, host, formatDefinition(cardBlock("0300", "0400"), {" Y085X120F0P01 ", kField0}));
    QCOMPARE(sim.window->decoder().FormatTable().Count, 0);
    QCOMPARE(sim.window->cardPanel->size(), QSize(227, 170));
    // Emboss data is refused again.
    decode(sim, host, embossData("AB"));
    QVERIFY(sim.sound.played.isEmpty());
    QVERIFY(hasInk(sim.window->cardPanel->glyphLayer())); // the note
}

void TestDecodingFromHost::pollsInsideMessagesAreRemoved()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QByteArray format = formatDefinition({kField0, kField1});
    format.insert(20, kPoll);
    format.insert(5, kPoll);
    decode(sim, host, format);
    QCOMPARE(sim.window->decoder().FormatTable().Count, 2);
    QCOMPARE(sim.window->decoder().FormatTable().Fields[1].Y, QStringLiteral("226"));

    decode(sim, host, embossData("A" + kPoll + "B\r\nC" + kPoll + "D", "12" + kPoll + "345"));
    QCOMPARE(struck(sim.window->decoder()), QStringLiteral("ABCD"));
    QCOMPARE(sim.panel(3), QStringLiteral("12345"));
    QCOMPARE(host.readFor(20), QByteArray()); // the polls inside were not answered
}

void TestDecodingFromHost::fieldTextAndTag_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("struck");
    QTest::addColumn<QString>("panel3");
    QTest::newRow("two lines, no third") << embossData("AB\r\nCD\r\n") << "ABCD"
                                         << "12345";
    QTest::newRow("no @: all is field text") << QByteArray("\x01"
                                                           "31\x02"
                                                           "T]00AB\x03")
                                             << "AB"
                                             << "AB";
    QTest::newRow("first @ splits") << embossData("A", "1@345@7") << "A"
                                    << "1@345";
    QTest::newRow("short tag") << embossData("B", "12") << "B"
                               << "12";
    QTest::newRow("NUL ends the field text") << embossData(QByteArray("AB\r\nC\0D", 7)) << "ABC"
                                             << "12345";
}

void TestDecodingFromHost::fieldTextAndTag()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, struck);
    QFETCH(QString, panel3);
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    decode(sim, host, formatDefinition({kField0, kField1}));
    decode(sim, host, message);
    QCOMPARE(::struck(sim.window->decoder()), struck);
    QCOMPARE(sim.panel(3), panel3);
    // Line 0 on field 0, line 1 on field 1.
    for (const StruckGlyph &g : sim.window->decoder().lastJobStrikes())
        QCOMPARE(g.y, QStringLiteral("AB").contains(g.character) ? 20 : 100);
    QVERIFY(sim.errors.messages.isEmpty());
}

void TestDecodingFromHost::embossWithoutFormatShowsNote()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    bool busySeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { busySeen |= sim.state().Busy; });
    watch.start(0);
    sim.window->statusPanels[3]->setText(QStringLiteral("before"));
    decode(sim, host, embossData("AB"));
    watch.stop();
    QVERIFY(!busySeen);
    QVERIFY(sim.sound.played.isEmpty());
    QCOMPARE(sim.panel(3), QStringLiteral("before"));
    QCOMPARE(host.poll(), ackReply('P'));
    // The note's cell starts at (20, 20).
    const QRect ink = inkBounds(sim.window->cardPanel->glyphLayer());
    QVERIFY(!ink.isNull());
    QVERIFY2(ink.left() >= 20 && ink.left() <= 22 && ink.top() >= 20 && ink.top() <= 26,
             qPrintable(QStringLiteral("%1,%2").arg(ink.left()).arg(ink.top())));
}

void TestDecodingFromHost::undecodedMessages_data()
{
    QTest::addColumn<QByteArray>("message");
    QByteArray lower = formatDefinition({kField0});
    lower.replace("F]00 U0 ", "f]00 u0 ");
    QTest::newRow("lower-case format header") << lower;
    QTest::newRow("stray byte before SOH") << "x" + formatDefinition({kField0});
    QTest::newRow("unknown kind") << QByteArray("\x01"
                                                "31\x02"
                                                "X]00 U0 H:0540W:0856\x03");
    QTest::newRow("format header without its last blank") << QByteArray("\x01"
                                                                        "31\x02"
                                                                        "F]00 U0\x03");
}

void TestDecodingFromHost::undecodedMessages()
{
    QFETCH(QByteArray, message);
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    decode(sim, host, message);
    QCOMPARE(sim.window->decoder().FormatTable().Count, 0);
    QCOMPARE(sim.window->cardPanel->size(), QSize(500, 318));
    QVERIFY(hasInk(sim.window->cardPanel->glyphLayer())); // "Keine Formatdaten"
    QVERIFY(sim.machine().ReceiveBuffer().isEmpty());
}

void TestDecodingFromHost::linesBeyondTheTableFail()
{
    // Line 51 has no entry: it fails as a never-written one does, before any strike.
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QList<QByteArray> records;
    for (int i = 0; i < 51; ++i)
        records.append(kField0);
    decode(sim, host, formatDefinition(records));
    QByteArray text;
    for (int i = 0; i < 52; ++i)
        text += "A\r\n";
    decode(sim, host, embossData(text));
    QCOMPARE(sim.errors.messages, QStringList{"'' ist kein gültiger Integerwert."});
    QVERIFY(sim.window->decoder().lastJobStrikes().empty());
    QVERIFY(!sim.state().Busy);
}

VORLAK_TEST_MAIN(TestDecodingFromHost)
#include "tst_decodingfromhost.moc"
