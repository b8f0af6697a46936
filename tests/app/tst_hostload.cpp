// Hosts that misbehave, over real loopback connections: a crowd of clients that send junk and
// reset their connections while a host polls, a megabyte in one write, a host that never reads
// its replies, and a format and emboss data larger than the format table. The simulator runs
// in this thread; the misbehaving clients run on threads of their own with plain sockets, so
// they keep going while the simulator serves them.

#include "hostmessages.h"
#include "messagedecoder.h"
#include "rawhost.h"
#include "simulatorharness.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace HostMessages;
using namespace RawHost;

namespace
{

const QByteArray kYMotor("\x06"
                         "5\x02"
                         "E00053E71  Y MOTOR EMBOSS ERROR\x03");

// Bytes of every value except those that frame a request (EOT starts a poll or a reset
// request, ETX ends a message), so junk from other connections never forms a request of its
// own in the shared receive buffer; it only ever travels with the host's polls.
QByteArray junk(uint32_t &seed, int length)
{
    QByteArray out(length, '\0');
    for (char &c : out) {
        seed = seed * 1664525u + 1013904223u;
        char byte = static_cast<char>(seed >> 24);
        if (byte == '\x03' || byte == '\x04')
            byte = 'j';
        c = byte;
    }
    return out;
}

// Counts the host connections the server has released (deleted).
class ReleaseCounter : public QObject
{
public:
    explicit ReleaseCounter(TcpServerLink &link)
    {
        connect(&link, &TcpServerLink::clientConnected, this, [this, &link] {
            QTcpSocket *socket = link.connection(link.connectionCount() - 1);
            ++accepted;
            connect(socket, &QObject::destroyed, this, [this] { ++released; });
        });
    }
    int accepted = 0;
    int released = 0;
};

} // namespace

class TestHostLoad : public QObject
{
    Q_OBJECT
private slots:
    void crowdOfJunkClientsWhileHostPolls();
    void megabyteInOneWrite_data();
    void megabyteInOneWrite();
    void hostThatNeverReadsCannotGrowMemory();
    void sixtyRecordsAndSixtyLines();
    void failedAcceptDoesNotEndAccepting();
};

void TestHostLoad::crowdOfJunkClientsWhileHostPolls()
{
    Simulator sim;
    sim.start();
    ReleaseCounter counter(sim.window->ServerSocket());
    const quint16 port = sim.port();
    // The polling host connects first: replies go to the oldest connection.
    const int host = connectRaw(port);
    QVERIFY(host >= 0);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);

    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<bool> hostFailed{false};
    std::atomic<bool> pollerDone{false};
    Worker poller(
        [&] {
            while (!stop) {
                if (!sendRaw(host, kPoll) || readRaw(host, 2) != ackReply('P')) {
                    hostFailed = true;
                    break;
                }
                ++answered;
            }
            pollerDone = true;
        },
        [&] { stop = true; });

    constexpr int kThreads = 4;
    constexpr int kClientsPerThread = 50;
    std::atomic<int> clientsDone{0};
    std::atomic<int> refused{0};
    std::vector<std::unique_ptr<Worker>> crowd;
    for (int t = 0; t < kThreads; ++t) {
        crowd.push_back(std::make_unique<Worker>([&, t] {
            uint32_t seed = 830u + uint32_t(t);
            for (int i = 0; i < kClientsPerThread; ++i) {
                const int fd = connectRaw(port);
                if (fd < 0) {
                    ++refused;
                    continue;
                }
                // Some leave at once, some send junk and close, most send junk and reset.
                if (i % 5 != 0)
                    sendRaw(fd, junk(seed, 1 + int(seed % 4096)));
                if (i % 3 == 0)
                    ::close(fd);
                else
                    resetRaw(fd);
            }
            ++clientsDone;
        }));
    }
    QVERIFY(serveUntil([&] { return clientsDone == kThreads || hostFailed; }, 120000));
    // The host goes on polling for a while after the crowd has gone.
    const int before = answered;
    QVERIFY(serveUntil([&] { return answered >= before + 100 || hostFailed; }, 30000));
    // The poller may be waiting for its last reply, which needs this thread's events.
    stop = true;
    QVERIFY(serveUntil([&] { return pollerDone.load(); }, 20000));
    poller.join();
    for (auto &worker : crowd)
        worker->join();

    QVERIFY(!hostFailed);
    QCOMPARE(refused.load(), 0);
    QVERIFY(answered > 100);
    // Every client connection has been released; only the host's is left.
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    // (The kernel may drop a client that resets before it is accepted.)
    QVERIFY(counter.accepted <= 1 + kThreads * kClientsPerThread);
    QTRY_COMPARE(counter.released, counter.accepted - 1);
    QVERIFY(sim.window->ServerSocket().connection(0)->state() == QAbstractSocket::ConnectedState);
    // Junk never stays behind: the host's last poll took everything before it.
    QVERIFY(sim.machine().ReceiveBuffer().size() < 4096 * kThreads);
    QVERIFY(sim.errors.messages.isEmpty());
    ::close(host);
}

