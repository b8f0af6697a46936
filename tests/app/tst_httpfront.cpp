// The HTTP front of the real program, through real HTTP on its own port: every endpoint and
// refusal with its exact status, the token rule, the same command table as the control port,
// the event stream during a job, and a client that never reads its stream.

#include "hostmessages.h"
#include "httpclient.h"
#include "programprocess.h"

#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTcpServer>

#include <QScopeGuard>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// The program with its HTTP front on a free port, its control port connected.
struct HttpRig {
    explicit HttpRig(const QStringList &arguments = {}, const QStringList &environment = {},
                     quint16 hostPort = 0)
        : program(QStringList{"--http-port", "0"} + arguments, 20, environment, hostPort)
    {
        if (!program.waitUntilListening())
            return;
        static const QRegularExpression line(QStringLiteral("HTTP listening on [^ ]+:(\\d+)"));
        QRegularExpressionMatch match;
        QTest::qWaitFor(
            [&] {
                match = line.match(QString::fromLocal8Bit(program.stderrText));
                return match.hasMatch();
            },
            5000);
        port = match.hasMatch() ? match.captured(1).toUShort() : 0;
    }
    HttpReply get(const QByteArray &path, const QList<QByteArray> &headers = {})
    {
        return httpRequest(port, "GET", path, {}, headers);
    }
    HttpReply post(const QByteArray &body, const QList<QByteArray> &headers = {})
    {
        return httpRequest(port, "POST", "/api/command", body, headers);
    }

    ProgramProcess program;
    quint16 port = 0;
};

// An event stream read as it comes: each event's name and its data object.
struct EventReader {
    explicit EventReader(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(3000);
        socket.write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }
    void pump()
    {
        QCoreApplication::processEvents();
        socket.waitForReadyRead(5);
        raw += socket.readAll();
        qsizetype end;
        while ((end = raw.indexOf("\n\n", parsed)) >= 0) {
            const QByteArray block = raw.mid(parsed, end - parsed);
            parsed = end + 2;
            QByteArray name, data;
            for (const QByteArray &line : block.split('\n')) {
                if (line.startsWith("event: "))
                    name = line.mid(7);
                else if (line.startsWith("data: "))
                    data = line.mid(6);
            }
            if (!name.isEmpty())
                events.append({name, QJsonDocument::fromJson(data).object()});
        }
    }
    bool waitFor(const QByteArray &name, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            pump();
            for (const auto &event : events) {
                if (event.first == name)
                    return true;
            }
        }
        return false;
    }
    QList<QByteArray> names() const
    {
        QList<QByteArray> list;
        for (const auto &event : events)
            list.append(event.first);
        return list;
    }

    QTcpSocket socket;
    QByteArray raw;
    qsizetype parsed = 0;
    QList<QPair<QByteArray, QJsonObject>> events;
};

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// The fields of "state" that do not change from one request to the next at rest.
QJsonObject steadyState(QJsonObject state)
{
    state.remove(QStringLiteral("panels")); // the activity panel turns at every poll
    return state;
}

} // namespace

class TestHttpFront : public QObject
{
    Q_OBJECT
private slots:
    void endpointsAndRefusals_data();
    void endpointsAndRefusals();
    void sameTableAsTheControlPort();
    void waitIdleAnswersWhenTheMachineRests();
    void answersComeInTheOrderOfTheRequests();
    void tokenRule_data();
    void tokenRule();
    void bindingBeyondLoopbackNeedsAToken();
    void healthTellsWhyTheHostPortIsClosed();
    void eventsOfAJob();
    void aClientThatNeverReadsCostsNothing();
    void largeBodiesAreRefusedBeforeTheyAreRead_data();
    void largeBodiesAreRefusedBeforeTheyAreRead();
};

