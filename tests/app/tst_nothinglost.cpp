// Every host request reaches the machine and every reply a live host, over real loopback
// connections: two hosts whose bytes are read in one event round, a poll right behind a
// megabyte while the monitor is shown, and an oldest host that resets its connection just as a
// newer one polls.

#include "hostmessages.h"
#include "messagedecoder.h"
#include "monitorform.h"
#include "rawhost.h"
#include "simulatorharness.h"
#include "trafficlogview.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <vector>

using namespace HostMessages;
using namespace RawHost;

namespace
{


// Collects what arrives on a raw host socket while serving the simulator's events.
bool serveUntilReceived(int fd, QByteArray &received, qsizetype count, int timeoutMs = 5000)
{
    return serveUntil(
        [&] {
            received += readRaw(fd, count - received.size(), 0);
            return received.size() >= count;
        },
        timeoutMs);
}

// AddressSanitizer keeps freed memory in quarantine (256 MiB by default) and pads every block.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kSanitizerAllowanceMiB = 300;
#else
constexpr long kSanitizerAllowanceMiB = 0;
#endif

// The process's resident memory at its peak so far, in MiB.
long peakResidentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong() / 1024;
    }
    return -1;
}

// Sends `total` bytes in pieces of `piece` from a thread of its own while the simulator serves.
bool floodFromThread(int fd, const QByteArray &piece, qint64 total, int timeoutMs)
{
    std::atomic<bool> done{false};
    std::atomic<bool> ok{true};
    Worker writer(
        [&] {
            for (qint64 sent = 0; sent < total && ok; sent += piece.size())
                ok = sendRaw(fd, piece);
            done = true;
        },
        [&] { ::shutdown(fd, SHUT_RDWR); });
    const bool finished = serveUntil([&] { return done.load(); }, timeoutMs);
    if (finished)
        writer.join();
    return finished && ok;
}

} // namespace

class TestNothingLost : public QObject
{
    Q_OBJECT
private slots:
    void twoHostsReadInOneRound_data();
    void twoHostsReadInOneRound();
    void pollRightAfterAMegabyteWithMonitorShown();
    void resetOldestHostDoesNotSwallowTheReply();
    void floodOfEmbossMessagesStaysBounded();
    void floodToAShownMonitorStaysBounded();
    void acceptAtTheDescriptorLimitDoesNotSpin();
};

void TestNothingLost::twoHostsReadInOneRound_data()
{
    QTest::addColumn<QByteArray>("fromOldest");
    QTest::addColumn<QByteArray>("fromNewer");
    QTest::addColumn<int>("resets");
    QTest::addColumn<int>("glyphs");
    QTest::newRow("poll, reset request") << kPoll << kResetRequest << 1 << 0;
    QTest::newRow("reset request, poll") << kResetRequest << kPoll << 1 << 0;
    QTest::newRow("emboss data, poll") << embossData("ABC") << kPoll << 0 << 3;
    QTest::newRow("poll, emboss data") << kPoll << embossData("ABC") << 0 << 3;
}

// Both chunks are in the kernel before the simulator looks: each is still dispatched on its
// own, so neither host's request is cleared by the other's.
void TestNothingLost::twoHostsReadInOneRound()
{
    QFETCH(QByteArray, fromOldest);
    QFETCH(QByteArray, fromNewer);
    QFETCH(int, resets);
    QFETCH(int, glyphs);
    Simulator sim;
    sim.start();
    sim.clearToReady();
    QTRY_VERIFY(!sim.machine().longActionRunning());
    const int oldest = connectRaw(sim.port());
    const int newer = connectRaw(sim.port());
    QVERIFY(oldest >= 0 && newer >= 0);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 2);
    QVERIFY(sendRaw(oldest, formatDefinition({record("100", "100", '0', "14")})));
    QByteArray ack;
    QVERIFY(serveUntilReceived(oldest, ack, 2));
    QCOMPARE(ack, ackReply('2'));
    QTRY_VERIFY(!sim.machine().longActionRunning());
    const qsizetype resetsBefore = sim.sound.played.count(QStringLiteral("reset.wav"));

    QVERIFY(sendRaw(oldest, fromOldest));
    QVERIFY(sendRaw(newer, fromNewer));
    QTRY_COMPARE_WITH_TIMEOUT(sim.sound.played.count(QStringLiteral("reset.wav")) - resetsBefore,
                              resets, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(int(sim.window->decoder().lastJobStrikes().size()), glyphs, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!sim.machine().longActionRunning(), 10000);
    QVERIFY(sim.machine().ReceiveBuffer().isEmpty());
    QCOMPARE(sim.sound.played.count(QStringLiteral("reset.wav")) - resetsBefore, resets);
    ::close(oldest);
    ::close(newer);
}

