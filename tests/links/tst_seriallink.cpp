// The host on a serial line: a real pseudo-terminal pair, the port chosen through the setup
// dialog's "OK", the test playing the host on the master side.

#include "messagedecoder.h"
#include "hostmessages.h"
#include "monitorform.h"
#include "seriallink.h"
#include "simulatorharness.h"
#include "trafficlogview.h"
#include "vacomm.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace
{


// The host's end of a pseudo-terminal; the simulator opens the slave by its path.
class PtyHost
{
public:
    PtyHost()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::close(slave); // the simulator opens it again by name
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        path = QString::fromLocal8Bit(name);
    }
    ~PtyHost() { closeMaster(); }
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    void send(const QByteArray &bytes)
    {
        QCOMPARE_GE(::write(m_master, bytes.data(), bytes.size()), 0);
    }
    // Serves events (the simulator runs in this thread) until `count` bytes came.
    QByteArray read(int count, int timeoutMs = 3000)
    {
        (void)QTest::qWaitFor(
            [&] {
                pull();
                return m_received.size() >= count;
            },
            timeoutMs);
        const QByteArray out = m_received.left(count);
        m_received.remove(0, out.size());
        return out;
    }
    // What has come so far, without waiting.
    qsizetype available()
    {
        pull();
        return m_received.size();
    }
    QByteArray readFor(int ms)
    {
        QTest::qWait(ms);
        pull();
        const QByteArray out = m_received;
        m_received.clear();
        return out;
    }
    QString path;

private:
    void pull()
    {
        char buf[4096];
        ssize_t n;
        while (m_master >= 0 && (n = ::read(m_master, buf, sizeof buf)) > 0)
            m_received.append(buf, n);
    }
    int m_master = -1;
    QByteArray m_received;
};

// Chooses `name` in the setup dialog and confirms with "OK", as the operator does: the menu
// action runs from the event loop, so a failure reaches the error box as in the program.
void choosePort(Simulator &sim, const QString &name)
{
    TfrmSetup &dialog = sim.window->frmSetup();
    const int errorsBefore = sim.errors.messages.size();
    bool returned = false;
    // Connected after the window's own handler: runs once that has returned without failing.
    const auto done = QObject::connect(sim.window->acSetup, &QAction::triggered,
                                       [&returned] { returned = true; });
    // The modal dialog runs nested inside this function's wait; a timer plays the operator.
    QTimer operatorHand;
    operatorHand.setInterval(5);
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        if (!dialog.isVisible())
            return;
        operatorHand.stop();
        dialog.cbCOM->setCurrentIndex(dialog.cbCOM->findText(name));
        dialog.btnOK->click();
    });
    operatorHand.start();
    QTimer::singleShot(0, sim.window->acSetup, &QAction::trigger);
    QTRY_VERIFY(returned || sim.errors.messages.size() > errorsBefore);
    QObject::disconnect(done);
}

// Starts the simulator with the host's line offered in the setup dialog and chosen there.
void startOnLine(Simulator &sim, const QString &path)
{
    sim.window->frmSetup().setExtraSerialPorts({path});
    sim.start();
    choosePort(sim, path);
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT
private slots:
    void closedAtStartAndOpenedByOk();
    void pollWholeOrByteByByte();
    void jobOverSerialAnswersPollsBetweenStrikes();
    void replyGoesToBothLinksAndIsLoggedOnce();
    void noneClosesThePortAndKeepsPanel0();
    void vanishedDeviceFails();
    void otherEndClosingDuringJobNeitherHangsNorSpins();
    void fullOutputBufferLosesOnlyThatReply();
    void lostLineStallsNoOtherLink();
};

void TestSerialLink::closedAtStartAndOpenedByOk()
{
    PtyHost host;
    QVERIFY(!host.path.isEmpty());
    Simulator sim;
    sim.window->frmSetup().setExtraSerialPorts({host.path});
    sim.start();
    QVERIFY(!sim.window->serialLink().VaComm().Active());
    choosePort(sim, host.path);
    QVERIFY(sim.errors.messages.isEmpty());
    QVERIFY(sim.window->serialLink().VaComm().Active());
    QCOMPARE(sim.panel(0), host.path);
}

