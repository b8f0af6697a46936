// What the machine says about surprising host data: each rule that silently drops, ignores or
// substitutes something yields a diagnostic with its code and the record, line or character
// it concerns, and clean data yields none.

#include "emulationrig.h"
#include "hostmessages.h"

#include <QTest>

using namespace HostMessages;

namespace
{

QByteArray twoFields()
{
    return formatDefinition({record("100", "050", '0', "14"), record("200", "050", '1', "14")});
}

struct DiagnosedRig : EmulationRig {
    DiagnosedRig()
    {
        QObject::connect(&machine, &Machine::diagnosed, &machine,
                         [this](const Diagnostic &d) { diagnostics.append(d); });
        QObject::connect(&machine, &Machine::jobFinished, &machine,
                         [this](const FinishedJob &job) { jobs.append(job); });
    }
    QStringList codes() const
    {
        QStringList out;
        for (const Diagnostic &d : diagnostics)
            out.append(d.code);
        return out;
    }
    QString messages() const
    {
        QStringList out;
        for (const Diagnostic &d : diagnostics)
            out.append(d.message);
        return out.join(QLatin1Char('\n'));
    }
    QList<Diagnostic> diagnostics;
    QList<FinishedJob> jobs;
};

} // namespace

class TestDiagnostics : public QObject
{
    Q_OBJECT
private slots:
    void hostDataIsDiagnosed_data();
    void hostDataIsDiagnosed();
    void diagnosticsNameTheLinkAndTheJob();
    void aMessageDuringAJobIsNested();
    void jobsAreAnnouncedWithTheirOutcome();
};

void TestDiagnostics::hostDataIsDiagnosed_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<QStringList>("mentions");

    const QByteArray thirteen = " Y100X050F0P01 "; // trims to 13 characters
    QTest::newRow("clean format, job and poll")
        << QList<QByteArray>{twoFields(), embossData("AB\r\nCD"), kPoll} << QStringList{}
        << QStringList{};
    QTest::newRow("second record trims to 13")
        << QList<QByteArray>{formatDefinition(
               {record("100", "050", '0', "14"), thirteen, record("200", "050", '0', "14")})}
        << QStringList{"records_ended"}
        << QStringList{"record 2", "13 characters", "fields taken: 1", "the 30 characters"};
    QTest::newRow("trailing blanks end no list")
        << QList<QByteArray>{formatDefinition({record("100", "050", '0', "14"), "   \r\n"})}
        << QStringList{} << QStringList{};
    QList<QByteArray> many;
    for (int i = 0; i < 52; ++i)
        many.append(record("100", "050", '0', "14"));
    QTest::newRow("52 records") << QList<QByteArray>{formatDefinition(many)}
                                << QStringList{"records_beyond_table"} << QStringList{"record 52"};
    QTest::newRow("card height not a number")
        << QList<QByteArray>{formatDefinition(cardBlock("ab  ", "0856"),
                                              {record("100", "050", '0', "14")})}
        << QStringList{"card_size_zero"} << QStringList{"\"ab  \" is not a number"};
    QTest::newRow("three lines on two fields")
        << QList<QByteArray>{twoFields(), embossData("A\r\nB\r\nC")}
        << QStringList{"line_beyond_count", "conversion_error"}
        << QStringList{"emboss line 3 (\"C\")", "2 fields", "never written", "ist kein g"};
    QTest::newRow("line on a longer format's leftover")
        << QList<QByteArray>{formatDefinition({record("100", "050", '0', "14"),
                                               record("150", "050", '0', "14"),
                                               record("200", "050", '2', "10")}),
                             twoFields(), embossData("A\r\nB\r\nC")}
        << QStringList{"line_beyond_count"} << QStringList{"left over", "font 2", "pitch \"10\""};
    QTest::newRow("position not a number")
        << QList<QByteArray>{formatDefinition({record("1a0", "050", '0', "14")}), embossData("A")}
        << QStringList{"position_not_a_number", "glyph_outside_card"}
        << QStringList{"y \"1a0\" is not a number"};
    QTest::newRow("font selector 7")
        << QList<QByteArray>{formatDefinition({record("100", "050", '7', "14")}), embossData("A")}
        << QStringList{"font_selector_undefined"} << QStringList{"selector 7", "5 mm"};
    QTest::newRow("glyph beyond the right edge")
        << QList<QByteArray>{formatDefinition({record("100", "900", '0', "14")}), embossData("AB")}
        << QStringList{"glyph_outside_card"}
        << QStringList{"2 of its 2 glyphs", "485 x 306 px", "character 1 'A'"};
    QTest::newRow("pitch not a number")
        << QList<QByteArray>{formatDefinition({record("100", "050", '0', "1x")}), embossData(" A")}
        << QStringList{"conversion_error"} << QStringList{"line 1, character 2", "'1x'"};
    QTest::newRow("emboss data without format")
        << QList<QByteArray>{embossData("AB")} << QStringList{"no_format"}
        << QStringList{"Keine Formatdaten"};
    QTest::newRow("lower-case header") << QList<QByteArray>{QByteArray("\x01"
                                                                       "31\x02"
                                                                       "f]00 U0 \x03")}
                                       << QStringList{"unknown_header"}
                                       << QStringList{"#1"
                                                      "31#2f]00 U0"};
    QTest::newRow("stray letters before a poll")
        << QList<QByteArray>{"abc" + kPoll} << QStringList{"stray_bytes_dropped"}
        << QStringList{"character 4", "3 other characters (\"abc\")"};
    QTest::newRow("message start eaten by a poll")
        << QList<QByteArray>{QByteArray("\x01"
                                        "31\x02"
                                        "T]00AB") +
                             kPoll}
        << QStringList{"message_lost_to_poll"} << QStringList{"SOH at character 1"};
    QTest::newRow("poll after a complete message, one chunk")
        << QList<QByteArray>{twoFields() + kPoll} << QStringList{"message_lost_to_poll"}
        << QStringList{"are lost"};
    QTest::newRow("a poll alone") << QList<QByteArray>{kPoll} << QStringList{} << QStringList{};
}