void TestHttpFront::endpointsAndRefusals_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("error"); // the start of the error text; empty: "ok" is true

    const QByteArray json = "application/json";
    QTest::newRow("health") << QByteArray("GET") << QByteArray("/healthz") << QByteArray() << 200
                            << json << QString();
    QTest::newRow("state") << QByteArray("GET") << QByteArray("/api/state") << QByteArray() << 200
                           << json << QString();
    QTest::newRow("a command") << QByteArray("POST") << QByteArray("/api/command")
                               << QByteArray(R"({"cmd":"faults"})") << 200 << json << QString();
    QTest::newRow("a request the table refuses")
        << QByteArray("POST") << QByteArray("/api/command") << QByteArray(R"({"cmd":"fly"})") << 200
        << json << QString("unknown command");
    QTest::newRow("card picture") << QByteArray("GET") << QByteArray("/api/card.png")
                                  << QByteArray() << 200 << QByteArray("image/png") << QString();
    QTest::newRow("malformed JSON")
        << QByteArray("POST") << QByteArray("/api/command") << QByteArray(R"({"cmd":)") << 400
        << json << QString("malformed");
    QTest::newRow("not an object") << QByteArray("POST") << QByteArray("/api/command")
                                   << QByteArray("[1,2]") << 400 << json << QString("malformed");
    QTest::newRow("a key twice") << QByteArray("POST") << QByteArray("/api/command")
                                 << QByteArray(R"({"cmd":"state","cmd":"quit"})") << 400 << json
                                 << QString("malformed");
    QTest::newRow("empty body") << QByteArray("POST") << QByteArray("/api/command") << QByteArray()
                                << 400 << json << QString("malformed");
    QTest::newRow("command by GET") << QByteArray("GET") << QByteArray("/api/command")
                                    << QByteArray() << 405 << json << QString("/api/command");
    QTest::newRow("state by POST") << QByteArray("POST") << QByteArray("/api/state")
                                   << QByteArray("{}") << 405 << json << QString("/api/state");
    QTest::newRow("events by DELETE") << QByteArray("DELETE") << QByteArray("/api/events")
                                      << QByteArray() << 405 << json << QString("/api/events");
    QTest::newRow("unknown path") << QByteArray("GET") << QByteArray("/api/nothing") << QByteArray()
                                  << 404 << json << QString("no such path");
    QTest::newRow("a file outside the page")
        << QByteArray("GET") << QByteArray("/../../etc/passwd") << QByteArray() << 404 << json
        << QString("no such path");
    QTest::newRow("a resource path") << QByteArray("GET") << QByteArray("/:/web/index.html")
                                     << QByteArray() << 404 << json << QString("no such path");
    QTest::newRow("body over 1 MiB")
        << QByteArray("POST") << QByteArray("/api/command")
        << QByteArray(R"({"cmd":"state","pad":")") + QByteArray(1024 * 1024, 'x') + "\"}" << 413
        << json << QString("the request body is larger than 1 MiB");
}

// Each answer's status, type and "ok"; and none of the refusals touches the machine: its state
// and error list are as before, and a host's poll is answered at once.
void TestHttpFront::endpointsAndRefusals()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, error);

    HttpRig rig;
    QVERIFY2(rig.port != 0, rig.program.stderrText.constData());
    const QJsonObject before = steadyState(rig.program.request({{"cmd", "state"}}));

    const HttpReply reply = httpRequest(rig.port, method, path, body);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.header("Content-Type"), contentType);
    QCOMPARE(reply.header("Content-Length").toLongLong(), reply.body.size());
    if (contentType == "image/png") {
        const QImage picture = QImage::fromData(reply.body, "PNG");
        const QJsonObject card = before.value("card").toObject();
        QCOMPARE(picture.size(),
                 QSize(card.value("width_px").toInt(), card.value("height_px").toInt()));
    } else {
        const QJsonObject object = reply.json();
        QCOMPARE(object.value("ok").toBool(), error.isEmpty());
        QVERIFY2(object.value("error").toString().startsWith(error),
                 qPrintable(object.value("error").toString()));
    }
    if (status == 405)
        QCOMPARE(reply.header("Allow"), path == "/api/command" ? "POST" : "GET");

    QCOMPARE(steadyState(rig.program.request({{"cmd", "state"}})), before);
    ProcessHost host(rig.program.hostPort);
    QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06P"));
}

