#pragma once

// The real program as its own process, headless, with its own data folder, host port and
// control port, and blocking clients for both ports: the test process is not the simulator, so
// it may wait on a socket while a job runs.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

inline quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

class ProgramProcess
{
public:
    // `environmentEntries` are NAME=VALUE; `port` 0 picks a free host port.
    explicit ProgramProcess(const QStringList &extraArguments = {}, double speed = 1000,
                            const QStringList &environmentEntries = {}, quint16 port = 0)
    {
        hostPort = port != 0 ? port : freeTcpPort();
        QFile ini(dir.path() + "/Vorlak.ini");
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[Setup]\nPort=" + QByteArray::number(hostPort) + "\n");
        ini.close();
        process.setProgram(QStringLiteral(VORLAK_EXECUTABLE));
        process.setArguments(QStringList{"--headless", "--data-dir", dir.path(), "--control-port",
                                         "0", "--speed", QString::number(speed)} +
                             extraArguments);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("VORLAK_CONTROL_TOKEN"));
        environment.remove(QStringLiteral("VORLAK_HTTP_TOKEN"));
        for (const QString &entry : environmentEntries)
            environment.insert(entry.section(QLatin1Char('='), 0, 0),
                               entry.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(environment);
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { stderrText += process.readAllStandardError(); });
        process.start();
    }
    ~ProgramProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    // Waits for the line that names the control port and connects to it.
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
            20000);
        if (!found || !match.hasMatch())
            return false;
        control.connectToHost(QHostAddress::LocalHost, match.captured(1).toUShort());
        return control.waitForConnected(3000);
    }

    QJsonObject request(const QJsonObject &object, int timeoutMs = 10000)
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
    quint16 hostPort = 0;
    QProcess process;
    QByteArray stderrText;
    QTcpSocket control;
};

// A host on the program's TCP port that reads replies as they come.
class ProcessHost
{
public:
    explicit ProcessHost(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        connected = socket.waitForConnected(3000);
    }
    // Sends, and returns the first `replyLength` bytes that come back (fewer after a timeout).
    QByteArray exchange(const QByteArray &bytes, int replyLength, int timeoutMs = 5000)
    {
        socket.write(bytes);
        QDeadlineTimer deadline(timeoutMs);
        while (socket.bytesAvailable() < replyLength && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            socket.waitForReadyRead(5);
        }
        return socket.read(replyLength);
    }
    // Sends, and returns everything that came back within `ms`.
    QByteArray exchangeFor(const QByteArray &bytes, int ms)
    {
        socket.write(bytes);
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents();
            socket.waitForReadyRead(5);
        }
        return socket.readAll();
    }
    QTcpSocket socket;
    bool connected = false;
};
