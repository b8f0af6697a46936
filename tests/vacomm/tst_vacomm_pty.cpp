// The port on real pseudo-terminals: what Open installs, opening failures, receiving, sending,
// purges, WaitChar, closing with work pending and the other end going away.

#include "ptypair.h"
#include "vacomm.h"

#include <QtTest>

#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
// The settings the simulator's main window gives its port.
void configureLikeVorlak(TVaComm &c, const QString &path)
{
    c.setBaudrate(br9600);
    TVaFlowControl flow;
    flow.setControlDtr(dtrDisabled);
    flow.setControlRts(rtsDisabled);
    c.setFlowControl(flow);
    c.setPortNum(7);
    c.setDeviceName(path);
}

QString captureError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const EVaCommError &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}
} // namespace

class TestVaCommPty : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void openInstallsDesignTimeConfiguration();
    void userBaudrateReachesTheTty();
    void openFailures();
    void guardsWhileOpen();
    void receiveBatchAndReadChar();
    void bytesArrivingDuringTheHandler();
    void writeTextAndTxEmpty();
    void oversizedWriteFailsAfterTimeout();
    void purgesAndXoffHold();
    void waitChar();
    void closeWithQueuedBytesAndPendingBatch();
    void closeFromInsideTheHandler();
    void handOverInRunningAndNestedLoops();
    void otherEndClosing();
    void threadStartFailure();

private:
    std::function<void(const std::exception &)> m_handler;
    QStringList m_handled;
};

void TestVaCommPty::initTestCase()
{
    VaSetExceptionHandler([this](const std::exception &e) { m_handled << e.what(); });
}

void TestVaCommPty::openInstallsDesignTimeConfiguration()
{
    PtyPair pty;
    QVERIFY(pty.ok());
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    int opened = 0, closed = 0;
    comm.setOnOpen([&](QObject *) { ++opened; });
    comm.setOnClose([&](QObject *) { ++closed; });

    // Close on a closed port: no event.
    comm.Close();
    QCOMPARE(closed, 0);

    // DTR and RTS control cannot be applied to a pty (no modem lines): still opens.
    comm.Open();
    QVERIFY(comm.Active());
    QVERIFY(comm.Handle() >= 0);
    QCOMPARE(opened, 1);

    termios t;
    QCOMPARE(::tcgetattr(pty.slave(), &t), 0);
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QVERIFY(t.c_cflag & CREAD);
    QVERIFY(t.c_cflag & CLOCAL);
    QCOMPARE(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP | PARMRK), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(int(t.c_cc[VMIN]), 0);
    QCOMPARE(int(t.c_cc[VTIME]), 0);
    QCOMPARE(int(t.c_cc[VSTART]), 0x11);
    QCOMPARE(int(t.c_cc[VSTOP]), 0x13);

    // What a tty has no place for is kept as given.
    const TVaDCB dcb = comm.DeviceDCB();
    QCOMPARE(dcb.BaudRate, 9600u);
    QCOMPARE(dcb.Flags, 0x1u);
    QCOMPARE(int(dcb.XonLim), 1024);
    QCOMPARE(int(dcb.XoffLim), 1024);
    QCOMPARE(int(dcb.ByteSize), 8);
    QCOMPARE(int(dcb.Parity), 0);
    QCOMPARE(int(dcb.StopBits), 0);
    QCOMPARE(int(dcb.ErrorChar) | int(dcb.EofChar) | int(dcb.EvtChar), 0);
    QCOMPARE(comm.DeviceReadQueueSize(), 4096);
    QCOMPARE(comm.DeviceWriteQueueSize(), 2048);
    QCOMPARE(comm.DeviceTimeouts().ReadIntervalTimeout, 0xFFFFFFFFu);
    QCOMPARE(comm.DeviceTimeouts().ReadTotalTimeoutConstant, 0u);
    QCOMPARE(comm.EventMask(), 0x81u);
    QCOMPARE(comm.WriteBufFree(), 2048);

    // Explicit line requests are not silently dropped on a pty.
    QCOMPARE(captureError([&] { comm.SetDTR(true); }),
             QStringLiteral("Error calling comm function (25), Inappropriate ioctl for device"));

    comm.Close();
    QVERIFY(!comm.Active());
    QCOMPARE(comm.Handle(), -1);
    QCOMPARE(closed, 1);

    // Reopen works and the port is usable again.
    comm.Open();
    QVERIFY(comm.WriteText(QByteArray("ok")));
    QCOMPARE(pty.receive(2), QByteArray("ok"));
    comm.Close();
}

