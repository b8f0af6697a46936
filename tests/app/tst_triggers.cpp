// Faults on cue: actions armed on the machine's moments through the control port, fired at
// exactly the strike, poll, message or job edge they name, seen by a host on the real TCP port.

#include "hostmessages.h"
#include "programprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace
{

// The program at 1/speed of the machine's pace, its control port connected, and one host.
struct Rig {
    explicit Rig(double speed = 20) : program({}, speed)
    {
        ok = program.waitUntilListening();
        if (ok) {
            host = std::make_unique<ProcessHost>(program.hostPort);
            ok = host->connected;
        }
    }
    QJsonObject request(const QJsonObject &object) { return program.request(object); }
    QByteArray poll(int replyLength = 2) { return host->exchange(kPoll, replyLength); }

    ProgramProcess program;
    std::unique_ptr<ProcessHost> host;
    bool ok = false;
};

QByteArray ackReply(char status)
{
    return QByteArray("\x06") + status;
}

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

QJsonObject cmd(const char *name)
{
    return {{QStringLiteral("cmd"), QString::fromLatin1(name)}};
}

QJsonObject setFault(const char *fault)
{
    return {{"cmd", "set_fault"}, {"fault", fault}, {"on", true}};
}

QJsonObject on(const char *event, int count, const QJsonObject &action, bool repeat = false)
{
    QJsonObject request{{"cmd", "on"}, {"event", event}, {"count", count}, {"do", action}};
    if (repeat)
        request.insert("repeat", true);
    return request;
}

// The 27-byte fault reply: ACK, the status, STX, the code padded to 11, the text, ETX.
QByteArray faultReply(char status, const char *code, const char *text)
{
    return QByteArray("\x06") + status + '\x02' + QByteArray(code).leftJustified(11, ' ') + text +
           '\x03';
}

const QByteArray kOneField =
    HostMessages::formatDefinition({HostMessages::record("100", "050", '0', "14")});

// Brings the machine to READY over the control port and loads a one-field format.
void readyWithFormat(Rig &rig)
{
    QCOMPARE(rig.request(json(R"({"cmd":"press","button":"clear"})")).value("ok"),
             QJsonValue(true));
    QCOMPARE(rig.request(json(R"({"cmd":"wait_idle","timeout_ms":10000})")).value("idle"),
             QJsonValue(true));
    QCOMPARE(rig.host->exchange(kOneField, 2), ackReply('2'));
    QCOMPARE(rig.request(json(R"({"cmd":"wait_idle","timeout_ms":10000})")).value("idle"),
             QJsonValue(true));
}

QJsonObject firstFired(Rig &rig)
{
    return rig.request(cmd("triggers")).value("fired").toArray().at(0).toObject();
}

} // namespace

class TestTriggers : public QObject
{
    Q_OBJECT
private slots:
    void strikeTriggerSetsTheFaultAtThatStrike_data();
    void strikeTriggerSetsTheFaultAtThatStrike();
    void pollTriggerActsOnThatVeryPoll();
    void eventsFireAtTheirPoint_data();
    void eventsFireAtTheirPoint();
    void waitIdleInsideATriggerAnswersLater();
    void afterMsFiresFromTheEventLoop();
    void refusedRequests_data();
    void refusedRequests();
    void scenarioIsArmedAtStart();
    void badScenarioEndsTheStart_data();
    void badScenarioEndsTheStart();
};

void TestTriggers::strikeTriggerSetsTheFaultAtThatStrike_data()
{
    QTest::addColumn<QString>("setBefore"); // a fault set before the job, or empty
    QTest::addColumn<QByteArray>("afterJob");
    QTest::newRow("card misfeed alone")
        << QString() << faultReply('3', "E00005E74", "CARD MISFEED");
    QTest::newRow("feeder empty outranks it")
        << QStringLiteral("feeder_empty") << faultReply('3', "E82", "FEEDER EMPTY");
    QTest::newRow("it outranks the y motor")
        << QStringLiteral("y_motor_error") << faultReply('3', "E00005E74", "CARD MISFEED");
}

