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
    // `environmentEntries` are NAME=VALUE; `port` 0 picks a free host port. `dataFolder` empty:
    // a temporary one. The settings file is written only where none exists yet.
    explicit ProgramProcess(const QStringList &extraArguments = {}, double speed = 1000,
                            const QStringList &environmentEntries = {}, quint16 port = 0,
                            const QString &dataFolder = {})
        : folder(dataFolder.isEmpty() ? dir.path() : dataFolder)
    {
        hostPort = port != 0 ? port : freeTcpPort();
        m_writesPort = !QFileInfo::exists(folder + "/Vorlak.ini");
        // A port picked here may be taken by another process before the program listens on
        // it; waitUntilListening() then starts the program again on another.
        m_mayChangePort = port == 0 && m_writesPort;
        process.setProgram(QStringLiteral(VORLAK_EXECUTABLE));
        process.setArguments(QStringList{"--headless", "--data-dir", folder, "--control-port", "0",
                                         "--speed", QString::number(speed)} +
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
        start();
    }
    ~ProgramProcess() { stop(); }

    // Waits for the line that names the control port and connects to it. The machine port
    // opens before that line is printed, so its own line is there by then unless it failed.
    bool waitUntilListening()
    {
        for (int attempt = 1;; ++attempt) {
            const QRegularExpressionMatch match =
                waitForLine(QStringLiteral("control port listening on 127.0.0.1:(\\d+)"));
            if (!match.hasMatch())
                return false;
            if (m_mayChangePort && attempt < 5 &&
                !stderrText.contains(
                    "host port listening on 0.0.0.0:" + QByteArray::number(hostPort) + '\n')) {
                stop();
                hostPort = freeTcpPort();
                stderrText.clear();
                start();
                continue;
            }
            controlPort = match.captured(1).toUShort();
            control.connectToHost(QHostAddress::LocalHost, controlPort);
            return control.waitForConnected(3000);
        }
    }

    QJsonObject request(const QJsonObject &object, int timeoutMs = 10000)
    {
        control.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        // A short blocking wait returns as soon as the reply is there (qWaitFor sleeps in steps
        // of 10 ms); events are served between, so the program's stderr is read and never
        // fills its pipe.
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

private:
    void start()
    {
        if (m_writesPort) {
            QFile ini(folder + "/Vorlak.ini");
            if (ini.open(QIODevice::WriteOnly))
                ini.write("[Setup]\nPort=" + QByteArray::number(hostPort) + "\n");
        }
        process.start();
    }
    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    QRegularExpressionMatch waitForLine(const QString &pattern)
    {
        const QRegularExpression line(pattern);
        QRegularExpressionMatch match;
        (void)QTest::qWaitFor(
            [&] {
                match = line.match(QString::fromLocal8Bit(stderrText));
                return match.hasMatch() || process.state() == QProcess::NotRunning;
            },
            20000);
        return match;
    }

    bool m_writesPort = false;
    bool m_mayChangePort = false;
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
