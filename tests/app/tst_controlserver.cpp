// The test rig's control port, end to end: JSON lines in, JSON lines out, and their effect on
// what the host sees on its own port.

#include "controlserver.h"
#include "simulatorharness.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>

class ControlClient
{
public:
    explicit ControlClient(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        connected = socket.waitForConnected(3000);
    }
    QJsonObject request(const QByteArray &line, int timeoutMs = 5000)
    {
        socket.write(line + '\n');
        socket.flush();
        (void)QTest::qWaitFor([&] { return socket.canReadLine(); }, timeoutMs);
        return QJsonDocument::fromJson(socket.readLine()).object();
    }
    QJsonObject request(const QJsonObject &object, int timeoutMs = 5000)
    {
        return request(QJsonDocument(object).toJson(QJsonDocument::Compact), timeoutMs);
    }
    QTcpSocket socket;
    bool connected = false;
};

class TestControlServer : public QObject
{
    Q_OBJECT
private slots:
    void faultsChangeThePollReply();
    void clearThenPollAnswersReady();
    void malformedAndUnknownRequestsGetErrors_data();
    void malformedAndUnknownRequestsGetErrors();
    void listensOnLoopbackOnly();
    void lineFaults();
    void fastJobGlyphsAndCardPicture();
    void monitorLogs();
    void aHostConnectedBeforeARequestIsCounted();
};

namespace
{
struct Rig {
    Rig() : control(*sim.window)
    {
        sim.start();
        ok = control.listen(0);
    }
    Simulator sim{20};
    ControlServer control;
    bool ok = false;
};
QJsonObject cmd(const char *name)
{
    return {{QStringLiteral("cmd"), QString::fromLatin1(name)}};
}
} // namespace

void TestControlServer::faultsChangeThePollReply()
{
    Rig rig;
    QVERIFY(rig.ok);
    ControlClient control(rig.control.port());
    HostClient host(rig.sim.port());
    QVERIFY(
        control.request(QJsonObject{{"cmd", "press"}, {"button", "clear"}}).value("ok").toBool());
    QCOMPARE(control.request(QJsonObject{{"cmd", "wait_idle"}, {"timeout_ms", 3000}})
                 .value(QStringLiteral("idle")),
             QJsonValue(true));
    const QJsonObject set = control.request(
        QJsonObject{{"cmd", "set_fault"}, {"fault", "y_motor_error"}, {"on", true}});
    QVERIFY(set.value(QStringLiteral("ok")).toBool());
    QVERIFY(rig.sim.window->cbYMotorError->isChecked());
    QCOMPARE(host.poll(35), QByteArray("\x06"
                                       "5\x02"
                                       "E00053E71  Y MOTOR EMBOSS ERROR\x03"));
    const QJsonObject state = control.request(cmd("state"));
    QCOMPARE(state.value("display").toString(), QStringLiteral("Y MOTOR EMBOSS ERROR"));
    QCOMPARE(state.value("status").toObject().value("reply_hex").toString().left(5),
             QStringLiteral("06 35"));
    QCOMPARE(state.value("faults").toObject().value("y_motor_error"), QJsonValue(true));
}

void TestControlServer::clearThenPollAnswersReady()
{
    Rig rig;
    ControlClient control(rig.control.port());
    HostClient host(rig.sim.port());
    QCOMPARE(host.poll(), ackReply('P'));
    // wait_idle, sent right behind the press, waits for the clear sequence to end.
    control.socket.write(R"({"cmd":"press","button":"clear"})"
                         "\n"
                         R"({"cmd":"wait_idle","timeout_ms":4000})"
                         "\n");
    QTRY_VERIFY(control.socket.canReadLine());
    QCOMPARE(QJsonDocument::fromJson(control.socket.readLine()).object().value("ok"),
             QJsonValue(true));
    QTRY_VERIFY_WITH_TIMEOUT(control.socket.canReadLine(), 4000);
    QCOMPARE(QJsonDocument::fromJson(control.socket.readLine()).object().value("idle"),
             QJsonValue(true));
    QCOMPARE(host.poll(), ackReply('1'));
}