void TestDiagnostics::hostDataIsDiagnosed()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, codes);
    QFETCH(QStringList, mentions);
    DiagnosedRig rig;
    for (const QByteArray &chunk : chunks)
        rig.send(chunk);
    QCOMPARE(rig.codes(), codes);
    for (const QString &mention : mentions)
        QVERIFY2(rig.messages().contains(mention), qPrintable(rig.messages()));
    for (qsizetype i = 0; i < rig.diagnostics.size(); ++i) {
        QCOMPARE(rig.diagnostics.at(i).sequence, quint64(i + 1));
        QVERIFY(!rig.diagnostics.at(i).message.contains(QLatin1Char('\n')));
    }
}

void TestDiagnostics::diagnosticsNameTheLinkAndTheJob()
{
    DiagnosedRig rig;
    rig.machine.receive(QString::fromLatin1("x" + kPoll), HostLinkId::tcp(2));
    rig.machine.receive(QString::fromLatin1(twoFields()), HostLinkId::serial());
    QVERIFY_THROWS_EXCEPTION(
        VorlakError,
        rig.machine.receive(QString::fromLatin1(embossData("A\r\nB\r\nC")), HostLinkId::tcp(3)));
    QCOMPARE(rig.codes(),
             (QStringList{"stray_bytes_dropped", "line_beyond_count", "conversion_error"}));
    QCOMPARE(rig.diagnostics.at(0).link.toString(), QStringLiteral("tcp:2"));
    QCOMPARE(rig.diagnostics.at(0).job, 0);
    QCOMPARE(rig.diagnostics.at(1).link.toString(), QStringLiteral("tcp:3"));
    QCOMPARE(rig.diagnostics.at(1).job, 1);
    QCOMPARE(rig.diagnostics.at(2).job, 1);
    QVERIFY(rig.diagnostics.at(0).tMs <= rig.diagnostics.at(2).tMs);
    // Nothing but the diagnosis changed: the job still failed, and ended.
    QVERIFY(!rig.machine.state().Busy);
}

void TestDiagnostics::aMessageDuringAJobIsNested()
{
    DiagnosedRig rig;
    rig.send(twoFields());
    bool sent = false;
    // Serial input that arrives between two strikes of the running job.
    rig.machine.setSerialReceiveStep([&] {
        if (!std::exchange(sent, true))
            rig.machine.receive(QString::fromLatin1(embossData("Z")), HostLinkId::serial());
        else
            rig.machine.DispatchReceived();
    });
    rig.send(embossData("AB"));
    QCOMPARE(rig.codes(), QStringList{"nested_message"});
    QVERIFY(rig.messages().contains(QStringLiteral("job 1 runs")));
    QCOMPARE(rig.diagnostics.at(0).link.toString(), QStringLiteral("serial"));
    QCOMPARE(rig.diagnostics.at(0).job, 1);
    QCOMPARE(rig.jobs.size(), 2);
    QCOMPARE(rig.jobs.at(0).number, 2); // the nested job ends first
    QCOMPARE(rig.jobs.at(1).number, 1);
}

void TestDiagnostics::jobsAreAnnouncedWithTheirOutcome()
{
    DiagnosedRig rig;
    rig.send(twoFields());
    rig.send(embossData("AB\r\nC", "TAG01"));
    rig.send(embossData("A\r\nB\r\nC", "TAG02"));
    QCOMPARE(rig.jobs.size(), 2);
    const FinishedJob &done = rig.jobs.at(0);
    QCOMPARE(done.number, 1);
    QCOMPARE(done.tag, QStringLiteral("TAG01"));
    QCOMPARE(done.outcome, FinishedJob::Outcome::Done);
    QCOMPARE(done.glyphs.size(), size_t(3));
    QCOMPARE(done.format.Count, 2);
    QCOMPARE(done.cardWidth, 856);
    QVERIFY(done.endedMs >= done.startedMs);
    const FinishedJob &failed = rig.jobs.at(1);
    QCOMPARE(failed.outcome, FinishedJob::Outcome::Error);
    QVERIFY(failed.error.contains(QStringLiteral("ist kein g")));
    QVERIFY(failed.glyphs.empty());
}

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
