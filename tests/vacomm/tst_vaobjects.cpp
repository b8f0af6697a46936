// Settings objects, the write queue's storage and the component's small helpers.

#include "vacomm.h"

#include <QtTest>

class TestVaObjects : public QObject
{
    Q_OBJECT
private slots:
    void changeNotification();
    void assignNotifiesOnce();
    void defaults();
    void commBuffer();
    void formatting_data();
    void formatting();
    void events();
    void synchronizerServesNestedLoops();
};

void TestVaObjects::changeNotification()
{
    TVaFlowControl flow;
    int changes = 0;
    flow.OnChange = [&](TVaPersistent *sender) {
        QCOMPARE(sender, &flow);
        ++changes;
    };
    flow.setOutCtsFlow(false); // unchanged: no notice
    QCOMPARE(changes, 0);
    flow.setOutCtsFlow(true);
    flow.setControlRts(rtsToggle);
    QCOMPARE(changes, 2);
    flow.BeginUpdate();
    flow.setXonXoffIn(true);
    flow.setXonXoffOut(true);
    QCOMPARE(changes, 2);
    flow.EndUpdate();
    QCOMPARE(changes, 3);
    // EndUpdate without BeginUpdate still notifies (the count stays at 0).
    flow.EndUpdate();
    QCOMPARE(changes, 4);

    TVaEventChars chars;
    int charChanges = 0;
    chars.OnChange = [&](TVaPersistent *) { ++charChanges; };
    chars.setXonChar(0x11); // the same value notifies too
    chars.setEofChar(0x1A);
    QCOMPARE(charChanges, 2);
    QCOMPARE(chars.XonChar(), char(0x11));
    QCOMPARE(chars.EofChar(), char(0x1A));
    QCOMPARE(chars.EventChar(), char(0));

    TVaBuffers buffers;
    int bufferChanges = 0;
    buffers.OnChange = [&](TVaPersistent *) { ++bufferChanges; };
    buffers.setReadTimeout(5);
    buffers.setWriteTimeout(5);
    buffers.setReadSize(4096);
    QCOMPARE(bufferChanges, 0);
    buffers.setWriteSize(100);
    buffers.setXoffLimit(7);
    QCOMPARE(bufferChanges, 2);
    QCOMPARE(buffers.ReadTimeout(), 5);
}

void TestVaObjects::assignNotifiesOnce()
{
    TVaBuffers source;
    source.setReadSize(1);
    source.setWriteSize(2);
    source.setReadTimeout(3);
    source.setWriteTimeout(4);
    source.setXonLimit(5);
    source.setXoffLimit(6);
    TVaBuffers target;
    int changes = 0;
    target.OnChange = [&](TVaPersistent *) { ++changes; };
    target.Assign(source);
    QCOMPARE(changes, 1);
    QCOMPARE(target.WriteTimeout(), 4);
    QCOMPARE(target.XoffLimit(), 6);
    // Another class: the base assignment, which copies nothing.
    TVaFlowControl other;
    target.Assign(other);
    QCOMPARE(changes, 1);
    QCOMPARE(target.ReadSize(), 1);
}

void TestVaObjects::defaults()
{
    TVaComm comm;
    QCOMPARE(comm.Baudrate(), br1200);
    QCOMPARE(comm.Parity(), paNone);
    QCOMPARE(comm.Databits(), db8);
    QCOMPARE(comm.Stopbits(), sb1);
    QCOMPARE(comm.DeviceName(), QStringLiteral("COM%d"));
    QCOMPARE(comm.MonitorEvents(),
             TVaCommEvents(vaEvent(ceError) | vaEvent(ceRxChar) | vaEvent(ceTxEmpty)));
    QCOMPARE(comm.EventPriority(), tpNormal);
    QCOMPARE(comm.WritePriority(), tpHighest);
    QVERIFY(comm.UpdateDCB());
    QVERIFY(comm.SyncThreads());
    QVERIFY(!comm.Active());
    QCOMPARE(comm.Handle(), -1);
    QCOMPARE(comm.Version(), QStringLiteral("1.9.1.0"));
    comm.setVersion(QStringLiteral("2.0"));
    QCOMPARE(comm.Version(), QStringLiteral("1.9.1.0"));
    QCOMPARE(comm.Buffers()->ReadSize(), 4096);
    QCOMPARE(comm.Buffers()->WriteSize(), 2048);
    QCOMPARE(comm.EventChars()->XoffChar(), char(0x13));
    // Everything reads as nothing on a closed port, without an exception.
    QCOMPARE(comm.ReadBufFree(), 0);
    QCOMPARE(comm.WriteBufUsed(), 0);
    QCOMPARE(comm.WriteBufFree(), 0);
    QCOMPARE(comm.WriteBuf("x", 1), 0);
    QVERIFY(!comm.WriteChar('x'));
    QVERIFY(!comm.DSR());
    QVERIFY(!comm.XOffHold());
    TVaCommStatus s;
    comm.GetStatus(s);
    QCOMPARE(s.cbInQue + s.cbOutQue + s.Errors + s.Flags, 0u);
    QCOMPARE(sizeof(TVaCommProp), size_t(64));
}