void TestVaCommPty::userBaudrateReachesTheTty()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    comm.Open();
    comm.setUserBaudrate(250000);
    QCOMPARE(comm.Baudrate(), brUser);
    uint32_t cbaud, ispeed, ospeed;
    QVERIFY(ptyReadSpeed(pty.slave(), cbaud, ispeed, ospeed));
    QCOMPARE(cbaud, uint32_t(0010000)); // BOTHER
    QCOMPARE(ospeed, 250000u);
    QCOMPARE(ispeed, 250000u);

    comm.setBaudrate(br115200);
    QCOMPARE(comm.UserBaudrate(), 0);
    QVERIFY(ptyReadSpeed(pty.slave(), cbaud, ispeed, ospeed));
    QCOMPARE(cbaud, uint32_t(B115200));
    QCOMPARE(ospeed, 115200u);

    // A rate no tty can take is refused, and the port stays usable.
    QCOMPARE(captureError([&] { comm.setBaudrate(brUser); }),
             QStringLiteral("Error writing dcb (22), Invalid argument"));
    comm.Close();
}

void TestVaCommPty::openFailures()
{
    TVaComm missing;
    missing.setDeviceName(QStringLiteral("vacomm-no-such-port%d"));
    missing.setPortNum(3);
    QCOMPARE(captureError([&] { missing.Open(); }),
             QStringLiteral("Specified device not found (/dev/vacomm-no-such-port3)."));
    QVERIFY(!missing.Active());

    // A '%' in a path is not taken for a placeholder.
    TVaComm percent;
    percent.setDeviceName(QStringLiteral("/tmp/no%%s%dport"));
    QCOMPARE(captureError([&] { percent.Open(); }),
             QStringLiteral("Specified device not found (/tmp/no%s0port)."));

    // Exclusive use: a second port on the same device is refused, also for root (flock).
    PtyPair pty;
    TVaComm first, second;
    first.setDeviceName(pty.slavePath());
    second.setDeviceName(pty.slavePath());
    first.Open();
    try {
        second.Open();
        QFAIL("second open succeeded");
    } catch (const EVaCommError &e) {
        QCOMPARE(e.Message(), QStringLiteral("Can't open specified device %1 (Error 16, Device or "
                                             "resource busy)")
                                  .arg(pty.slavePath()));
        QCOMPARE(e.ErrorCode(), 16);
    }
    QVERIFY(!second.Active());
    first.Close();
    second.Open();
    QVERIFY(second.Active());
    second.Close();
}

void TestVaCommPty::guardsWhileOpen()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    comm.Open();
    const QString open = QStringLiteral("Can't perform this operation while port is open");
    QCOMPARE(captureError([&] { comm.Open(); }), open);
    QVERIFY(comm.Active());
    QCOMPARE(captureError([&] { comm.setPortNum(3); }), open);
    QCOMPARE(comm.PortNum(), 7);
    QCOMPARE(captureError([&] { comm.setDeviceName("ttyS0"); }), open);
    QCOMPARE(comm.DeviceName(), pty.slavePath());
    QCOMPARE(captureError([&] { comm.setMonitorEvents(0); }), open);
    QCOMPARE(captureError([&] { comm.setDirectWrite(true); }), open);
    QVERIFY(!comm.DirectWrite());
    QCOMPARE(captureError([&] { comm.setUpdateDCB(false); }), open);
    QCOMPARE(captureError([&] { comm.setBuffers(TVaBuffers()); }), open);
    // A sub-object's own setter stores first, then refuses to reach the device.
    QCOMPARE(captureError([&] { comm.Buffers()->setReadSize(8192); }), open);
    QCOMPARE(comm.Buffers()->ReadSize(), 8192);
    QCOMPARE(comm.DeviceReadQueueSize(), 4096);
    // Timeouts are taken at the moment of use.
    QCOMPARE(captureError([&] { comm.Buffers()->setReadTimeout(50); }), QString());
    // Line settings reach the device at once.
    comm.setStopbits(sb2);
    termios t;
    ::tcgetattr(pty.slave(), &t);
    QVERIFY(t.c_cflag & CSTOPB);
    comm.Close();
    comm.setPortNum(3);
    QCOMPARE(comm.PortNum(), 3);
    QCOMPARE(captureError([&] { comm.Properties(); }),
             QStringLiteral("Can't perform this operation while port is closed"));
}

