// The real program as a rig runs it: headless, unattended, as its own process. Errors never
// wait for a person, every way to end it writes the settings, and the control port answers
// only whom it should.

#include "hostmessages.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <QScopeGuard>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

QByteArray formatWithFont(char font)
{
    // One field at y 10.0 mm, x 5.0 mm, pitch 14 on an 85.6 x 54.0 mm card.
    return QByteArray("\x01"
                      "31\x02"
                      "F]00 U0   0540  0856 0100 050 ") +
           font + "  14\x03";
}


// One run of the program with its own data folder, host port and control port.
class Program
{
public:
    explicit Program(QStringList extraArguments = {}, double speed = 1000,
                     const QString &dataFolder = {})
    {
        folder = dataFolder.isEmpty() ? dir.path() : dataFolder;
        hostPort = freePort();
        if (!QFileInfo(folder + "/Vorlak.ini").exists() && QFileInfo(folder).isWritable()) {
            QFile ini(folder + "/Vorlak.ini");
            if (ini.open(QIODevice::WriteOnly))
                ini.write("[Setup]\nPort=" + QByteArray::number(hostPort) + "\n");
        }
        process.setProgram(QStringLiteral(VORLAK_EXECUTABLE));
        process.setArguments(QStringList{"--headless", "--data-dir", folder, "--control-port", "0",
                                         "--speed", QString::number(speed)} +
                             extraArguments);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("VORLAK_CONTROL_TOKEN"));
        process.setProcessEnvironment(environment);
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { stderrText += process.readAllStandardError(); });
        process.start();
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    // Waits for the line that names the control port.
    bool waitUntilListening()
    {
        static const QRegularExpression line(
            QStringLiteral("control port listening on 127.0.0.1:(\\d+)"));
        QRegularExpressionMatch match;
        const bool found = QTest::qWaitFor(
            [&] {
                match = line.match(QString::fromLocal8Bit(stderrText));
                return match.hasMatch() || process.state() == QProcess::NotRunning;
            },
            10000);
        if (!found || !match.hasMatch())
            return false;
        controlPort = match.captured(1).toUShort();
        control.connectToHost(QHostAddress::LocalHost, controlPort);
        return control.waitForConnected(3000);
    }

    QJsonObject request(const QJsonObject &object, int timeoutMs = 10000)
    {
        control.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        (void)QTest::qWaitFor([&] { return control.canReadLine(); }, timeoutMs);
        return QJsonDocument::fromJson(control.readLine()).object();
    }

    // The same without qWaitFor's 10 ms steps, for thousands of requests in a row; events are
    // served between, so the program's stderr is read and never fills its pipe.
    QJsonObject requestAtOnce(const QJsonObject &object, int timeoutMs = 10000)
    {
        control.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        QDeadlineTimer deadline(timeoutMs);
        while (!control.canReadLine() && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            control.waitForReadyRead(5);
        }
        return QJsonDocument::fromJson(control.readLine()).object();
    }

    bool finishes(int timeoutMs)
    {
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    }

    QTemporaryDir dir;
    QString folder;
    quint16 hostPort = 0;
    quint16 controlPort = 0;
    QProcess process;
    QByteArray stderrText;
    QTcpSocket control;
};

// A host connection that reads replies as they come.
class Host
{
public:
    explicit Host(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        connected = socket.waitForConnected(3000);
    }
    QByteArray exchange(const QByteArray &bytes, int replyLength, int timeoutMs = 5000)
    {
        socket.write(bytes);
        // A short blocking wait returns as soon as the reply is there (qWaitFor sleeps in
        // steps of 10 ms); events are served between, so the program's stderr is read and
        // never fills its pipe.
        QDeadlineTimer deadline(timeoutMs);
        while (socket.bytesAvailable() < replyLength && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            socket.waitForReadyRead(5);
        }
        return socket.read(replyLength);
    }
    QTcpSocket socket;
    bool connected = false;
};

QJsonObject cmd(const char *name)
{
    return {{QStringLiteral("cmd"), QString::fromLatin1(name)}};
}

} // namespace

class TestUnattended : public QObject
{
    Q_OBJECT
private slots:
    void thousandsOfFailingMessagesHeadless();
    void stderrNobodyReadsHoldsNothingUp();
    void quitWithUnwritableSettingsEnds();
    void terminationSignalWritesTheSettings_data();
    void terminationSignalWritesTheSettings();
    void secondSignalEndsAtOnce();
    void anotherUserWithoutTokenIsRefused();
    void queuedPressesLeaveTheHostAnswered();
};