// What the HTTP front answers is what the control port answers, and what one changes the
// other sees.
void TestHttpFront::sameTableAsTheControlPort()
{
    HttpRig rig;
    QVERIFY(rig.port != 0);
    const QList<QByteArray> requests{
        R"({"cmd":"faults"})",
        R"({"cmd":"fly"})",
        R"({"cmd":"press","button":"sideways"})",
        R"({"cmd":"set_fault","fault":"card_misfeed"})",
        R"({"cmd":"on","event":"never","count":1,"do":{"cmd":"state"}})",
        R"({"cmd":"reply_delay","ms":0})",
    };
    for (const QByteArray &request : requests) {
        const QJsonObject control = rig.program.request(QJsonDocument::fromJson(request).object());
        QCOMPARE(rig.post(request).json(), control);
    }
    rig.program.request({{"cmd", "press"}, {"button", "clear"}});
    rig.program.request({{"cmd", "wait_idle"}});
    ProcessHost host(rig.program.hostPort);
    const QByteArray ready = host.exchange(kPoll, 2);
    QVERIFY(rig.post(R"({"cmd":"set_fault","fault":"y_motor_error","on":true})")
                .json()
                .value("ok")
                .toBool());
    const QJsonObject faults = rig.program.request({{"cmd", "faults"}});
    QCOMPARE(faults.value("faults").toObject().value("y_motor_error").toBool(), true);
    const QByteArray fault = host.exchange(kPoll, 35); // "Y MOTOR EMBOSS ERROR"
    QVERIFY(fault != ready);
    const QJsonObject state = rig.get("/api/state").json();
    QCOMPARE(state.value("status").toObject().value("reply_hex").toString(),
             QString::fromLatin1(fault.toHex(' ')));
}

void TestHttpFront::waitIdleAnswersWhenTheMachineRests()
{
    HttpRig rig;
    QVERIFY(rig.port != 0);
    QVERIFY(rig.post(R"({"cmd":"press","button":"clear"})").json().value("ok").toBool());
    QElapsedTimer waited;
    waited.start();
    const HttpReply reply = rig.post(R"({"cmd":"wait_idle","timeout_ms":20000})");
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json().value("idle").toBool(), true);
    QVERIFY2(waited.elapsed() > 20, "the reply waited for the clear sequence");
    QCOMPARE(rig.get("/api/state").json().value("display").toString(), QString("READY"));
}

// Requests sent back to back on one connection are answered in their order, also when the
// first answer comes later (wait_idle behind a clear sequence, a picture being encoded).
void TestHttpFront::answersComeInTheOrderOfTheRequests()
{
    HttpRig rig;
    QVERIFY(rig.port != 0);
    QVERIFY(rig.post(R"({"cmd":"press","button":"clear"})").json().value("ok").toBool());
    const QByteArray waitIdle = R"({"cmd":"wait_idle","timeout_ms":20000})";
    const QByteArray head = " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, rig.port);
    QVERIFY(client.waitForConnected(3000));
    client.write("POST /api/command" + head +
                 "Content-Length: " + QByteArray::number(waitIdle.size()) + "\r\n\r\n" + waitIdle +
                 "GET /healthz" + head + "\r\n" + "GET /api/card.png" + head + "\r\n" +
                 "GET /api/state" + head + "Connection: close\r\n\r\n");
    const QByteArray raw = readUntilClosed(client, 20000);
    const QList<HttpReply> replies = parseHttpReplies(raw);
    QVERIFY2(replies.size() == 4, raw.left(300).constData());
    QCOMPARE(replies[0].json().value("idle").toBool(), true);
    QCOMPARE(replies[1].json().value("host_port").toInt(), int(rig.program.hostPort));
    QVERIFY(rig.program.stderrText.contains("vorlak: host port listening on 0.0.0.0:" +
                                            QByteArray::number(rig.program.hostPort) + '\n'));
    QCOMPARE(replies[2].header("Content-Type"), QByteArray("image/png"));
    QCOMPARE(replies[3].json().value("display").toString(), QString("READY"));
}