void TestTriggers::strikeTriggerSetsTheFaultAtThatStrike()
{
    QFETCH(QString, setBefore);
    QFETCH(QByteArray, afterJob);
    // The machine's own pace, 160 ms a strike: after the third of twelve the job runs for well
    // over a second more, time enough for the host's poll during the job.
    Rig rig(1);
    QVERIFY(rig.ok);
    readyWithFormat(rig);
    if (!setBefore.isEmpty())
        rig.request(setFault(qPrintable(setBefore)));

    const QJsonObject armed = rig.request(on("strike", 3, setFault("card_misfeed")));
    QCOMPARE(armed.value("ok"), QJsonValue(true));
    QCOMPARE(armed.value("id").toInt(), 1);
    // What a poll would get at that very moment, read by a second trigger on the same strike.
    QCOMPARE(rig.request(on("strike", 3, cmd("state"))).value("id").toInt(), 2);
    QCOMPARE(rig.host->exchange(HostMessages::embossData("ABCDEFGHIJKL"), 2), ackReply('2'));

    QTRY_COMPARE_WITH_TIMEOUT(rig.request(cmd("triggers")).value("fired").toArray().size(), 2,
                              5000);
    QCOMPARE(rig.request(cmd("faults")).value("faults").toObject().value("card_misfeed"),
             QJsonValue(true));
    // During the job Busy outranks every fault.
    QCOMPARE(rig.poll(), ackReply('2'));
    const QJsonArray fired = rig.request(cmd("triggers")).value("fired").toArray();
    const QJsonObject atStrike = fired.at(1).toObject().value("reply").toObject();
    QCOMPARE(atStrike.value("status").toObject().value("reply_hex").toString(),
             QStringLiteral("06 32"));
    QCOMPARE(atStrike.value("faults").toObject().value("card_misfeed"), QJsonValue(true));
    QCOMPARE(fired.at(0).toObject().value("reply").toObject().value("ok"), QJsonValue(true));
    QCOMPARE(fired.at(0).toObject().value("fired").toInt(), 1);

    QCOMPARE(rig.request(json(R"({"cmd":"wait_idle","timeout_ms":10000})")).value("idle"),
             QJsonValue(true));
    QCOMPARE(rig.request(cmd("glyphs")).value("glyphs").toArray().size(), 12);
    QCOMPARE(rig.poll(27), afterJob);
    // Fired once: the list holds nothing armed any more.
    QCOMPARE(rig.request(cmd("triggers")).value("armed").toArray().size(), 0);
}

void TestTriggers::pollTriggerActsOnThatVeryPoll()
{
    Rig rig;
    QVERIFY(rig.ok);
    const QJsonObject ignoreOne = json(R"({"cmd":"ignore_polls","count":1})");
    QCOMPARE(rig.request(on("poll", 2, ignoreOne)).value("ok"), QJsonValue(true));
    // Every third poll from now, counted afresh after each firing.
    QCOMPARE(rig.request(on("poll", 3, ignoreOne, true)).value("ok"), QJsonValue(true));

    QByteArray answers;
    for (int i = 1; i <= 7; ++i) {
        const QByteArray reply = rig.host->exchangeFor(kPoll, 150);
        QVERIFY2(reply.isEmpty() || reply == ackReply('P'), reply.toHex().constData());
        answers += reply.isEmpty() ? '-' : '+';
    }
    // Unanswered: the second (once), the third and the sixth (repeating).
    QCOMPARE(answers, QByteArray("+--++-+"));
    const QJsonObject list = rig.request(cmd("triggers"));
    const QJsonObject repeating = list.value("armed").toArray().at(0).toObject();
    QCOMPARE(repeating.value("fired").toInt(), 2);
    QCOMPARE(repeating.value("remaining").toInt(), 2);
    QCOMPARE(list.value("fired").toArray().at(0).toObject().value("id").toInt(), 1);

    QCOMPARE(rig.request(cmd("clear_triggers")).value("disarmed").toInt(), 1);
    QCOMPARE(rig.request(cmd("triggers")).value("armed").toArray().size(), 0);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(rig.poll(), ackReply('P'));
}