// The monitor processes events while it logs; nothing of that may run inside the socket's read
// slot, or bytes that arrive meanwhile wait for bytes that never come.
void TestNothingLost::pollRightAfterAMegabyteWithMonitorShown()
{
    Simulator sim;
    sim.start();
    sim.window->MonitorForm().show();
    const int host = connectRaw(sim.port());
    QVERIFY(host >= 0);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    const QByteArray junk(1024 * 1024, 'x');
    for (int round = 0; round < 6; ++round) {
        std::atomic<bool> sent{false};
        Worker writer([&] { sent = sendRaw(host, junk) && sendRaw(host, kPoll); },
                      [&] { ::shutdown(host, SHUT_RDWR); });
        QVERIFY(serveUntil([&] { return sent.load(); }, 30000));
        writer.join();
        QByteArray reply;
        QVERIFY2(serveUntilReceived(host, reply, 2), qPrintable(QString::number(round)));
        QCOMPARE(reply, ackReply('P'));
    }
    ::close(host);
}

// The oldest host sends a little and resets its connection, and a newer host polls at once:
// the reply goes to the newer host, the oldest connection alive at that moment.
void TestNothingLost::resetOldestHostDoesNotSwallowTheReply()
{
    Simulator sim;
    sim.start();
    TcpServerLink &link = sim.window->ServerSocket();
    for (int round = 0; round < 8; ++round) {
        const int oldest = connectRaw(sim.port());
        QVERIFY(oldest >= 0);
        QTRY_COMPARE(link.connectionCount(), 1);
        const int newer = connectRaw(sim.port());
        QVERIFY(newer >= 0);
        QTRY_COMPARE(link.connectionCount(), 2);
        QVERIFY(sendRaw(oldest, "abc"));
        resetRaw(oldest);
        QVERIFY(sendRaw(newer, kPoll));
        QByteArray reply;
        QVERIFY2(serveUntilReceived(newer, reply, 2, 3000), qPrintable(QString::number(round)));
        QCOMPARE(reply, ackReply('P'));
        QCOMPARE(sim.panel(0), QStringLiteral("Waiting"));
        ::close(newer);
        QTRY_COMPARE(link.connectionCount(), 0);
    }
}

// Emboss data arriving while jobs run nests only to a fixed depth; more waits up to a bound and
// past it is acknowledged and dropped with one report. Nothing overflows the stack, and the
// machine answers afterwards.
void TestNothingLost::floodOfEmbossMessagesStaysBounded()
{
    Simulator sim(1000.0);
    sim.start();
    const int host = connectRaw(sim.port());
    QVERIFY(host >= 0);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    QVERIFY(sendRaw(host, formatDefinition({record("100", "100", '0', "14")})));
    QByteArray ack;
    QVERIFY(serveUntilReceived(host, ack, 2));
    QTRY_VERIFY(!sim.machine().longActionRunning());

    // Paused, every job holds after its first strike: each message that arrives meanwhile
    // would start one more job inside the one holding.
    sim.machine().btnPauseClick();
    const long memoryBefore = peakResidentMiB();
    const QByteArray message = embossData("AB");
    std::atomic<bool> done{false};
    std::atomic<int> acknowledged{0};
    Worker host2(
        [&] {
            // Each message on its own, the next once the last was acknowledged: every one
            // reaches the dispatcher while the jobs before it hold.
            for (int i = 0; i < 8000; ++i) {
                if (!sendRaw(host, message) || readRaw(host, 2, 5000) != ackReply('2'))
                    break;
                ++acknowledged;
            }
            done = true;
        },
        [&] { ::shutdown(host, SHUT_RDWR); });
    // The jobs hold on the stack above this test's own wait: the operator's Pause click that
    // releases them comes from the event loop, as a real click would.
    QTimer release;
    QObject::connect(&release, &QTimer::timeout, [&] {
        if (done && sim.state().Paused)
            sim.machine().btnPauseClick();
    });
    release.start(20);
    QVERIFY(serveUntil([&] { return done.load() && !sim.state().Paused; }, 120000));
    host2.join();
    QVERIFY(serveUntil([&] { return !sim.machine().longActionRunning(); }, 120000));
    QCOMPARE(acknowledged.load(), 8000);
    QVERIFY(peakResidentMiB() - memoryBefore < 200);
    for (const QString &error : std::as_const(sim.errors.messages))
        QVERIFY2(error.startsWith(QStringLiteral("Host message dropped")), qPrintable(error));

    // Still answering: the last reply is that of a fresh poll.
    readRaw(host, 1 << 20, 200);
    QVERIFY(sendRaw(host, kPoll));
    QByteArray reply;
    QVERIFY(serveUntilReceived(host, reply, 2));
    QCOMPARE(reply, ackReply('P'));
    ::close(host);
}