void TestHttpFront::tokenRule_data()
{
    QTest::addColumn<QString>("source"); // "option" or "environment"
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("authorization"); // the header line, or none
    QTest::addColumn<int>("status");

    const QByteArray right = "Authorization: Bearer s3cret";
    for (const char *source : {"option", "environment"}) {
        const QString s = QString::fromLatin1(source);
        QTest::addRow("%s: no header", source)
            << s << QByteArray("/api/state") << QByteArray() << 401;
        QTest::addRow("%s: wrong token", source)
            << s << QByteArray("/api/state") << QByteArray("Authorization: Bearer s3cre") << 401;
        QTest::addRow("%s: token not as Bearer", source)
            << s << QByteArray("/api/state") << QByteArray("Authorization: s3cret") << 401;
        QTest::addRow("%s: right token", source) << s << QByteArray("/api/state") << right << 200;
        QTest::addRow("%s: health without", source)
            << s << QByteArray("/healthz") << QByteArray() << 401;
        QTest::addRow("%s: events without", source)
            << s << QByteArray("/api/events") << QByteArray() << 401;
        QTest::addRow("%s: unknown path without", source)
            << s << QByteArray("/secret/path") << QByteArray() << 401;
        QTest::addRow("%s: unknown path with", source)
            << s << QByteArray("/secret/path") << right << 404;
    }
}

void TestHttpFront::tokenRule()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);

    HttpRig rig(source == "option" ? QStringList{"--http-token", "s3cret"} : QStringList{},
                source == "environment" ? QStringList{"VORLAK_HTTP_TOKEN=s3cret"} : QStringList{});
    QVERIFY(rig.port != 0);
    QList<QByteArray> headers;
    if (!authorization.isEmpty())
        headers.append(authorization);
    const HttpReply reply = rig.get(path, headers);
    QCOMPARE(reply.status, status);
    if (status == 401) {
        QCOMPARE(reply.header("WWW-Authenticate"), QByteArray("Bearer"));
        QCOMPARE(reply.json().value("ok").toBool(), false);
    }
    // The command path takes the same rule.
    if (path == "/api/state")
        QCOMPARE(rig.post(R"({"cmd":"state"})", headers).status, status);
}

void TestHttpFront::bindingBeyondLoopbackNeedsAToken()
{
    {
        ProgramProcess program({"--http-port", "0", "--http-bind", "0.0.0.0"});
        QVERIFY(program.finishes(10000));
        QCOMPARE(program.process.exitCode(), 2);
        QVERIFY2(program.stderrText.contains("--http-bind 0.0.0.0 is reachable from other "
                                             "machines: it needs --http-token TOKEN"),
                 program.stderrText.constData());
    }
    {
        ProgramProcess program({"--http-port", "0", "--http-bind", "not-an-address"});
        QVERIFY(program.finishes(10000));
        QCOMPARE(program.process.exitCode(), 2);
        QVERIFY(program.stderrText.contains("--http-bind needs an IP address"));
    }
    HttpRig rig({"--http-bind", "0.0.0.0", "--http-token", "t"});
    QVERIFY2(rig.port != 0, rig.program.stderrText.constData());
    QVERIFY(rig.program.stderrText.contains("HTTP listening on 0.0.0.0:"));
    QCOMPARE(rig.get("/healthz").status, 401);
    QCOMPARE(rig.get("/healthz", {"Authorization: Bearer t"}).status, 200);
}

void TestHttpFront::healthTellsWhyTheHostPortIsClosed()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::AnyIPv4, 0));
    HttpRig rig({}, {}, occupant.serverPort());
    QVERIFY(rig.port != 0);
    const HttpReply reply = rig.get("/healthz");
    QCOMPARE(reply.status, 503);
    QCOMPARE(reply.json().value("ok").toBool(), false);
    const QString error = reply.json().value("error").toString();
    QVERIFY2(error.startsWith(QStringLiteral("the host port %1 could not be opened: "
                                             "Windows-Socket-Fehler: ")
                                  .arg(occupant.serverPort())),
             qPrintable(error));
    // Nor does stderr say it listens: a rig that picked the port learns it is not the program's.
    QVERIFY(!rig.program.stderrText.contains("host port listening"));
}

