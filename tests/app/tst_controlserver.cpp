// The test rig's control port, end to end: JSON lines in, JSON lines out, and their effect on
// what the host sees on its own port.

#include "controlserver.h"
#include "simulatorharness.h"

#include <QCheckBox>
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

VORLAK_TEST_MAIN(TestControlServer)
#include "tst_controlserver.moc"