// 200 MiB of NULs to a shown monitor: its log keeps only its newest part.
void TestNothingLost::floodToAShownMonitorStaysBounded()
{
    Simulator sim;
    sim.start();
    sim.window->MonitorForm().show();
    const int host = connectRaw(sim.port());
    QVERIFY(host >= 0);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    const long memoryBefore = peakResidentMiB();
    QVERIFY(floodFromThread(host, QByteArray(1024 * 1024, '\0'), 200LL * 1024 * 1024, 240000));
    QVERIFY(sendRaw(host, kPoll));
    QByteArray reply;
    QVERIFY(serveUntilReceived(host, reply, 2, 60000));
    QCOMPARE(reply, ackReply('P'));
    const QString &log = sim.window->MonitorForm().RxLog->text();
    QVERIFY(log.size() <= TrafficLogView::kMaxCharacters);
    QVERIFY(log.startsWith(QLatin1String(TrafficLogView::kCutMark)));
    QVERIFY(log.endsWith(QStringLiteral("#0#0#431#5")));
    const long grown = peakResidentMiB() - memoryBefore;
    QVERIFY2(grown < 400 + kSanitizerAllowanceMiB, qPrintable(QString::number(grown)));
    ::close(host);
}

// After a first connection came and went, the descriptors run out: the failing accept is
// reported once and paused, not retried in a tight loop, and the waiting host is accepted once
// a descriptor is free again.
void TestNothingLost::acceptAtTheDescriptorLimitDoesNotSpin()
{
    Simulator sim;
    sim.start();
    TcpServerLink &link = sim.window->ServerSocket();
    {
        HostClient first(sim.port());
        QVERIFY(first.connected);
        QTRY_COMPARE(link.connectionCount(), 1);
        QCOMPARE(first.poll(), ackReply('P'));
    }
    QTRY_COMPARE(link.connectionCount(), 0);

    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit original = limit;
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 4096);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    // The host's socket takes the last descriptor; the accept finds none.
    ::close(fillers.back());
    fillers.pop_back();
    const int host = connectRaw(sim.port());
    const bool reported = serveUntil([&] { return !sim.errors.messages.isEmpty(); }, 3000);
    timespec cpuBefore{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuBefore);
    QElapsedTimer wall;
    wall.start();
    serveUntil([] { return false; }, 1000);
    timespec cpuAfter{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuAfter);
    const double cpuSeconds = double(cpuAfter.tv_sec - cpuBefore.tv_sec) +
                              double(cpuAfter.tv_nsec - cpuBefore.tv_nsec) / 1e9;
    const double share = cpuSeconds / (double(wall.elapsed()) / 1000.0);
    for (int fd : fillers)
        ::close(fd);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &original), 0);

    QVERIFY(host >= 0);
    QVERIFY(reported);
    QVERIFY2(share < 0.05, qPrintable(QString::number(share)));
    QCOMPARE(sim.errors.messages,
             QStringList{QStringLiteral("Asynchroner Socket-Fehler %1.").arg(EMFILE)});
    QTRY_COMPARE(link.connectionCount(), 1);
    QVERIFY(sendRaw(host, kPoll));
    QByteArray reply;
    QVERIFY(serveUntilReceived(host, reply, 2));
    QCOMPARE(reply, ackReply('P'));
    ::close(host);
}

VORLAK_TEST_MAIN(TestNothingLost)
#include "tst_nothinglost.moc"