void TestTriggers::eventsFireAtTheirPoint_data()
{
    QTest::addColumn<QByteArray>("event");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<QByteArray>("key"); // a path into the kept reply
    QTest::addColumn<QJsonValue>("expected");
    // The emboss data is the second message (the format is the first).
    QTest::newRow("message: acknowledged, not decoded yet")
        << QByteArray("message") << 2 << QByteArray("state") << QByteArray("format.count")
        << QJsonValue(1);
    QTest::newRow("message: the format's, before decoding")
        << QByteArray("message") << 1 << QByteArray("state") << QByteArray("format.count")
        << QJsonValue(0);
    QTest::newRow("job start: Busy set") << QByteArray("job_start") << 1 << QByteArray("state")
                                         << QByteArray("flags.busy") << QJsonValue(true);
    QTest::newRow("job end: Busy cleared") << QByteArray("job_end") << 1 << QByteArray("state")
                                           << QByteArray("flags.busy") << QJsonValue(false);
    QTest::newRow("strike 4: four glyphs drawn")
        << QByteArray("strike") << 4 << QByteArray("glyphs") << QByteArray("glyphs#")
        << QJsonValue(4);
    QTest::newRow("strike 1: one glyph drawn") << QByteArray("strike") << 1 << QByteArray("glyphs")
                                               << QByteArray("glyphs#") << QJsonValue(1);
}

void TestTriggers::eventsFireAtTheirPoint()
{
    QFETCH(QByteArray, event);
    QFETCH(int, count);
    QFETCH(QByteArray, action);
    QFETCH(QByteArray, key);
    QFETCH(QJsonValue, expected);
    Rig rig;
    QVERIFY(rig.ok);
    QCOMPARE(rig.request(json(R"({"cmd":"press","button":"clear"})")).value("ok"),
             QJsonValue(true));
    QCOMPARE(rig.request(json(R"({"cmd":"wait_idle","timeout_ms":10000})")).value("idle"),
             QJsonValue(true));
    QCOMPARE(rig.request(on(event.constData(), count, cmd(action.constData()))).value("ok"),
             QJsonValue(true));
    QCOMPARE(rig.host->exchange(kOneField, 2), ackReply('2'));
    QCOMPARE(rig.request(json(R"({"cmd":"wait_idle","timeout_ms":10000})")).value("idle"),
             QJsonValue(true));
    QCOMPARE(rig.host->exchange(HostMessages::embossData("ABCDEF"), 2), ackReply('2'));
    QCOMPARE(rig.request(json(R"({"cmd":"wait_idle","timeout_ms":10000})")).value("idle"),
             QJsonValue(true));

    const QJsonObject trigger = firstFired(rig);
    QCOMPARE(trigger.value("fired").toInt(), 1);
    QJsonObject reply = trigger.value("reply").toObject();
    QCOMPARE(reply.value("ok"), QJsonValue(true));
    const QList<QByteArray> path = key.split('.');
    for (qsizetype i = 0; i + 1 < path.size(); ++i)
        reply = reply.value(QString::fromLatin1(path.at(i))).toObject();
    QJsonValue value;
    if (path.last().endsWith('#'))
        value = int(reply.value(QString::fromLatin1(path.last().chopped(1))).toArray().size());
    else
        value = reply.value(QString::fromLatin1(path.last()));
    QCOMPARE(value, expected);
}