void TestControlServer::malformedAndUnknownRequestsGetErrors_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("not json") << QByteArray("hello");
    QTest::newRow("array") << QByteArray("[1,2]");
    QTest::newRow("no cmd") << QByteArray("{}");
    QTest::newRow("unknown") << QByteArray(R"({"cmd":"fly"})");
    QTest::newRow("bad button") << QByteArray(R"({"cmd":"press","button":"power"})");
    QTest::newRow("bad fault") << QByteArray(R"({"cmd":"set_fault","fault":"smoke","on":true})");
    QTest::newRow("negative delay") << QByteArray(R"({"cmd":"reply_delay","ms":-1})");
    QTest::newRow("binary") << QByteArray("\x00\xff\x01{", 4);
}

void TestControlServer::malformedAndUnknownRequestsGetErrors()
{
    QFETCH(QByteArray, line);
    Rig rig;
    ControlClient control(rig.control.port());
    const QJsonObject reply = control.request(line);
    QCOMPARE(reply.value("ok"), QJsonValue(false));
    QVERIFY(!reply.value("error").toString().isEmpty());
    // The connection and the program go on.
    QCOMPARE(control.request(cmd("faults")).value("ok"), QJsonValue(true));
}

void TestControlServer::listensOnLoopbackOnly()
{
    Rig rig;
    QVERIFY(rig.ok);
    QCOMPARE(rig.control.port() > 0, true);
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        QTcpSocket outside;
        outside.connectToHost(address, rig.control.port());
        QVERIFY2(!outside.waitForConnected(1000), qPrintable(address.toString()));
    }
}

void TestControlServer::lineFaults()
{
    Rig rig;
    ControlClient control(rig.control.port());
    HostClient host(rig.sim.port());
    QCOMPARE(control.request(QJsonObject{{"cmd", "ignore_polls"}, {"count", 2}}).value("ok"),
             QJsonValue(true));
    host.send("\x04"
              "31\x05");
    QCOMPARE(host.readFor(60), QByteArray());
    host.send("\x04"
              "31\x05");
    QCOMPARE(host.readFor(60), QByteArray());
    QCOMPARE(host.poll(), ackReply('P'));

    control.request(QJsonObject{{"cmd", "reply_delay"}, {"ms", 150}});
    host.send("\x04"
              "31\x05");
    QCOMPARE(host.readFor(60), QByteArray());
    QCOMPARE(host.read(2, 1000), ackReply('P'));
    control.request(QJsonObject{{"cmd", "reply_delay"}, {"ms", 0}});

    const QJsonObject dropped = control.request(cmd("disconnect_host"));
    QCOMPARE(dropped.value("closed").toInt(), 1);
    QTRY_COMPARE(host.socket.state(), QAbstractSocket::UnconnectedState);
    HostClient next(rig.sim.port());
    QCOMPARE(next.poll(), ackReply('P'));
}

