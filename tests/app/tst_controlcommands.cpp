// The control port's command table on its own, without a socket: it holds exactly the commands
// the developers' guide lists, refuses bad requests with their exact texts, and gives a later
// reply once, to a requester that is still there.

#include "controlcommands.h"
#include "errorreporter.h"
#include "simulatorharness.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>

class TestControlCommands : public QObject
{
    Q_OBJECT
private slots:
    void tableMatchesTheGuide();
    void requestsAreAnsweredExactly_data();
    void requestsAreAnsweredExactly();
    void tokenIsCheckedPerLine_data();
    void tokenIsCheckedPerLine();
    void waitIdleAnswersLaterOnce();
    void waitIdleOfAGoneRequesterIsDropped();
    void quitIsAnnouncedAfterTheReply();
};

namespace
{

struct Table {
    explicit Table(double speed = 100) : sim(speed), errors(true), commands(*sim.window, &errors) {}
    QByteArray replyTo(const QByteArray &line)
    {
        const ControlCommands::Result reply =
            commands.runLine(line, nullptr, [](const QJsonObject &) { QFAIL("no later reply"); });
        return reply ? QJsonDocument(*reply).toJson(QJsonDocument::Compact) : QByteArray();
    }
    Simulator sim;
    ErrorReporter errors;
    ControlCommands commands;
};

// The command names in the guide's table of control port requests.
QSet<QString> guideCommands()
{
    QFile readme(QStringLiteral(VORLAK_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype start = text.indexOf(QStringLiteral("| Request | Effect / reply |"));
    const qsizetype end = text.indexOf(QStringLiteral("\n\n"), start);
    static const QRegularExpression command(QStringLiteral(R"re(\{"cmd":"([a-z_]+)")re"));
    QSet<QString> names;
    for (const QRegularExpressionMatch &match : command.globalMatch(text.mid(start, end - start)))
        names.insert(match.captured(1));
    return names;
}

} // namespace

void TestControlCommands::tableMatchesTheGuide()
{
    const QSet<QString> guide = guideCommands();
    QVERIFY(guide.size() > 10);
    const QStringList names = ControlCommands::names();
    QCOMPARE(QSet<QString>(names.cbegin(), names.cend()), guide);
    QCOMPARE(QSet<QString>(names.cbegin(), names.cend()).size(), names.size());
}

void TestControlCommands::requestsAreAnsweredExactly_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray malformed =
        R"j({"error":"malformed request: one JSON object per line","ok":false})j";
    const QByteArray badFault =
        R"j({"error":"set_fault: needs fault (feeder_empty, card_misfeed, y_motor_error, )j"
        R"j(x_motor_error) and on (true/false)","ok":false})j";
    QTest::newRow("not JSON") << QByteArray(R"j(hello)j") << malformed;
    QTest::newRow("array") << QByteArray(R"j([1,2])j") << malformed;
    QTest::newRow("two objects") << QByteArray(R"j({}{})j") << malformed;
    QTest::newRow("key twice")
        << QByteArray(R"j({"cmd":"state","cmd":"quit"})j")
        << QByteArray(
               R"j({"error":"malformed request: a key appears twice in one object","ok":false})j");
    QTest::newRow("no cmd") << QByteArray(R"j({})j")
                            << QByteArray(R"j({"error":"missing \"cmd\"","ok":false})j");
    QTest::newRow("cmd not text") << QByteArray(R"j({"cmd":5})j")
                                  << QByteArray(R"j({"error":"missing \"cmd\"","ok":false})j");
    QTest::newRow("unknown") << QByteArray(R"j({"cmd":"fly"})j")
                             << QByteArray(R"j({"error":"unknown command: fly","ok":false})j");
    QTest::newRow("names are exact")
        << QByteArray(R"j({"cmd":"State"})j")
        << QByteArray(R"j({"error":"unknown command: State","ok":false})j");
    QTest::newRow("bad button")
        << QByteArray(R"j({"cmd":"press","button":"power"})j")
        << QByteArray(R"j({"error":"press: button must be reset, pause or clear","ok":false})j");
    QTest::newRow("bad fault") << QByteArray(R"j({"cmd":"set_fault","fault":"smoke","on":true})j")
                               << badFault;
    QTest::newRow("fault without on")
        << QByteArray(R"j({"cmd":"set_fault","fault":"card_misfeed","on":1})j") << badFault;
    QTest::newRow("fault set")
        << QByteArray(R"j({"cmd":"set_fault","fault":"card_misfeed","on":true})j")
        << QByteArray(R"j({"faults":{"card_misfeed":true,"feeder_empty":false,)j"
                      R"j("x_motor_error":false,"y_motor_error":false},"ok":true})j");
    QTest::newRow("negative delay")
        << QByteArray(R"j({"cmd":"reply_delay","ms":-1})j")
        << QByteArray(R"j({"error":"reply_delay: needs ms >= 0","ok":false})j");
    QTest::newRow("delay as text")
        << QByteArray(R"j({"cmd":"reply_delay","ms":"5"})j")
        << QByteArray(R"j({"error":"reply_delay: needs ms >= 0","ok":false})j");
    QTest::newRow("count missing")
        << QByteArray(R"j({"cmd":"ignore_polls"})j")
        << QByteArray(R"j({"error":"ignore_polls: needs count >= 0","ok":false})j");
    QTest::newRow("no device")
        << QByteArray(R"j({"cmd":"serial_port"})j")
        << QByteArray(R"j({"error":"serial_port: needs device (a path, or NONE)","ok":false})j");
    QTest::newRow("no path") << QByteArray(R"j({"cmd":"save_card","path":""})j")
                             << QByteArray(R"j({"error":"save_card: needs path","ok":false})j");
    QTest::newRow("show not bool")
        << QByteArray(R"j({"cmd":"monitor","show":"yes"})j")
        << QByteArray(R"j({"error":"monitor: needs show (true/false)","ok":false})j");
    QTest::newRow("press") << QByteArray(R"j({"cmd":"press","button":"pause"})j")
                           << QByteArray(R"j({"ok":true})j");
    QTest::newRow("idle") << QByteArray(R"j({"cmd":"wait_idle","timeout_ms":10})j")
                          << QByteArray(R"j({"idle":true,"ok":true})j");
    QTest::newRow("nothing to dismiss")
        << QByteArray(R"j({"cmd":"dismiss_error"})j")
        << QByteArray(R"j({"dismissed":false,"ok":true,"text":null})j");
    QTest::newRow("clear_logs") << QByteArray(R"j({"cmd":"clear_logs"})j")
                                << QByteArray(R"j({"ok":true,"rx":"","shown":false,"tx":""})j");
    QTest::newRow("no host") << QByteArray(R"j({"cmd":"disconnect_host"})j")
                             << QByteArray(R"j({"closed":0,"ok":true})j");
}