void TestUnattended::thousandsOfFailingMessagesHeadless()
{
    Program program;
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    Host host(program.hostPort);
    QVERIFY(host.connected);
    QCOMPARE(host.exchange(formatWithFont('A'), 2), QByteArray("\x06"
                                                               "2"));
    // Every emboss message fails in its build phase: the font selector 'A' is no number.
    constexpr int kMessages = 6000;
    const QByteArray emboss("\x01"
                            "31\x02"
                            "T]00AB\r\n@T1\x03");
    // Each one after the last has failed: messages that come while a job runs nest in it, and
    // past the nesting bounds they are dropped, which is not what this counts.
    for (int i = 0; i < kMessages; ++i) {
        const QByteArray ack = host.exchange(emboss, 2);
        QVERIFY2(ack == QByteArray("\x06"
                                   "2"),
                 qPrintable(QStringLiteral("message %1 got %2").arg(i).arg(ack.toHex())));
        QCOMPARE(program.requestAtOnce({{"cmd", "wait_idle"}, {"timeout_ms", 5000}})
                     .value("idle"),
                 QJsonValue(true));
    }
    // Still the machine: a poll is answered (powered on until the first Clear).
    QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06"
                                                 "P"));
    QCOMPARE(program.request(cmd("state")).value("errors").toInt(), kMessages);
    const QJsonObject errors = program.request({{"cmd", "errors"}, {"clear", true}});
    QCOMPARE(errors.value("count").toInt(), kMessages);
    const QJsonArray list = errors.value("errors").toArray();
    QCOMPARE(list.size(), kMessages);
    QCOMPARE(list.first().toObject().value("text").toString(),
             QString::fromUtf8("'A' ist kein gültiger Integerwert."));
    QVERIFY(
        QDateTime::fromString(list.last().toObject().value("time").toString(), Qt::ISODateWithMs)
            .isValid());
    QCOMPARE(program.request(cmd("errors")).value("count").toInt(), 0);
    QVERIFY(program.stderrText.contains("'A' ist kein g"));

    QCOMPARE(program.request(cmd("quit")).value("ok"), QJsonValue(true));
    QVERIFY(program.finishes(5000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
}

void TestUnattended::stderrNobodyReadsHoldsNothingUp()
{
    // A rig that never reads the program's stderr: each failure's line goes into a pipe that
    // fills after about a thousand of them.
    int pipeEnds[2];
    QCOMPARE(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const int readEnd = pipeEnds[0];
    const int writeEnd = pipeEnds[1];
    QTemporaryDir dir;
    const quint16 hostPort = freePort();
    const quint16 controlPort = freePort();
    {
        QFile ini(dir.path() + "/Vorlak.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Setup]\nPort=" + QByteArray::number(hostPort) + "\n");
    }
    QProcess process;
    process.setProgram(QStringLiteral(VORLAK_EXECUTABLE));
    process.setArguments({"--headless", "--data-dir", dir.path(), "--control-port",
                          QString::number(controlPort), "--speed", "1000"});
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, 2); });
    process.start();
    ::close(writeEnd);
    QVERIFY(process.waitForStarted(5000));
    const auto cleanup = qScopeGuard([&] {
        process.kill();
        process.waitForFinished(3000);
        ::close(readEnd);
    });

    std::unique_ptr<Host> host;
    QVERIFY(QTest::qWaitFor(
        [&] {
            host = std::make_unique<Host>(hostPort);
            return host->connected;
        },
        10000));
    QCOMPARE(host->exchange(formatWithFont('A'), 2), QByteArray("\x06"
                                                                "2"));
    const QByteArray emboss("\x01"
                            "31\x02"
                            "T]00AB\r\n@T1\x03");
    constexpr int kMessages = 3000;
    for (int i = 0; i < kMessages; ++i) {
        const QByteArray ack = host->exchange(emboss, 2);
        QVERIFY2(ack == QByteArray("\x06"
                                   "2"),
                 qPrintable(QStringLiteral("message %1 got %2").arg(i).arg(ack.toHex())));
    }
    QCOMPARE(host->exchange(kPoll, 2), QByteArray("\x06"
                                                  "P"));

    // The rig reads at last: whole lines, then one saying how many were left out.
    const auto drain = [readEnd] {
        QByteArray text;
        ::fcntl(readEnd, F_SETFL, O_NONBLOCK);
        char chunk[65536];
        for (ssize_t got; (got = ::read(readEnd, chunk, sizeof chunk)) > 0;)
            text.append(chunk, got);
        return text;
    };
    const QByteArray before = drain();
    QVERIFY(before.endsWith('\n'));
    const qsizetype written = before.count("vorlak: error: 'A' ist kein g");
    QVERIFY2(written > 0 && written < kMessages, QByteArray::number(written).constData());
    QCOMPARE(host->exchange(emboss, 2), QByteArray("\x06"
                                                   "2"));
    QByteArray after;
    QVERIFY(QTest::qWaitFor(
        [&] {
            after += drain();
            return after.contains("vorlak: error:");
        },
        5000));
    static const QRegularExpression notice(
        QStringLiteral("^vorlak: (\\d+) lines were left out here: nobody read this output\n"));
    const QRegularExpressionMatch match = notice.match(QString::fromLocal8Bit(after));
    QVERIFY2(match.hasMatch(), after.constData());
    const int leftOut = match.captured(1).toInt();
    QVERIFY2(leftOut > 0 && written + leftOut <= kMessages, after.constData());
}