// A clear and a job seen on the stream: the display, each status reply, the card's wipe, the
// job's start, every strike in order and the job's end, each in the control port's form.
void TestHttpFront::eventsOfAJob()
{
    HttpRig rig;
    QVERIFY(rig.port != 0);
    EventReader events(rig.port);
    QVERIFY(QTest::qWaitFor(
        [&] {
            events.pump();
            return events.raw.contains(": vorlak events");
        },
        5000));
    QVERIFY(events.raw.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"));

    ProcessHost host(rig.program.hostPort);
    QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06P"));
    QVERIFY(rig.post(R"({"cmd":"press","button":"clear"})").json().value("ok").toBool());
    QVERIFY(events.waitFor("card_erased"));
    const qsizetype erasedBefore = events.names().count("card_erased");
    QCOMPARE(host.exchange(
                 HostMessages::formatDefinition(HostMessages::cardBlock("0480", "0760"),
                                                {HostMessages::record("100", "050", '0', "14")}),
                 2),
             QByteArray("\x06\x32"));
    // The format gives the card a new size: the stream says so, and the picture has it.
    QVERIFY(QTest::qWaitFor(
        [&] {
            events.pump();
            return events.names().count("card_erased") > erasedBefore;
        },
        5000));
    const QJsonObject card = rig.get("/api/state").json().value("card").toObject();
    QCOMPARE(QImage::fromData(rig.get("/api/card.png").body, "PNG").size(),
             QSize(card.value("width_px").toInt(), card.value("height_px").toInt()));
    QVERIFY(card.value("width_px").toInt() != 500);
    QCOMPARE(host.exchange(HostMessages::embossData("AB1", "T7"), 2), QByteArray("\x06\x32"));
    QVERIFY(events.waitFor("job_end", 20000));
    events.pump();

    const QList<QByteArray> names = events.names();
    QCOMPARE(names.first(), QByteArray("traffic")); // the poll as received
    const auto firstOf = [&](const char *name) { return names.indexOf(QByteArray(name)); };
    QVERIFY(firstOf("status") >= 0);
    QVERIFY(firstOf("card_erased") > firstOf("status"));
    QVERIFY(firstOf("job_start") > firstOf("card_erased"));
    QCOMPARE(names.count("strike"), 3);
    QVERIFY(firstOf("strike") > firstOf("job_start"));
    QVERIFY(names.lastIndexOf("strike") < firstOf("job_end"));

    const auto eventNamed = [&](const char *name, int nth = 0) {
        for (const auto &event : events.events) {
            if (event.first == name && nth-- == 0)
                return event.second;
        }
        return QJsonObject();
    };
    QCOMPARE(eventNamed("status"),
             QJsonObject({{"reply_hex", "06 50"}, {"display", "POWERED ON"}}));
    QCOMPARE(eventNamed("traffic"), QJsonObject({{"dir", "received"}, {"text", "#431#5"}}));
    QCOMPARE(eventNamed("job_start"), QJsonObject({{"job", 1}, {"tag", "T7"}}));
    const QJsonArray glyphs = rig.program.request({{"cmd", "glyphs"}}).value("glyphs").toArray();
    QCOMPARE(glyphs.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(eventNamed("strike", i).value("count").toInt(), i + 1);
        QCOMPARE(eventNamed("strike", i).value("glyph").toObject(), glyphs.at(i).toObject());
    }
    const QJsonObject end = eventNamed("job_end");
    QCOMPARE(end.value("job").toInt(), 1);
    QCOMPARE(end.value("outcome").toString(), QString("done"));
    QCOMPARE(end.value("glyphs").toInt(), 3);
    // The display is told when it changes, not at every poll that shows it again.
    QStringList displays;
    for (const auto &event : events.events) {
        if (event.first == "display")
            displays.append(event.second.value("display").toString());
    }
    QVERIFY(displays.contains("READY"));
    for (qsizetype i = 1; i < displays.size(); ++i)
        QVERIFY2(displays[i] != displays[i - 1], qPrintable(displays.join(" | ")));

    // Emboss data without a field beyond the format's: a diagnostic of the host's data.
    QCOMPARE(host.exchange(HostMessages::embossData("A\r\nB\r\nC", "T8"), 2),
             QByteArray("\x06\x32"));
    QVERIFY(events.waitFor("diagnostic", 20000));
    QCOMPARE(eventNamed("diagnostic").value("code").toString(), QString("line_beyond_count"));
}

// A client asks for the stream and never reads it. The machine answers a long run of polls as
// fast as without it, the program's memory stays bounded, the events it missed are counted,
// and a client that reads still gets its events.
void TestHttpFront::aClientThatNeverReadsCostsNothing()
{
    // A sanitizer build keeps freed memory in quarantine (256 MiB): it would pass for growth.
    HttpRig rig({}, {"ASAN_OPTIONS=quarantine_size_mb=0"});
    QVERIFY(rig.port != 0);
    // A plain socket with a small receive buffer that nothing reads (a Qt socket would read).
    const int sleeper = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto closeSleeper = qScopeGuard([sleeper] { ::close(sleeper); });
    const int small = 4096;
    ::setsockopt(sleeper, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(rig.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(sleeper, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const QByteArray get("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QCOMPARE(::send(sleeper, get.constData(), get.size(), 0), get.size());
    QVERIFY(QTest::qWaitFor(
        [&] { return rig.get("/healthz").json().value("event_clients").toInt() == 1; }, 5000));

    const qint64 pid = rig.program.process.processId();
    ProcessHost host(rig.program.hostPort);
    // One poll at a time: polls that come together are answered once.
    const auto pollRun = [&](int polls) {
        int answered = 0;
        for (int i = 0; i < polls; ++i)
            answered += host.exchange(kPoll, 2) == QByteArray("\x06P") ? 1 : 0;
        return answered;
    };
    QCOMPARE(pollRun(5000), 5000); // warms the program up; the sleeper's buffers fill
    const qint64 before = residentKiB(pid);
    QCOMPARE(pollRun(20000), 20000);
    const qint64 after = residentKiB(pid);
    QVERIFY2(after - before < 8 * 1024,
             qPrintable(
                 QStringLiteral("resident memory grew from %1 to %2 KiB").arg(before).arg(after)));
    const QJsonObject health = rig.get("/healthz").json();
    QVERIFY2(health.value("events_dropped").toInteger() > 20000,
             QJsonDocument(health).toJson().constData());

    EventReader reader(rig.port);
    QVERIFY(QTest::qWaitFor(
        [&] {
            reader.pump();
            return reader.raw.contains(": vorlak events");
        },
        5000));
    QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06P"));
    QVERIFY(reader.waitFor("status", 5000));

    // Once the sleeper reads again, an event soon says how many it missed.
    QByteArray backlog;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     host.exchange(kPoll, 2);
                     char buffer[65536];
                     ssize_t n;
                     while ((n = ::recv(sleeper, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
                         backlog.append(buffer, n);
                     return backlog.contains("event: dropped\ndata: {\"count\":");
                 },
                 20000),
             qPrintable(QString::number(backlog.size())));
}

void TestHttpFront::largeBodiesAreRefusedBeforeTheyAreRead_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("chunks"); // 64 KiB pieces sent after the head, or as chunked body

    QTest::newRow("a length over 1 MiB, nothing sent")
        << QByteArray("Content-Length: 1048577\r\n") << 0;
    QTest::newRow("a length that is no number") << QByteArray("Content-Length: lots\r\n") << 0;
    QTest::newRow("a chunked body that grows past 1 MiB")
        << QByteArray("Transfer-Encoding: chunked\r\n") << 24;
    QTest::newRow("a head that never ends") << QByteArray("X-Pad: ") << 3;
}

// The 413 comes while the client is still sending (or before it has begun), the connection
// ends, and the machine is untouched.
void TestHttpFront::largeBodiesAreRefusedBeforeTheyAreRead()
{
    QFETCH(QByteArray, head);
    QFETCH(int, chunks);

    HttpRig rig;
    QVERIFY(rig.port != 0);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, rig.port);
    QVERIFY(client.waitForConnected(3000));
    const bool chunked = head.startsWith("Transfer-Encoding");
    const bool headEnds = !head.startsWith("X-Pad");
    client.write("POST /api/command HTTP/1.1\r\nHost: 127.0.0.1\r\n" + head +
                 (headEnds ? "\r\n" : ""));
    const QByteArray piece(64 * 1024, 'x');
    for (int i = 0; i < chunks && client.state() == QAbstractSocket::ConnectedState; ++i) {
        client.write(chunked ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                             : piece);
        client.waitForBytesWritten(1000);
    }
    const HttpReply reply = parseHttpReply(readUntilClosed(client, 10000));
    QCOMPARE(reply.status, 413);
    QCOMPARE(reply.json().value("ok").toBool(), false);
    QCOMPARE(client.state(), QAbstractSocket::UnconnectedState);
    ProcessHost host(rig.program.hostPort);
    QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06P"));
    QCOMPARE(rig.program.request({{"cmd", "errors"}}).value("count").toInt(), 0);
}

QTEST_GUILESS_MAIN(TestHttpFront)
#include "tst_httpfront.moc"