void TestTriggers::waitIdleInsideATriggerAnswersLater()
{
    Rig rig;
    QVERIFY(rig.ok);
    readyWithFormat(rig);
    QVERIFY(rig.request(on("job_start", 1, json(R"({"cmd":"wait_idle"})"))).value("ok").toBool());
    // A press from inside a job queues and runs from the event loop, as the operator's would.
    const QJsonObject pause = json(R"({"cmd":"press","button":"pause"})");
    QVERIFY(rig.request(on("strike", 2, pause)).value("ok").toBool());
    QCOMPARE(rig.host->exchange(HostMessages::embossData("ABCDEF"), 2), ackReply('2'));
    QTRY_COMPARE_WITH_TIMEOUT(rig.request(cmd("state")).value("flags").toObject().value("paused"),
                              QJsonValue(true), 5000);
    QCOMPARE(rig.poll(), ackReply('W'));
    QCOMPARE(firstFired(rig).value("reply_due"), QJsonValue(true));
    rig.request(pause);
    QCOMPARE(rig.request(json(R"({"cmd":"wait_idle","timeout_ms":10000})")).value("idle"),
             QJsonValue(true));
    const QJsonArray fired = rig.request(cmd("triggers")).value("fired").toArray();
    QCOMPARE(fired.size(), 2);
    const QJsonObject waited = fired.at(0).toObject();
    QTRY_COMPARE(firstFired(rig).value("reply").toObject().value("idle"), QJsonValue(true));
    QCOMPARE(waited.value("id").toInt(), 1);
    QCOMPARE(rig.request(cmd("glyphs")).value("glyphs").toArray().size(), 6);
}

void TestTriggers::afterMsFiresFromTheEventLoop()
{
    Rig rig;
    QVERIFY(rig.ok);
    QVERIFY(rig.request(on("after_ms", 100, setFault("x_motor_error"))).value("ok").toBool());
    const QJsonObject armed =
        rig.request(cmd("triggers")).value("armed").toArray().at(0).toObject();
    QVERIFY2(armed.value("remaining").toInt() <= 100, QJsonDocument(armed).toJson().constData());
    QCOMPARE(rig.request(cmd("faults")).value("faults").toObject().value("x_motor_error"),
             QJsonValue(false));
    QTRY_COMPARE(rig.request(cmd("faults")).value("faults").toObject().value("x_motor_error"),
                 QJsonValue(true));
    QCOMPARE(firstFired(rig).value("reply").toObject().value("ok"), QJsonValue(true));
}

void TestTriggers::refusedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("error");
    const QString badDo = QStringLiteral("on: do must be a control request object");
    QTest::newRow("unknown event")
        << QByteArray(R"({"cmd":"on","event":"landing","do":{"cmd":"state"}})")
        << QStringLiteral("on: event must be one of strike, poll, message, job_start, job_end, "
                          "after_ms");
    QTest::newRow("no event") << QByteArray(R"({"cmd":"on","do":{"cmd":"state"}})")
                              << QStringLiteral("on: event must be one of");
    QTest::newRow("do a string") << QByteArray(
                                        R"({"cmd":"on","event":"poll","do":"{\"cmd\":\"state\"}"})")
                                 << badDo;
    QTest::newRow("do an array") << QByteArray(
                                        R"({"cmd":"on","event":"poll","do":[{"cmd":"state"}]})")
                                 << badDo;
    QTest::newRow("no do") << QByteArray(R"({"cmd":"on","event":"poll"})") << badDo;
    QTest::newRow("do without cmd")
        << QByteArray(R"({"cmd":"on","event":"poll","do":{"fault":"feeder_empty"}})") << badDo;
    QTest::newRow("do an unknown command")
        << QByteArray(R"({"cmd":"on","event":"poll","do":{"cmd":"fly"}})") << badDo;
    QTest::newRow("count 0")
        << QByteArray(R"({"cmd":"on","event":"strike","count":0,"do":{"cmd":"state"}})")
        << QStringLiteral("on: count must be a whole number from 1");
    QTest::newRow("count not whole")
        << QByteArray(R"({"cmd":"on","event":"strike","count":2.5,"do":{"cmd":"state"}})")
        << QStringLiteral("on: count must be a whole number from 1");
    QTest::newRow("count a string")
        << QByteArray(R"({"cmd":"on","event":"strike","count":"3","do":{"cmd":"state"}})")
        << QStringLiteral("on: count must be a whole number from 1");
    QTest::newRow("repeating timer of 0 ms")
        << QByteArray(
               R"({"cmd":"on","event":"after_ms","count":0,"repeat":true,"do":{"cmd":"state"}})")
        << QStringLiteral("on: count must be a whole number from 1");
    QTest::newRow("repeat not a boolean")
        << QByteArray(R"({"cmd":"on","event":"poll","repeat":1,"do":{"cmd":"state"}})")
        << QStringLiteral("on: repeat must be true or false");
}