void TestSerialLink::pollWholeOrByteByByte()
{
    PtyHost host;
    Simulator sim;
    startOnLine(sim, host.path);

    host.send(kPoll);
    QCOMPARE(host.read(2), ackReply('P'));
    QCOMPARE(host.readFor(50), QByteArray()); // answered once

    QString panel1 = sim.panel(1);
    for (char byte : kPoll) {
        QCOMPARE(host.readFor(30), QByteArray());
        host.send(QByteArray(1, byte));
        // Every byte runs the dispatcher once: panel 1 flips each time.
        QTRY_VERIFY(sim.panel(1) != panel1);
        panel1 = sim.panel(1);
    }
    QCOMPARE(host.read(2), ackReply('P'));
}

void TestSerialLink::jobOverSerialAnswersPollsBetweenStrikes()
{
    PtyHost host;
    Simulator sim(4); // strikes of 40 ms
    startOnLine(sim, host.path);
    host.send("\x01"
              "31\x02"
              "F]00 U0   0540  0856 0100 050 0  14\x03");
    QCOMPARE(host.read(2), ackReply('2'));

    // The job runs nested inside this test's waits; timers firing inside it play the host.
    auto strikes = [&] { return int(sim.window->decoder().lastJobStrikes().size()); };
    int strikesAtSend = -1;
    int strikesAtReply = -1;
    bool busyAtSend = false;
    QTimer::singleShot(150, [&] {
        busyAtSend = sim.state().Busy;
        strikesAtSend = strikes();
        host.send(kPoll);
    });
    QTimer watcher;
    watcher.setInterval(2);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (strikesAtSend >= 0 && strikesAtReply < 0 && host.available() >= 4)
            strikesAtReply = strikes();
    });
    watcher.start();
    host.send("\x01"
              "31\x02"
              "T]00ABCDEFGHIJ@00001\x03");
    QCOMPARE(host.read(4, 5000), ackReply('2') + ackReply('2'));
    QVERIFY(busyAtSend);
    // Answered by the receive step that follows a strike, not before it.
    QVERIFY2(strikesAtReply > strikesAtSend,
             qPrintable(QStringLiteral("%1 %2").arg(strikesAtSend).arg(strikesAtReply)));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.machine().longActionRunning(), 5000);
    QCOMPARE(sim.window->decoder().lastJobStrikes().size(), size_t(10));
    QVERIFY(sim.errors.messages.isEmpty());
}

void TestSerialLink::replyGoesToBothLinksAndIsLoggedOnce()
{
    PtyHost serial;
    Simulator sim;
    startOnLine(sim, serial.path);
    sim.window->MonitorForm().show();
    HostClient older(sim.port());
    HostClient newer(sim.port());
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 2);
    serial.send(kPoll);
    QCOMPARE(serial.read(2), ackReply('P'));
    QCOMPARE(older.read(2), ackReply('P'));
    QCOMPARE(newer.readFor(30), QByteArray());
    QCOMPARE(sim.window->MonitorForm().TxLog->text(), QStringLiteral("#6P "));
    // Serial bytes are logged one by one; together they read as the poll.
    QCOMPARE(sim.window->MonitorForm().RxLog->text(), QStringLiteral("#431#5"));
}

void TestSerialLink::noneClosesThePortAndKeepsPanel0()
{
    PtyHost host;
    Simulator sim;
    startOnLine(sim, host.path);
    QVERIFY(sim.window->serialLink().VaComm().Active());
    choosePort(sim, QStringLiteral("NONE"));
    QVERIFY(!sim.window->serialLink().VaComm().Active());
    QCOMPARE(sim.panel(0), host.path);
    QVERIFY(sim.errors.messages.isEmpty());
    host.send(kPoll);
    QCOMPARE(host.readFor(60), QByteArray());
}

void TestSerialLink::vanishedDeviceFails()
{
    Simulator sim;
    const QString gone = sim.dir.filePath(QStringLiteral("ttyGONE"));
    sim.window->frmSetup().setExtraSerialPorts({gone});
    sim.start();
    sim.window->statusPanels[0]->setText(QStringLiteral("before"));
    choosePort(sim, gone);
    QTRY_COMPARE(sim.errors.messages.size(), 1);
    QCOMPARE(sim.errors.messages[0], QStringLiteral("Specified device not found (%1).").arg(gone));
    QVERIFY(!sim.window->serialLink().VaComm().Active());
    QCOMPARE(sim.panel(0), QStringLiteral("before"));
}

