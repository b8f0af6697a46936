#pragma once

// Drives the real program object in a test: a main window on a free TCP port with its settings
// in a temporary folder, fast machine waits, recorded sounds and recorded error boxes, and a
// host client that talks to it over a real socket.

#include "appoptions.h"
#include "frmsetup.h"
#include "frmvorlak.h"
#include "hostmessages.h"
#include "lcdscreen.h"
#include "machine.h"
#include "standarderrorbox.h"
#include "standinpanel.h"
#include "tcpserverlink.h"
#include "vorlakapplication.h"

#include <QLineEdit>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Records the standard error box instead of showing it, for as long as it lives.
class ErrorBoxRecorder
{
public:
    ErrorBoxRecorder()
    {
        StandardErrorBox::setHandler([this](const QString &m) { messages.append(m); });
    }
    ~ErrorBoxRecorder() { StandardErrorBox::setHandler({}); }
    QStringList messages;
};

class Simulator
{
public:
    // speed divides every machine wait: 100 turns the 2-second reset into 20 ms.
    explicit Simulator(double speed = 100.0, const QString &dataFolder = QString())
    {
        AppOptions options;
        options.dataFolder = dataFolder.isEmpty() ? dir.path() : dataFolder;
        options.speed = speed;
        options.sound = &sound;
        window = std::make_unique<TfrmVorlak>(options);
        window->frmSetup().ePort->setText(QStringLiteral("0"));
    }
    ~Simulator()
    {
        if (window && window->isVisible())
            window->close();
    }

    void start()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    quint16 port() const { return window->ServerSocket().listeningPort(); }
    Machine &machine() { return window->machine(); }
    EmulatorState &state() { return window->machine().state(); }
    QString display() const { return window->LCDScreen->Lines().join(QLatin1Char('\n')); }
    QString panel(int i) const { return window->statusPanelText(i); }
    QString settingsPath() const { return window->DataFolder() + QStringLiteral("Vorlak.ini"); }
    bool onTop() const { return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

    // Runs the operator's Clear and lets its sequence end: the machine then reports READY.
    void clearToReady() { window->machine().btnClearClick(); }

    QTemporaryDir dir;
    RecordingSound sound;
    ErrorBoxRecorder errors;
    std::unique_ptr<TfrmVorlak> window;
};

// A host program on the other end of the TCP link.
class HostClient
{
public:
    explicit HostClient(quint16 port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        connected = socket.waitForConnected(3000);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // Waits (serving events, since the simulator runs in this thread) until `count` bytes have
    // arrived, and returns what arrived.
    QByteArray read(int count, int timeoutMs = 3000)
    {
        (void)QTest::qWaitFor([&] { return received.size() + socket.bytesAvailable() >= count; },
                              timeoutMs);
        received += socket.readAll();
        const QByteArray out = received.left(count);
        received.remove(0, out.size());
        return out;
    }
    // Serves events for a while and returns everything that arrived in that time.
    QByteArray readFor(int ms)
    {
        QTest::qWait(ms);
        received += socket.readAll();
        const QByteArray out = received;
        received.clear();
        return out;
    }
    QByteArray poll(int replyLength = 2)
    {
        send(kPoll);
        return read(replyLength);
    }

    QTcpSocket socket;
    QByteArray received;
    bool connected = false;
};

inline QByteArray ackReply(char status)
{
    return QByteArray("\x06") + status;
}

// A test main that uses the program's own application class, so that failures reach the
// standard error box exactly as in the program.
#define VORLAK_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        VorlakApplication app(argc, argv);                                                         \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