void TestUnattended::quitWithUnwritableSettingsEnds()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Vorlak.ini")));
    Program program({}, 1000, dir.path());
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    QCOMPARE(program.request(cmd("quit")).value("ok"), QJsonValue(true));
    QVERIFY2(program.finishes(5000), "the program did not end");
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 1);
    const QString message =
        QStringLiteral("In %1/Vorlak.ini kann nicht geschrieben werden.").arg(dir.path());
    QVERIFY2(QString::fromLocal8Bit(program.stderrText).contains(message),
             program.stderrText.constData());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("Vorlak.ini"))).isDir());
}

void TestUnattended::terminationSignalWritesTheSettings_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestUnattended::terminationSignalWritesTheSettings()
{
    QFETCH(int, signalNumber);
    Program program;
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    const QString ini = program.folder + QStringLiteral("/Vorlak.ini");
    const QByteArray before = [&] {
        QFile file(ini);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!before.contains("[Form]"));
    QCOMPARE(::kill(pid_t(program.process.processId()), signalNumber), 0);
    QVERIFY(program.finishes(5000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    QFile file(ini);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    QVERIFY2(after.contains("[Form]") && after.contains("StayOnTop=0"), after.constData());
}

void TestUnattended::secondSignalEndsAtOnce()
{
    Program program({}, 1); // the machine's own pace: a job of 40 strikes takes 7 s
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    Host host(program.hostPort);
    QCOMPARE(host.exchange(formatWithFont('0'), 2), QByteArray("\x06"
                                                               "2"));
    QCOMPARE(host.exchange(QByteArray("\x01"
                                      "31\x02"
                                      "T]00") +
                               QByteArray(40, 'X') + "@T1\x03",
                           2),
             QByteArray("\x06"
                        "2"));
    QCOMPARE(::kill(pid_t(program.process.processId()), SIGTERM), 0);
    // The close waits for the job, as the operator's close does.
    QVERIFY(!program.finishes(500));
    QCOMPARE(::kill(pid_t(program.process.processId()), SIGTERM), 0);
    QVERIFY(program.finishes(3000));
    QCOMPARE(program.process.exitStatus(), QProcess::CrashExit);
}

void TestUnattended::anotherUserWithoutTokenIsRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to ask as the user nobody with runuser");
    if (QProcess::execute(QStringLiteral("runuser"), {"-u", "nobody", "--", "true"}) != 0)
        QSKIP("runuser -u nobody does not work here");
    // A root-only file that a PNG must not overwrite.
    QTemporaryDir secrets;
    const QString secret = secrets.filePath(QStringLiteral("secret"));
    {
        QFile file(secret);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("root only\n");
    }
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);

    Program program({"--control-token", "s3cret", "--export-dir", secrets.path()});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    // What a local user sends: no token, then a guessed one.
    const auto askAsNobody = [&](const QByteArray &line) {
        QProcess client;
        client.start(QStringLiteral("runuser"),
                     {"-u", "nobody", "--", "bash", "-c",
                      QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/%1; printf '%s\\n' \"$0\" >&3; "
                                     "head -n 1 <&3")
                          .arg(program.controlPort),
                      QString::fromLatin1(line)});
        // Served while it waits: the program runs in its own process, the client in another.
        (void)QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 10000);
        return QJsonDocument::fromJson(client.readAllStandardOutput()).object();
    };
    const QByteArray save = R"({"cmd":"save_card","path":")" + QFile::encodeName(secret) + "\"";
    for (const QByteArray &line :
         {save + "}", save + R"(,"token":"guess"})", QByteArray(R"({"cmd":"quit"})")}) {
        const QJsonObject reply = askAsNobody(line);
        QCOMPARE(reply.value("ok"), QJsonValue(false));
        QVERIFY2(reply.value("error").toString().contains("token"), line.constData());
    }
    QFile file(secret);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("root only\n"));
    // With the token the same port serves; the program is still running.
    QCOMPARE(program.request({{"cmd", "state"}, {"token", "s3cret"}}).value("ok"),
             QJsonValue(true));
    QCOMPARE(program.request(cmd("state")).value("ok"), QJsonValue(false));
}

void TestUnattended::queuedPressesLeaveTheHostAnswered()
{
    Program program({}, 1); // the machine's own pace: every reset sequence takes 2 s
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    Host host(program.hostPort);
    QVERIFY(host.connected);
    // A Clear ends the power-on state, so each Reset after it runs its sequence.
    QByteArray presses = R"({"cmd":"press","button":"clear"})"
                         "\n";
    for (int i = 1; i < 2000; ++i)
        presses += R"({"cmd":"press","button":"reset"})"
                   "\n";
    program.control.write(presses);
    QList<qint64> answerTimes;
    for (int i = 0; i < 4; ++i) {
        QTest::qWait(100);
        QElapsedTimer timer;
        timer.start();
        const QByteArray reply = host.exchange(kPoll, 2, 3000);
        answerTimes << timer.elapsed();
        QCOMPARE(reply, QByteArray("\x06"
                                   "R"));
    }
    qInfo() << "poll answered after (ms):" << answerTimes;
    for (qint64 ms : answerTimes)
        QVERIFY2(ms < 50, qPrintable(QString::number(ms)));
}

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