void TestHostLoad::megabyteInOneWrite_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("acknowledged");
    constexpr int kMiB = 1024 * 1024;
    QTest::newRow("junk, then a poll") << QByteArray(kMiB - kPoll.size(), 'x') + kPoll << false;
    QList<QByteArray> records;
    const int recordCount = (kMiB - 25) / 15;
    for (int i = 0; i < recordCount; ++i)
        records.append(record(QByteArray::number(100 + i % 900), "050", '0', "14"));
    QTest::newRow("format definition") << formatDefinition(records) << true;
    QTest::newRow("emboss data, no format")
        << embossData(QByteArray(kMiB - 15, 'A'), "12345") << true;
    QByteArray pollsOnly;
    while (pollsOnly.size() < kMiB)
        pollsOnly += kPoll;
    QTest::newRow("a megabyte of polls") << pollsOnly << false;
}

// Whatever a megabyte holds, it is taken in whole, answered at most once per request found, and
// the next poll is answered as usual.
void TestHostLoad::megabyteInOneWrite()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, acknowledged);
    Simulator sim;
    sim.start();
    const int host = connectRaw(sim.port());
    QVERIFY(host >= 0);
    std::atomic<bool> sent{false};
    Worker writer(
        [&] {
            // One send() call; a blocking socket takes all of it before returning.
            sent =
                ::send(host, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
        },
        [&] { ::shutdown(host, SHUT_RDWR); });
    QVERIFY(serveUntil([&] { return sent.load(); }, 60000));
    writer.join();
    QVERIFY(sent);
    QTRY_VERIFY_WITH_TIMEOUT(
        sim.machine().ReceiveBuffer().isEmpty() && !sim.machine().longActionRunning(), 60000);

    // The first reply is the acknowledgement or a status reply.
    std::atomic<bool> done{false};
    QByteArray first;
    QByteArray next;
    Worker reader([&] {
        first = readRaw(host, 2);
        sendRaw(host, kPoll);
        // Polls of the megabyte that were answered come first; the last reply is the new one.
        QByteArray all;
        for (;;) {
            const QByteArray more = readRaw(host, 1, 500);
            if (more.isEmpty())
                break;
            all += more;
        }
        next = all.right(2);
        done = true;
    });
    QVERIFY(serveUntil([&] { return done.load(); }, 60000));
    reader.join();
    QCOMPARE(first, acknowledged ? ackReply('2') : ackReply('P'));
    QCOMPARE(next, ackReply('P'));
    QVERIFY(sim.errors.messages.isEmpty());
    if (acknowledged && bytes.at(4) == 'F')
        QCOMPARE(sim.window->decoder().FormatTable().Count, 51);
    ::close(host);
}