void TestControlCommands::requestsAreAnsweredExactly()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, reply);
    Table table;
    QCOMPARE(table.replyTo(line), reply);
}

void TestControlCommands::tokenIsCheckedPerLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right token") << QByteArray(R"({"cmd":"faults","token":"s3cret"})") << true;
    QTest::newRow("no token") << QByteArray(R"({"cmd":"faults"})") << false;
    QTest::newRow("prefix") << QByteArray(R"({"cmd":"faults","token":"s3c"})") << false;
    QTest::newRow("longer") << QByteArray(R"({"cmd":"faults","token":"s3cret!"})") << false;
    QTest::newRow("not text") << QByteArray(R"({"cmd":"faults","token":1})") << false;
    // Refused before anything runs, also a command that would end the program.
    QTest::newRow("quit without token") << QByteArray(R"({"cmd":"quit"})") << false;
}

void TestControlCommands::tokenIsCheckedPerLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, accepted);
    Table table;
    table.commands.setToken(QStringLiteral("s3cret"));
    QSignalSpy quit(&table.commands, &ControlCommands::quitRequested);
    const QByteArray reply = table.replyTo(line);
    if (accepted) {
        QVERIFY2(reply.contains(R"("ok":true)"), reply.constData());
    } else {
        QCOMPARE(reply, QByteArray(R"({"error":"unauthorized: this control port needs the right )"
                                   R"(\"token\" in every request","ok":false})"));
    }
    QTest::qWait(10);
    QCOMPARE(quit.count(), 0);
}

void TestControlCommands::waitIdleAnswersLaterOnce()
{
    Table table(20); // the clear sequence takes 100 ms
    QObject requester;
    QList<QJsonObject> later;
    const auto collect = [&later](const QJsonObject &reply) { later.append(reply); };
    QCOMPARE(table.commands.run({{"cmd", "press"}, {"button", "clear"}}, &requester, collect),
             ControlCommands::Result(QJsonObject{{"ok", true}}));
    // The press has not run yet: the machine is not idle until it has.
    QVERIFY(!table.commands.run({{"cmd", "wait_idle"}, {"timeout_ms", 5000}}, &requester, collect));
    QTRY_COMPARE(later.size(), 1);
    QCOMPARE(later.first(), (QJsonObject{{"idle", true}, {"ok", true}}));
    QCOMPARE(table.sim.display(), QStringLiteral("READY"));

    // A wait that runs out answers that the machine is still busy, and only that.
    table.commands.run({{"cmd", "press"}, {"button", "clear"}}, &requester, collect);
    QVERIFY(!table.commands.run({{"cmd", "wait_idle"}, {"timeout_ms", 0}}, &requester, collect));
    QTRY_COMPARE(later.size(), 2);
    QCOMPARE(later.last(),
             (QJsonObject{{"error", "timeout: the machine is still busy"}, {"ok", false}}));
    QTest::qWait(200);
    QCOMPARE(later.size(), 2);
}

void TestControlCommands::waitIdleOfAGoneRequesterIsDropped()
{
    Table table(20);
    int replies = 0;
    const auto count = [&replies](const QJsonObject &) { ++replies; };
    QObject cancelled;
    auto gone = std::make_unique<QObject>();
    QObject stays;
    table.commands.run({{"cmd", "press"}, {"button", "clear"}}, &stays, count);
    for (QObject *requester : {&cancelled, gone.get(), &stays})
        QVERIFY(!table.commands.run({{"cmd", "wait_idle"}}, requester, count));
    table.commands.cancelWait(&cancelled);
    gone.reset();
    QTRY_COMPARE(replies, 1); // the one still there
    QTest::qWait(50);
    QCOMPARE(replies, 1);
}

void TestControlCommands::quitIsAnnouncedAfterTheReply()
{
    Table table;
    QSignalSpy quit(&table.commands, &ControlCommands::quitRequested);
    QCOMPARE(table.replyTo(R"({"cmd":"quit"})"), QByteArray(R"({"ok":true})"));
    QCOMPARE(quit.count(), 0);
    QTRY_COMPARE(quit.count(), 1);
}

VORLAK_TEST_MAIN(TestControlCommands)
#include "tst_controlcommands.moc"