void TestVaCommPty::receiveBatchAndReadChar()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    QList<int> counts;
    QByteArray got;
    comm.setOnRxChar([&](QObject *sender, qint32 count) {
        QCOMPARE(sender, &comm);
        counts << count;
        char c = 'x';
        while (comm.ReadChar(c))
            got += c;
        QCOMPARE(c, got.isEmpty() ? 'x' : got.back()); // a failed ReadChar leaves c alone
    });
    comm.Open();
    char c = '?';
    QVERIFY(!comm.ReadChar(c));
    QCOMPARE(c, '?');

    // Three bytes arrive while this thread does not serve events: one batch with all three.
    pty.send("abc");
    for (int i = 0; i < 400 && comm.ReadBufUsed() < 3; ++i)
        QThread::msleep(5);
    QTRY_COMPARE(counts.size(), 1);
    QCOMPARE(counts.at(0), 3);
    QCOMPARE(got, QByteArray("abc"));
    QTest::qWait(100);
    QCOMPARE(counts.size(), 1);

    // ReadText takes what waits; nothing waiting gives the empty string.
    comm.setOnRxChar(nullptr);
    pty.send("12345");
    QTRY_COMPARE(comm.ReadBufUsed(), 5);
    QCOMPARE(comm.ReadText(), QByteArray("12345"));
    QCOMPARE(comm.ReadText(), QByteArray());
    comm.Close();
    QVERIFY(!comm.ReadChar(c));
    QCOMPARE(comm.ReadText(), QByteArray());
    QCOMPARE(comm.ReadBufUsed(), 0);
}

void TestVaCommPty::bytesArrivingDuringTheHandler()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    int calls = 0;
    QByteArray got;
    comm.setOnRxChar([&](QObject *, qint32) {
        ++calls;
        char c;
        QVERIFY(comm.ReadChar(c));
        got += c;
        if (calls == 1) {
            // A fourth byte comes in while the handler runs.
            pty.send("d");
            for (int i = 0; i < 200 && comm.ReadBufUsed() < 3; ++i)
                QThread::msleep(5);
        }
        while (comm.ReadChar(c))
            got += c;
    });
    comm.Open();
    pty.send("abc");
    QTRY_COMPARE(got, QByteArray("abcd"));
    // The batch the fourth byte caused finds nothing waiting and fires nothing.
    QTest::qWait(150);
    QCOMPARE(calls, 1);
    comm.Close();
}