// Replies to a host that does not read pile up only to a fixed bound; the rest are dropped, the
// simulator keeps serving, and the next host gets replies once that one is gone.
void TestHostLoad::hostThatNeverReadsCannotGrowMemory()
{
    Simulator sim;
    sim.start();
    sim.clearToReady();
    sim.window->cbYMotorError->setChecked(true); // the longest reply: 35 bytes
    ReleaseCounter counter(sim.window->ServerSocket());
    const int silent = connectRaw(sim.port(), 4096);
    QVERIFY(silent >= 0);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    QTcpSocket *connection = sim.window->ServerSocket().connection(0);
    // Small kernel buffers, so the simulator's own bound is reached after a few thousand polls.
    connection->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);

    // One poll per dispatch: the host sends the next one once the last has been answered
    // (status panel 1 toggles at every dispatch), but never reads a reply.
    auto pollOnce = [&] {
        const QString before = sim.panel(1);
        return sendRaw(silent, kPoll) && serveUntil([&] { return sim.panel(1) != before; });
    };
    constexpr qint64 kBound = TcpServerLink::kMaxUnsentBytes + 35;
    qint64 largest = 0;
    int polls = 0;
    while (largest <= TcpServerLink::kMaxUnsentBytes - 35 && polls < 50000) {
        QVERIFY(pollOnce());
        ++polls;
        largest = std::max(largest, connection->bytesToWrite());
    }
    QVERIFY2(largest > TcpServerLink::kMaxUnsentBytes - 35,
             qPrintable(QStringLiteral("%1 polls, %2 bytes queued").arg(polls).arg(largest)));
    // Some thousands of polls more against the full queue.
    for (int i = 0; i < 2000; ++i) {
        QVERIFY(pollOnce());
        largest = std::max(largest, connection->bytesToWrite());
    }
    QVERIFY2(largest <= kBound, qPrintable(QString::number(largest)));

    // The silent host goes; the next one is served.
    resetRaw(silent);
    QTRY_COMPARE(counter.released, 1);
    HostClient next(sim.port());
    QVERIFY(next.connected);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    QCOMPARE(next.poll(kYMotor.size()), kYMotor);
}

// The table holds 51 fields: further records are dropped, and a line beyond the table fails the
// job with the conversion error before anything is struck. The host is answered throughout.
void TestHostLoad::sixtyRecordsAndSixtyLines()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.clearToReady();
    QList<QByteArray> records;
    for (int i = 0; i < 60; ++i)
        records.append(record(QByteArray::number(100 + i * 10), "050", '0', "14"));
    host.send(formatDefinition(records));
    QCOMPARE(host.read(2), ackReply('2'));
    QCOMPARE(host.poll(), ackReply('1'));
    QCOMPARE(sim.window->decoder().FormatTable().Count, 51);
    QCOMPARE(sim.window->decoder().FormatTable().Fields[50].Y, QStringLiteral("600"));

    QByteArray text;
    for (int i = 0; i < 60; ++i)
        text += "L" + QByteArray::number(i) + "\r\n";
    host.send(embossData(text));
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_VERIFY(!sim.machine().longActionRunning());
    QCOMPARE(sim.errors.messages, QStringList{"'' ist kein gültiger Integerwert."});
    QVERIFY(sim.window->decoder().lastJobStrikes().empty());
    QVERIFY(!sim.state().Busy);
    QCOMPARE(host.poll(), ackReply('1'));
    QCOMPARE(sim.display(), QStringLiteral("READY"));
}

// A connection the server cannot accept (here: no file descriptor left) is reported once in
// the error box, and the server goes on accepting: that host and later ones are served once
// descriptors are free again.
void TestHostLoad::failedAcceptDoesNotEndAccepting()
{
    Simulator sim;
    sim.start();
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit original = limit;
    // Every descriptor but one taken: the host's socket gets the last, the accept gets none.
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 4096);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    QCOMPARE(errno, EMFILE);
    ::close(fillers.back());
    fillers.pop_back();
    const int host = connectRaw(sim.port());
    const bool reported = serveUntil([&] { return !sim.errors.messages.isEmpty(); }, 3000);
    // More failed accepts while nothing is free again are not reported again.
    serveUntil([] { return false; }, 300);
    for (int fd : fillers)
        ::close(fd);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &original), 0);
    QVERIFY(host >= 0);
    QVERIFY(reported);
    QCOMPARE(sim.errors.messages,
             QStringList{QStringLiteral("Asynchroner Socket-Fehler %1.").arg(EMFILE)});

    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    QVERIFY(sendRaw(host, kPoll));
    QByteArray reply;
    QVERIFY(serveUntil([&] { return (reply += readRaw(host, 2, 0)).size() >= 2; }));
    QCOMPARE(reply, ackReply('P'));
    HostClient next(sim.port());
    QVERIFY(next.connected);
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 2);
    ::close(host);
}

VORLAK_TEST_MAIN(TestHostLoad)
#include "tst_hostload.moc"
