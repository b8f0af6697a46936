// Serial port component figures on a pty pair:
//  - receive throughput into OnRxChar with one ReadChar per byte (as the simulator reads) and
//    with ReadText per batch;
//  - send throughput through WriteText and the write thread;
//  - CPU used by an open, idle port over 10 seconds (should be near zero).
// Usage: vacomm_bench [megabytes (default 4)] [idle seconds (default 10)]

#include "vacomm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
struct Pty {
    int master = -1, slave = -1;
    QString path;
    Pty()
    {
        char name[128];
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        path = QString::fromLocal8Bit(name);
        termios t;
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }
    ~Pty()
    {
        ::close(slave);
        ::close(master);
    }
};

double cpuMs()
{
    rusage u;
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

void configure(TVaComm &comm, const QString &path)
{
    comm.setBaudrate(br9600);
    comm.FlowControl()->setControlDtr(dtrDisabled);
    comm.FlowControl()->setControlRts(rtsDisabled);
    comm.setDeviceName(path);
}

void receive(qint64 total, bool perByte)
{
    Pty pty;
    TVaComm comm;
    configure(comm, pty.path);
    qint64 got = 0;
    qint64 batches = 0;
    QEventLoop loop;
    comm.setOnRxChar([&](QObject *, qint32) {
        ++batches;
        if (perByte) {
            char c;
            while (comm.ReadChar(c))
                ++got;
        } else {
            got += comm.ReadText().size();
        }
        if (got >= total)
            loop.quit();
    });
    comm.Open();
    std::thread writer([&] {
        QByteArray chunk(4096, 'x');
        qint64 sent = 0;
        while (sent < total) {
            const ssize_t n = ::write(pty.master, chunk.constData(),
                                      size_t(qMin<qint64>(chunk.size(), total - sent)));
            if (n > 0)
                sent += n;
        }
    });
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuMs();
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const double secs = t.nsecsElapsed() / 1e9;
    const double cpu = cpuMs() - cpu0;
    writer.join();
    std::printf("receive %-10s %10lld bytes in %6.3f s: %12.0f bytes/s, %lld batches, CPU %.0f%%\n",
                perByte ? "ReadChar" : "ReadText", static_cast<long long>(got), secs, got / secs,
                static_cast<long long>(batches), 100.0 * cpu / (secs * 1000.0));
    comm.Close();
}

void send(qint64 total)
{
    Pty pty;
    TVaComm comm;
    configure(comm, pty.path);
    comm.Open();
    std::atomic<qint64> got{0};
    std::thread reader([&] {
        char buf[65536];
        while (got < total) {
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                break;
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n <= 0)
                break;
            got += n;
        }
    });
    QElapsedTimer t;
    t.start();
    const QByteArray reply(64, 'r');
    qint64 queued = 0;
    while (queued < total) {
        comm.WriteText(reply); // waits for room when the queue is full
        queued += reply.size();
    }
    reader.join();
    const double secs = t.nsecsElapsed() / 1e9;
    std::printf("send    WriteText  %10lld bytes in %6.3f s: %12.0f bytes/s (64-byte writes)\n",
                static_cast<long long>(got.load()), secs, got.load() / secs);
    comm.Close();
}

void idle(int seconds)
{
    Pty pty;
    TVaComm comm;
    configure(comm, pty.path);
    comm.setOnRxChar([&](QObject *, qint32) {});
    comm.Open();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    const double cpu0 = cpuMs();
    QElapsedTimer t;
    t.start();
    loop.exec();
    const double cpu = cpuMs() - cpu0;
    std::printf("idle    open port  %d s: CPU %.1f ms (%.3f%% of one core)\n", seconds, cpu,
                100.0 * cpu / double(t.elapsed()));
    comm.Close();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 4;
    const int idleSecs = argc > 2 ? QByteArray(argv[2]).toInt() : 10;
    receive(mb * 1024 * 1024, true);
    receive(mb * 1024 * 1024, false);
    send(mb * 1024 * 1024);
    idle(idleSecs);
    return 0;
}