void TestVaCommPty::writeTextAndTxEmpty()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    int txEmpty = 0;
    comm.setOnTxEmpty([&](QObject *) { ++txEmpty; });
    QVERIFY(!comm.WriteText(QByteArray("closed")));
    QVERIFY(comm.WriteText(QByteArray()));
    comm.Open();
    QVERIFY(comm.WriteText(std::string("0123456789")));
    QCOMPARE(pty.receive(10), QByteArray("0123456789"));
    QTRY_VERIFY(txEmpty >= 1);
    QTRY_COMPARE(comm.WriteBufUsed(), 0);

    // An empty write wakes the thread once: nothing sent, one more OnTxEmpty.
    const int before = txEmpty;
    QVERIFY(comm.WriteText(QByteArray()));
    QTRY_COMPARE(txEmpty, before + 1);
    QVERIFY(comm.WriteChar('z'));
    QCOMPARE(pty.receive(1), QByteArray("z"));

    // While this thread serves no events, a reply queued after the queue ran empty still
    // leaves: the write thread does not wait for its transmit-empty report to be run.
    txEmpty = 0;
    QVERIFY(comm.WriteText(QByteArray("one")));
    QCOMPARE(pty.receive(3), QByteArray("one"));
    QThread::msleep(20);
    QVERIFY(comm.WriteText(QByteArray("two")));
    QCOMPARE(pty.receive(3), QByteArray("two"));
    QCOMPARE(txEmpty, 0);
    QTRY_VERIFY(txEmpty >= 1);
    comm.Close();
}

void TestVaCommPty::oversizedWriteFailsAfterTimeout()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    comm.Buffers()->setWriteTimeout(200);
    comm.Open();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(captureError([&] { comm.WriteText(QByteArray(2049, 'x')); }),
             QStringLiteral("Output buffer is full. Please check comm status."));
    QVERIFY(timer.elapsed() >= 190);
    QCOMPARE(comm.WriteBufUsed(), 0);
    QCOMPARE(pty.receive(1, 100), QByteArray());
    // Exactly the queue size fits without waiting.
    QVERIFY(comm.WriteText(QByteArray(2048, 'y')));
    QCOMPARE(pty.receive(2048).size(), 2048);
    comm.Close();
}

void TestVaCommPty::purgesAndXoffHold()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    int txEmpty = 0;
    comm.setOnTxEmpty([&](QObject *) { ++txEmpty; });
    comm.Open();
    // As if XOFF had come: the device takes nothing, the queue stays.
    comm.SetXon(false);
    QVERIFY(comm.XOffHold());
    QVERIFY(comm.WriteText(QByteArray("stalled")));
    QTest::qWait(50);
    QCOMPARE(comm.WriteBufUsed(), 7);

    pty.send("in");
    QTRY_COMPARE(comm.ReadBufUsed(), 2);
    comm.PurgeRead();
    QCOMPARE(comm.ReadBufUsed(), 0);
    QCOMPARE(comm.WriteBufUsed(), 7);

    txEmpty = 0;
    comm.PurgeWrite();
    QCOMPARE(comm.WriteBufUsed(), 0);
    QTRY_COMPARE(txEmpty, 1);
    comm.SetXon(true);
    QVERIFY(!comm.XOffHold());
    QCOMPARE(pty.receive(1, 150), QByteArray());

    // Purging both with the output running.
    pty.send("zz");
    QTRY_COMPARE(comm.ReadBufUsed(), 2);
    comm.PurgeReadWrite();
    QCOMPARE(comm.ReadBufUsed(), 0);
    QVERIFY(comm.WriteText(QByteArray("after")));
    QCOMPARE(pty.receive(5), QByteArray("after"));
    comm.Close();
    comm.PurgeReadWrite(); // closed: nothing
}

void TestVaCommPty::waitChar()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    QVERIFY(!comm.WaitChar(20)); // closed
    comm.setMonitorEvents(0);    // no event thread: reads still work
    comm.Open();
    QVERIFY(!comm.WaitChar(100));
    std::thread sender([&] {
        QThread::msleep(30);
        pty.send("w");
    });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(comm.WaitChar(5000));
    QVERIFY(timer.elapsed() < 4000);
    sender.join();
    char c = 0;
    QVERIFY(comm.ReadCharWait(c, 100));
    QCOMPARE(c, 'w');
    comm.Close();
}