void TestControlServer::fastJobGlyphsAndCardPicture()
{
    Rig rig; // speed 20
    ControlClient control(rig.control.port());
    HostClient host(rig.sim.port());
    // An 85.6 x 54.0 mm card; field 0 at y 10.0 mm, x 5.0 mm, pitch 14 (a tenth of an inch).
    host.send("\x01"
              "31\x02"
              "F]00 U0   0540  0856 0100 050 0  14 0200 050 1  14\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_COMPARE(control.request(cmd("state")).value("format").toObject().value("count").toInt(),
                 2);
    QElapsedTimer timer;
    timer.start();
    host.send("\x01"
              "31\x02"
              "T]00BA A\r\nAB\r\n@TAG01\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    // Waiting for the end as a rig would: wait_idle once the message is acknowledged.
    const QJsonObject idle =
        control.request(QJsonObject{{"cmd", "wait_idle"}, {"timeout_ms", 10000}}, 12000);
    QCOMPARE(idle.value("idle"), QJsonValue(true));
    QCOMPARE(rig.sim.errors.messages, QStringList());
    // Five strikes and the final second take 1.8 s at the machine's pace.
    QVERIFY2(timer.elapsed() < 900, qPrintable(QString::number(timer.elapsed())));

    const QJsonObject state = control.request(cmd("state"));
    QCOMPARE(state.value("panels").toArray().at(3).toString(), QStringLiteral("TAG01"));
    QCOMPARE(state.value("card").toObject().value("width_px").toInt(), 485);
    QCOMPARE(state.value("card").toObject().value("height_px").toInt(), 306);

    const QJsonObject glyphReply = control.request(cmd("glyphs"));
    const QJsonArray glyphs = glyphReply.value("glyphs").toArray();
    QStringList order;
    for (const QJsonValue &g : glyphs)
        order << g.toObject().value("char").toString();
    // Character-wheel order: all A before all B; the blank strikes nothing.
    QCOMPARE(order, (QStringList{"A", "A", "A", "B", "B"}));
    // The first B of field 0 is at x = 5.0 mm = 28 px; its cell bottom at 10.0 mm = 57 px.
    const QJsonObject b0 =
        glyphs[3].toObject().value("y").toInt() < glyphs[4].toObject().value("y").toInt()
            ? glyphs[3].toObject()
            : glyphs[4].toObject();
    QCOMPARE(b0.value("x").toInt(), 28);
    QCOMPARE(b0.value("y").toInt() + b0.value("font_height").toInt(), 57);

    const QString path = rig.sim.dir.filePath(QStringLiteral("card.png"));
    const QJsonObject saved = control.request(QJsonObject{{"cmd", "save_card"}, {"path", path}});
    QCOMPARE(saved.value("ok"), QJsonValue(true));
    QImage picture(path);
    QCOMPARE(picture.size(), QSize(485, 306));
    QCOMPARE(qAlpha(picture.pixel(0, 0)), 0); // outside the rounded corner
    // Every struck glyph left grey ink inside its cell.
    for (const QJsonValue &value : glyphs) {
        const QJsonObject g = value.toObject();
        const QRect cell(g.value("x").toInt(), g.value("y").toInt(),
                         g.value("font_height").toInt() / 2, g.value("font_height").toInt());
        bool inked = false;
        for (int y = cell.top(); y <= cell.bottom() && !inked; ++y)
            for (int x = cell.left(); x <= cell.right() && !inked; ++x)
                inked = picture.pixel(x, y) == qRgb(0x80, 0x80, 0x80);
        QVERIFY2(inked, qPrintable(g.value("char").toString()));
    }

    const QJsonObject failed =
        control.request(QJsonObject{{"cmd", "save_card"}, {"path", path + "/no/such/dir.png"}});
    QCOMPARE(failed.value("ok"), QJsonValue(false));
}

void TestControlServer::monitorLogs()
{
    Rig rig;
    ControlClient control(rig.control.port());
    HostClient host(rig.sim.port());
    QCOMPARE(control.request(QJsonObject{{"cmd", "monitor"}, {"show", true}}).value("shown"),
             QJsonValue(true));
    QCOMPARE(host.poll(), ackReply('P'));
    const QJsonObject logs = control.request(QJsonObject{{"cmd", "logs"}, {"clear", true}});
    QCOMPARE(logs.value("rx").toString(), QStringLiteral("#431#5"));
    QCOMPARE(logs.value("tx").toString(), QStringLiteral("#6P "));
    QCOMPARE(control.request(cmd("logs")).value("rx").toString(), QString());

    // The menu's "save traffic" writes both sides.
    QCOMPARE(host.poll(), ackReply('P'));
    const QString path = rig.sim.dir.filePath(QStringLiteral("traffic.txt"));
    rig.sim.window->saveMonitorTraffic(path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), QStringLiteral("Rx:\n#431#5\n\nTx:\n#6P \n"));
}

// The system completes a host's connection before the host can tell the rig so; a control
// request sent after that counts the host, whichever socket the event loop serves first.
void TestControlServer::aHostConnectedBeforeARequestIsCounted()
{
    Rig rig;
    QVERIFY(rig.ok);
    ControlClient control(rig.control.port());
    QVERIFY(control.connected);
    for (int i = 0; i < 5; ++i) {
        HostClient host(rig.sim.port()); // connected; the simulator has not served it yet
        QVERIFY(host.connected);
        QCOMPARE(control.request(cmd("state")).value("host_connections"), QJsonValue(1));
        QCOMPARE(control.request(cmd("disconnect_host")).value("closed"), QJsonValue(1));
    }
}

VORLAK_TEST_MAIN(TestControlServer)
#include "tst_controlserver.moc"