void TestTriggers::refusedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, error);
    Rig rig;
    QVERIFY(rig.ok);
    const QJsonObject reply = rig.request(QJsonDocument::fromJson(request).object());
    QCOMPARE(reply.value("ok"), QJsonValue(false));
    QVERIFY2(reply.value("error").toString().startsWith(error),
             qPrintable(reply.value("error").toString()));
    // Nothing was armed: the machine answers as before.
    const QJsonObject list = rig.request(cmd("triggers"));
    QCOMPARE(list.value("armed").toArray().size(), 0);
    QCOMPARE(list.value("fired").toArray().size(), 0);
    QCOMPARE(rig.poll(), ackReply('P'));
}

void TestTriggers::scenarioIsArmedAtStart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("scenario.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"([
  {"cmd":"on","event":"poll","do":{"cmd":"ignore_polls","count":1}},
  {"cmd":"on","event":"poll","count":3,"do":{"cmd":"set_fault","fault":"feeder_empty","on":true}}
])");
    file.close();
    ProgramProcess program({"--scenario", path});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    ProcessHost host(program.hostPort);
    QVERIFY(host.connected);
    // The very first poll is lost; the third finds the fault set, but powered on outranks it.
    QCOMPARE(host.exchangeFor(kPoll, 200), QByteArray());
    QCOMPARE(host.exchange(kPoll, 2), ackReply('P'));
    QCOMPARE(host.exchange(kPoll, 2), ackReply('P'));
    const QJsonObject list = program.request(cmd("triggers"));
    QCOMPARE(list.value("armed").toArray().size(), 0);
    QCOMPARE(list.value("fired").toArray().size(), 2);
    const QJsonObject setAtThird = list.value("fired").toArray().at(1).toObject();
    QCOMPARE(setAtThird.value("reply").toObject().value("faults"),
             QJsonValue(QJsonObject{{"feeder_empty", true},
                                    {"card_misfeed", false},
                                    {"y_motor_error", false},
                                    {"x_motor_error", false}}));
}

void TestTriggers::badScenarioEndsTheStart_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<QString>("message");    // after "<file>: "
    QTest::newRow("missing") << QByteArray() << QStringLiteral("no such file");
    QTest::newRow("not JSON") << QByteArray("[\n{\"cmd\":\"on\",}\n]")
                              << QStringLiteral("not JSON (");
    QTest::newRow("an object") << QByteArray(R"({"cmd":"on"})")
                               << QStringLiteral("must hold a JSON array");
    QTest::newRow("entry 2 not on")
        << QByteArray(R"([{"cmd":"on","event":"poll","do":{"cmd":"state"}},{"cmd":"quit"}])")
        << QStringLiteral("entry 2: must be an object with \"cmd\":\"on\"");
    QTest::newRow("entry 1 unknown event")
        << QByteArray(R"([{"cmd":"on","event":"lunch","do":{"cmd":"state"}}])")
        << QStringLiteral("entry 1: on: event must be one of");
    QTest::newRow("entry 3 do not an object")
        << QByteArray(R"([{"cmd":"on","event":"poll","do":{"cmd":"state"}},)"
                      R"({"cmd":"on","event":"poll","do":{"cmd":"state"}},)"
                      R"({"cmd":"on","event":"poll","do":"state"}])")
        << QStringLiteral("entry 3: on: do must be a control request object");
    QTest::newRow("doubled key")
        << QByteArray(R"([{"cmd":"on","event":"poll","event":"strike","do":{"cmd":"state"}}])")
        << QStringLiteral("a key appears twice");
}

void TestTriggers::badScenarioEndsTheStart()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath("scenario.json");
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    ProgramProcess program({"--scenario", path});
    QVERIFY(program.finishes(20000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 2);
    const QString expected = QStringLiteral("vorlak: --scenario: %1: %2").arg(path, message);
    QVERIFY2(QString::fromLocal8Bit(program.stderrText).contains(expected),
             program.stderrText.constData());
}

QTEST_GUILESS_MAIN(TestTriggers)
#include "tst_triggers.moc"