void TestVaObjects::commBuffer()
{
    TVaCommBuffer b(8);
    b.Write("abcdef", 6);
    QCOMPARE(b.Size(), 6);
    char out[8] = {};
    b.Peek(out, 2);
    QCOMPARE(QByteArray(out, 2), QByteArray("ab"));
    QCOMPARE(b.Size(), 6);
    b.Read(out, 3);
    QCOMPARE(QByteArray(out, 3), QByteArray("abc"));
    QCOMPARE(QByteArray(b.DataPtr(), b.Size()), QByteArray("def"));
    b.Write("ghijk", 5);
    QCOMPARE(QByteArray(b.DataPtr(), b.Size()), QByteArray("defghijk"));
    b.Remove(8);
    QCOMPARE(b.Size(), 0);
    b.Write("z", 1);
    b.Clear();
    QCOMPARE(b.Size(), 0);
}

void TestVaObjects::formatting_data()
{
    QTest::addColumn<QString>("fmt");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QString>("result");
    QTest::newRow("number and text")
        << "Read error (%d), %s" << QVariantList{5, "I/O"} << "Read error (5), I/O";
    QTest::newRow("no placeholders") << "plain" << QVariantList{1, "x"} << "plain";
    QTest::newRow("percent") << "100%% of %s" << QVariantList{"it"} << "100% of it";
    QTest::newRow("missing argument") << "a %d b %s" << QVariantList{3} << "a 3 b %s";
    QTest::newRow("template") << "COM%d" << QVariantList{7} << "COM7";
}

void TestVaObjects::formatting()
{
    QFETCH(QString, fmt);
    QFETCH(QVariantList, args);
    QFETCH(QString, result);
    QCOMPARE(VaFormat(fmt, args), result);
    // System texts lose their trailing full stops and blanks.
    QCOMPARE(VaSysErrorText(5), QStringLiteral("Input/output error"));
    QCOMPARE(VaTicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
    const EVaCommError e(QStringLiteral("Gerät fehlt"));
    QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Gerät fehlt"));
}

void TestVaObjects::events()
{
    TVaWaitEvent manual;
    QCOMPARE(manual.WaitFor(0), wrTimeout);
    manual.SetEvent();
    QCOMPARE(manual.WaitFor(0), wrSignaled);
    QCOMPARE(manual.WaitFor(10), wrSignaled); // stays signalled
    manual.ResetEvent();
    QCOMPARE(manual.WaitFor(10), wrTimeout);
    TVaEvent autoReset(nullptr, false, true, nullptr);
    QCOMPARE(autoReset.WaitFor(0), wrSignaled);
    QCOMPARE(autoReset.WaitFor(0), wrTimeout);
}

void TestVaObjects::synchronizerServesNestedLoops()
{
    // A worker's call runs on this thread while a handler pumps events in a nested loop, and
    // WaitUntil runs calls that wait while it waits itself.
    TVaSynchronizer sync;
    sync.Prepare();
    std::atomic<bool> abandon{false};
    std::atomic<bool> second{false};
    std::atomic<int> ran{0};
    std::thread worker([&] {
        sync.Call([&] { ++ran; }, abandon);
        while (!second)
            std::this_thread::yield();
        sync.Call([&] { ++ran; }, abandon);
    });
    QEventLoop nested;
    bool servedNested = false;
    QTimer::singleShot(0, [&] {
        servedNested = QTest::qWaitFor([&] { return ran.load() == 1; }, 5000);
        nested.quit();
    });
    nested.exec();
    QVERIFY(servedNested);
    // Now without processing events: WaitUntil runs the call itself.
    second = true;
    sync.WaitUntil([&] { return ran.load() == 2; });
    worker.join();
    QCOMPARE(ran.load(), 2);
}

QTEST_GUILESS_MAIN(TestVaObjects)
#include "tst_vaobjects.moc"