void TestVaCommPty::closeWithQueuedBytesAndPendingBatch()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    QByteArray got;
    comm.setOnRxChar([&](QObject *, qint32) {
        char c;
        while (comm.ReadChar(c))
            got += c;
    });
    comm.Open();
    comm.SetXon(false);
    QVERIFY(comm.WriteText(QByteArray(100, 'q')));
    // The event thread hands over a batch; this thread does not serve it before Close.
    pty.send("late");
    for (int i = 0; i < 200 && comm.ReadBufUsed() < 4; ++i)
        QThread::msleep(5);
    QThread::msleep(50);
    comm.Close();
    QCOMPARE(got, QByteArray("late"));
    comm.Open();
    QCOMPARE(comm.WriteBufUsed(), 0);
    QCOMPARE(pty.receive(1, 100), QByteArray());
    comm.Close();
}

void TestVaCommPty::closeFromInsideTheHandler()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    int calls = 0;
    comm.setOnRxChar([&](QObject *, qint32) {
        ++calls;
        comm.Close();
    });
    comm.Open();
    pty.send("x");
    QTRY_VERIFY(!comm.Active());
    QCOMPARE(calls, 1);
}

void TestVaCommPty::handOverInRunningAndNestedLoops()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    QEventLoop running;
    int txEmpty = 0;
    bool txInsideHandler = false;
    bool inHandler = false;
    QByteArray got;
    comm.setOnTxEmpty([&](QObject *) {
        ++txEmpty;
        txInsideHandler = inHandler;
    });
    comm.setOnRxChar([&](QObject *, qint32) {
        inHandler = true;
        char c;
        while (comm.ReadChar(c))
            got += c;
        // A long job that answers and keeps serving events, as an emboss job does.
        comm.WriteText(QByteArray("ACK"));
        QEventLoop nested;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &nested, [&] {
            if (txEmpty > 0)
                nested.quit();
        });
        poll.start(5);
        QTimer::singleShot(3000, &nested, &QEventLoop::quit);
        nested.exec();
        inHandler = false;
        running.quit();
    });
    comm.Open();
    pty.send("poll");
    QTimer::singleShot(5000, &running, &QEventLoop::quit);
    running.exec(); // the hand-over arrives through an ordinary running loop
    QCOMPARE(got, QByteArray("poll"));
    QCOMPARE(txEmpty, 1);
    QVERIFY(txInsideHandler);
    QCOMPARE(pty.receive(3), QByteArray("ACK"));
    comm.Close();
}

void TestVaCommPty::otherEndClosing()
{
    PtyPair pty;
    TVaComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    QList<qint32> errors;
    comm.setOnError([&](QObject *, qint32 e) { errors << e; });
    comm.Open();
    pty.closeMaster();
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0), qint32(CE_IOE));
    QVERIFY(comm.DeviceLost());
    char c;
    QVERIFY(!comm.ReadChar(c));
    // Writing to the dead line fails at once: nothing is queued, one error report, no retry
    // loop.
    QVERIFY(!comm.WriteText(QByteArray("gone")));
    const double cpu0 = processCpuMs();
    QTest::qWait(400);
    QVERIFY2(processCpuMs() - cpu0 < 200, "the port spins on a hung-up device");
    QCOMPARE(errors.size(), 1);
    QCOMPARE(comm.WriteBufUsed(), 0);
    comm.Close();
    QVERIFY(!comm.Active());
    QVERIFY(!comm.DeviceLost());
}

namespace
{
class FailingWriteThreadComm : public TVaComm
{
protected:
    void StartThread(TVaThread &Thread) override
    {
        if (dynamic_cast<TVaCommWriteThread *>(&Thread))
            throw std::system_error(EAGAIN, std::generic_category());
        TVaComm::StartThread(Thread);
    }
};
} // namespace

void TestVaCommPty::threadStartFailure()
{
    PtyPair pty;
    FailingWriteThreadComm comm;
    configureLikeVorlak(comm, pty.slavePath());
    QCOMPARE(captureError([&] { comm.Open(); }),
             QStringLiteral("Error creating thread (11), Resource temporarily unavailable"));
    QVERIFY(!comm.Active());
    // The device was released: another port can have it.
    TVaComm other;
    other.setDeviceName(pty.slavePath());
    other.Open();
    other.Close();
}

QTEST_GUILESS_MAIN(TestVaCommPty)
#include "tst_vacomm_pty.moc"