void TestSerialLink::otherEndClosingDuringJobNeitherHangsNorSpins()
{
    PtyHost host;
    Simulator sim(4);
    startOnLine(sim, host.path);
    host.send("\x01"
              "31\x02"
              "F]00 U0   0540  0856 0100 050 0  14\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    host.send("\x01"
              "31\x02"
              "T]00ABCDEFGHIJKLMNOPQRST@00001\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    host.closeMaster();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTRY_VERIFY_WITH_TIMEOUT(!sim.machine().longActionRunning(), 10000);
    QTest::qWait(300); // the hung-up line must stay quiet afterwards too
    const double cpu = cpuSeconds() - cpuBefore;
    // A spinning event loop would burn the whole wall time on a core.
    QVERIFY2(cpu < 0.5 * wall.elapsed() / 1000.0,
             qPrintable(QStringLiteral("%1 s CPU in %2 ms").arg(cpu).arg(wall.elapsed())));
    QCOMPARE(sim.window->decoder().lastJobStrikes().size(), size_t(20));
    // The port can still be closed, and the TCP link still answers.
    choosePort(sim, QStringLiteral("NONE"));
    HostClient tcp(sim.port());
    QCOMPARE(tcp.poll(), ackReply('P'));
}

void TestSerialLink::fullOutputBufferLosesOnlyThatReply()
{
    PtyHost serial; // never read: the line backs up, then the component's write queue
    Simulator sim;
    startOnLine(sim, serial.path);
    sim.window->serialLink().VaComm().Buffers()->setWriteTimeout(100);
    HostClient tcp(sim.port());
    // Poll after poll on TCP; every reply also goes to the serial line, which backs up. The
    // wait blocks on the event queue (a repeating timer bounds it), so each round is quick.
    QTimer wake;
    wake.start(200);
    int answered = 0;
    for (int i = 0; i < 200000 && sim.errors.messages.isEmpty(); ++i) {
        tcp.send(kPoll);
        QElapsedTimer round;
        round.start();
        while (tcp.socket.bytesAvailable() < 2 && round.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (tcp.socket.read(2) == ackReply('P'))
            ++answered;
    }
    QVERIFY(answered > 100);
    QTRY_VERIFY(!sim.errors.messages.isEmpty());
    QCOMPARE(sim.errors.messages[0],
             QStringLiteral("Output buffer is full. Please check comm status."));
    // The program goes on: later polls are answered on TCP.
    QCOMPARE(tcp.poll(), ackReply('P'));
    QTRY_VERIFY(sim.panel(1) == QStringLiteral("SEL") || sim.panel(1).isEmpty());
}

// A line whose other end went away keeps no write queue: replies meant for it are lost there
// at once, the loss is reported once, and TCP polls and jobs go on at full speed.
void TestSerialLink::lostLineStallsNoOtherLink()
{
    PtyHost host;
    Simulator sim(100);
    startOnLine(sim, host.path);
    host.send("\x01"
              "31\x02"
              "F]00 U0   0540  0856 0100 050 0  14\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    host.send("\x01"
              "31\x02"
              "T]00ABCDEFGHIJ@00001\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    host.closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!sim.machine().longActionRunning(), 10000);
    QCOMPARE(sim.window->decoder().lastJobStrikes().size(), size_t(10));

    HostClient tcp(sim.port());
    QVERIFY(tcp.connected);
    qint64 slowest = 0;
    for (int i = 0; i < 2000; ++i) {
        QElapsedTimer round;
        round.start();
        const QByteArray reply = tcp.poll();
        slowest = std::max(slowest, round.elapsed());
        QCOMPARE(reply, ackReply('P'));
    }
    QVERIFY2(slowest < 200, qPrintable(QString::number(slowest)));
    QVERIFY(sim.window->serialLink().isLost());
    QCOMPARE(sim.panel(0), QStringLiteral("Line lost"));

    // A TCP job strikes every glyph.
    sim.clearToReady();
    QTRY_VERIFY(!sim.machine().longActionRunning());
    tcp.send("\x01"
             "31\x02"
             "T]00KLMNOPQRST@00002\x03");
    QCOMPARE(tcp.read(2), ackReply('2'));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.machine().longActionRunning(), 10000);
    QCOMPARE(sim.window->decoder().lastJobStrikes().size(), size_t(10));
    QCOMPARE(tcp.poll(), ackReply('1'));
    QCOMPARE(
        sim.errors.messages,
        QStringList{QStringLiteral("Serial line %1 lost: the device is gone.").arg(host.path)});
}

VORLAK_TEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
