// The port against a fake device: the control block and termios each setting gives, modem lines
// and hold flags, line errors, the order of callbacks in a batch, dispatchers, write failures
// and direct mode.

#include "fakedevice.h"
#include "vacomm.h"

#include <QtTest>

#include <sys/ioctl.h>
#include <termios.h>

namespace
{
QString captureError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const EVaCommError &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

// A port on a fake device, opened with the given setup; the device stays reachable.
struct FakePort {
    TVaComm comm;
    FakeDevice *dev;
    FakePort()
    {
        auto d = std::make_unique<FakeDevice>();
        dev = d.get();
        comm.setDevice(std::move(d));
        comm.setDeviceName(QStringLiteral("fake"));
    }
};

class RecordingUser : public IVaCommUser
{
public:
    void CommEvent(quint32 EventMask) override { events << EventMask; }
    void CommData(PVaData Data, qint32 Count) override { data += QByteArray(Data, Count); }
    QList<quint32> events;
    QByteArray data;
};

class RecordingDisplay : public TVaDisplay
{
public:
    void UpdateDisplay(TVaCustomComm *) override { ++updates; }
    int updates = 0;
};
} // namespace

class TestVaCommFake : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { m_shared.reset(); }
    void flowSettingsBecomeFlagsAndTermios_data();
    void flowSettingsBecomeFlagsAndTermios();
    void frameSettingsBecomeTermios_data();
    void frameSettingsBecomeTermios();
    void limitsAndSpecialCharacters();
    void updateDcbOff();
    void devicePaths();
    void lineFunctions();
    void modemLinesAndHoldFlags();
    void readDefaultsIntoSettings();
    void lineErrorsReachOnError();
    void batchOrder();
    void dispatchers();
    void handlerExceptionsAndUnsyncedThreads();
    void writeFailureIsRetried();
    void deviceGoneWhileWriting();
    void directWrite();

private:
    // One open port without threads for the configuration tables (each Close pauses 300 ms).
    FakePort &shared();
    std::unique_ptr<FakePort> m_shared;
    QStringList m_handled;
};

void TestVaCommFake::initTestCase()
{
    VaSetExceptionHandler([this](const std::exception &e) { m_handled << e.what(); });
}

FakePort &TestVaCommFake::shared()
{
    if (!m_shared) {
        m_shared = std::make_unique<FakePort>();
        m_shared->comm.setMonitorEvents(0);
        m_shared->comm.setDirectWrite(true);
        m_shared->comm.Open();
    }
    // Back to the defaults before each row.
    m_shared->comm.setFlowControl(TVaFlowControl());
    m_shared->comm.setOptions(0);
    m_shared->comm.setBaudrate(br1200);
    m_shared->comm.setParity(paNone);
    m_shared->comm.setDatabits(db8);
    m_shared->comm.setStopbits(sb1);
    m_shared->dev->clearLog();
    return *m_shared;
}

void TestVaCommFake::flowSettingsBecomeFlagsAndTermios_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<uint>("cflag");
    QTest::addColumn<uint>("iflag");
    QTest::addColumn<QStringList>("lines");
    const uint rtscts = CRTSCTS;
    const QStringList off = {"dtr=0", "rts=0"};
    QTest::newRow("none") << 0 << 0x1u << 0u << 0u << QStringList();
    QTest::newRow("OutCtsFlow") << 1 << 0x5u << rtscts << 0u << QStringList{"dtr=0"};
    QTest::newRow("OutDsrFlow (kept only)") << 2 << 0x9u << 0u << 0u << off;
    QTest::newRow("XonXoffOut") << 3 << 0x101u << 0u << uint(IXON) << off;
    QTest::newRow("XonXoffIn") << 4 << 0x201u << 0u << uint(IXOFF) << off;
    QTest::newRow("dtrEnabled") << 5 << 0x11u << 0u << 0u << QStringList{"dtr=1", "rts=0"};
    QTest::newRow("dtrHandshake (kept only)") << 6 << 0x21u << 0u << 0u << QStringList{"rts=0"};
    QTest::newRow("rtsEnabled") << 7 << 0x1001u << 0u << 0u << QStringList{"dtr=0", "rts=1"};
    QTest::newRow("rtsHandshake") << 8 << 0x2001u << rtscts << 0u << QStringList{"dtr=0"};
    QTest::newRow("rtsToggle (kept only)") << 9 << 0x3001u << 0u << 0u << QStringList{"dtr=0"};
    QTest::newRow("DsrSensitivity") << 10 << 0x41u << 0u << 0u << off;
    QTest::newRow("TxContinueOnXoff") << 11 << 0x81u << 0u << 0u << off;
    QTest::newRow("coErrorChar") << 12 << 0x401u << 0u << 0u << off;
    QTest::newRow("coNullStrip") << 13 << 0x801u << 0u << 0u << off;
    QTest::newRow("coParityCheck") << 14 << 0x3u << 0u << uint(INPCK) << off;
}

void TestVaCommFake::flowSettingsBecomeFlagsAndTermios()
{
    QFETCH(int, setting);
    QFETCH(uint, flags);
    QFETCH(uint, cflag);
    QFETCH(uint, iflag);
    QFETCH(QStringList, lines);
    FakePort &p = shared();
    // Set while open: each change reaches the device at once.
    TVaFlowControl *f = p.comm.FlowControl();
    switch (setting) {
    case 1:
        f->setOutCtsFlow(true);
        break;
    case 2:
        f->setOutDsrFlow(true);
        break;
    case 3:
        f->setXonXoffOut(true);
        break;
    case 4:
        f->setXonXoffIn(true);
        break;
    case 5:
        f->setControlDtr(dtrEnabled);
        break;
    case 6:
        f->setControlDtr(dtrHandshake);
        break;
    case 7:
        f->setControlRts(rtsEnabled);
        break;
    case 8:
        f->setControlRts(rtsHandshake);
        break;
    case 9:
        f->setControlRts(rtsToggle);
        break;
    case 10:
        f->setDsrSensitivity(true);
        break;
    case 11:
        f->setTxContinueOnXoff(true);
        break;
    case 12:
        p.comm.setOptions(vaOption(coErrorChar));
        break;
    case 13:
        p.comm.setOptions(vaOption(coNullStrip));
        break;
    case 14:
        p.comm.setOptions(vaOption(coParityCheck));
        break;
    default:
        break;
    }
    QCOMPARE(p.comm.DeviceDCB().Flags, flags);
    const TVaTermios t = p.dev->termios();
    QCOMPARE(t.c_cflag & uint(CRTSCTS), cflag);
    QCOMPARE(t.c_iflag & uint(IXON | IXOFF | INPCK | IXANY), iflag);
    QCOMPARE(p.dev->log(), lines);
}

void TestVaCommFake::frameSettingsBecomeTermios_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("databits");
    QTest::addColumn<int>("stopbits");
    QTest::addColumn<uint>("cflag"); // CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
    QTest::addColumn<uint>("speed");
    QTest::newRow("9600 8N1") << int(br9600) << int(paNone) << int(db8) << int(sb1)
                              << uint(B9600 | CS8) << 9600u;
    QTest::newRow("110 7E2") << int(br110) << int(paEven) << int(db7) << int(sb2)
                             << uint(B110 | CS7 | PARENB | CSTOPB) << 110u;
    QTest::newRow("19200 6O1") << int(br19200) << int(paOdd) << int(db6) << int(sb1)
                               << uint(B19200 | CS6 | PARENB | PARODD) << 19200u;
    QTest::newRow("14400 8M1 (BOTHER)") << int(br14400) << int(paMark) << int(db8) << int(sb1)
                                        << uint(0010000 | CS8 | PARENB | CMSPAR | PARODD) << 14400u;
    QTest::newRow("256000 5S1.5") << int(br256000) << int(paSpace) << int(db5) << int(sb15)
                                  << uint(0010000 | CS5 | PARENB | CMSPAR | CSTOPB) << 256000u;
}

void TestVaCommFake::frameSettingsBecomeTermios()
{
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, databits);
    QFETCH(int, stopbits);
    QFETCH(uint, cflag);
    QFETCH(uint, speed);
    FakePort &p = shared();
    p.comm.setDatabits(TVaDatabits(databits));
    p.comm.setBaudrate(TVaBaudrate(baud));
    p.comm.setParity(TVaParity(parity));
    p.comm.setStopbits(TVaStopbits(stopbits));
    const TVaTermios t = p.dev->termios();
    QCOMPARE(t.c_cflag & uint(CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), cflag);
    QCOMPARE(t.c_ospeed, speed);
    QCOMPARE(t.c_lflag & uint(ICANON | ECHO | ISIG), 0u);
    QCOMPARE(t.c_oflag & uint(OPOST), 0u);
    QCOMPARE(int(p.comm.DeviceDCB().ByteSize), databits + 4);
    QCOMPARE(int(p.comm.DeviceDCB().Parity), parity);
    QCOMPARE(int(p.comm.DeviceDCB().StopBits), stopbits);
}

void TestVaCommFake::limitsAndSpecialCharacters()
{
    FakePort p;
    p.comm.setMonitorEvents(0);
    p.comm.setDirectWrite(true);
    p.comm.Buffers()->setXonLimit(70000);
    p.comm.Open();
    QCOMPARE(int(p.comm.DeviceDCB().XonLim), 4464);
    QCOMPARE(int(p.comm.DeviceDCB().XoffLim), 1024);
    // One change notification per copied object: one write of the block.
    const int before = p.dev->setAttrCalls();
    TVaEventChars chars;
    chars.setXonChar('Q');
    chars.setXoffChar('S');
    chars.setErrorChar('?');
    chars.setEventChar('\n');
    chars.setEofChar(0x1A);
    p.comm.setEventChars(chars);
    QCOMPARE(p.dev->setAttrCalls(), before + 1);
    const TVaDCB d = p.comm.DeviceDCB();
    QCOMPARE(d.XonChar, 'Q');
    QCOMPARE(d.XoffChar, 'S');
    QCOMPARE(d.ErrorChar, '?');
    QCOMPARE(d.EvtChar, '\n');
    QCOMPARE(d.EofChar, char(0x1A));
    QCOMPARE(int(p.dev->termios().c_cc[VSTART]), int('Q'));
    QCOMPARE(int(p.dev->termios().c_cc[VSTOP]), int('S'));
    // 4 data bits exist on no tty.
    QCOMPARE(captureError([&] { p.comm.setDatabits(db4); }),
             QStringLiteral("Error writing dcb (22), Invalid argument"));
    QCOMPARE(p.comm.Databits(), db4);
    p.comm.Close();
    QCOMPARE(captureError([&] { p.comm.Open(); }),
             QStringLiteral("Error writing dcb (22), Invalid argument"));
    QVERIFY(!p.comm.Active());
}

void TestVaCommFake::updateDcbOff()
{
    FakePort p;
    p.comm.setUpdateDCB(false);
    p.comm.setBaudrate(br9600);
    p.comm.Open();
    QVERIFY(!p.comm.DeviceDCBWritten());
    // Only the timeouts touched the termios: still a fresh canonical tty at 38400.
    const TVaTermios t = p.dev->termios();
    QCOMPARE(t.c_cflag & uint(CBAUD), uint(B38400));
    QVERIFY(t.c_lflag & ICANON);
    QCOMPARE(int(t.c_cc[VMIN]), 0);
    QCOMPARE(p.comm.DeviceReadQueueSize(), 4096);
    QCOMPARE(p.comm.EventMask(), 0x81u);
    const int sets = p.dev->setAttrCalls();
    p.comm.setParity(paEven);
    p.comm.FlowControl()->setXonXoffIn(true);
    QCOMPARE(p.dev->setAttrCalls(), sets);
    p.comm.Close();
}

void TestVaCommFake::devicePaths()
{
    FakePort p;
    p.comm.setMonitorEvents(0);
    p.comm.setDirectWrite(true);
    p.comm.setPortNum(7);
    p.comm.setDeviceName(QStringLiteral("COM%d"));
    QCOMPARE(p.comm.GetDevicePath(), QStringLiteral("/dev/COM7"));
    p.comm.setDeviceName(QStringLiteral("ttyUSB0"));
    QCOMPARE(p.comm.GetDevicePath(), QStringLiteral("/dev/ttyUSB0"));
    p.comm.setDeviceName(QStringLiteral("/tmp/vport%d"));
    QCOMPARE(p.comm.GetDevicePath(), QStringLiteral("/tmp/vport7"));
    p.comm.Open();
    QCOMPARE(p.dev->openedPath, QByteArray("/tmp/vport7"));
    p.comm.Close();
    p.dev->openError = EACCES;
    QCOMPARE(
        captureError([&] { p.comm.Open(); }),
        QStringLiteral("Can't open specified device /tmp/vport7 (Error 13, Permission denied)"));
}

void TestVaCommFake::lineFunctions()
{
    FakePort p;
    const QString dtr =
        QStringLiteral("DTR line updates not allowed when flowcontrol is set to Handshake.");
    const QString rts = QStringLiteral(
        "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    // Refused before anything else, open or closed; allowed ones do nothing while closed.
    p.comm.SetDTR(true);
    p.comm.SetRTS(true);
    p.comm.FlowControl()->setControlDtr(dtrHandshake);
    p.comm.FlowControl()->setControlRts(rtsToggle);
    QCOMPARE(captureError([&] { p.comm.SetDTR(true); }), dtr);
    QCOMPARE(captureError([&] { p.comm.SetRTS(false); }), rts);
    p.comm.FlowControl()->setControlRts(rtsHandshake);
    QCOMPARE(captureError([&] { p.comm.SetRTS(true); }), rts);
    QVERIFY(p.dev->log().isEmpty());
    p.comm.FlowControl()->setControlDtr(dtrEnabled);
    p.comm.FlowControl()->setControlRts(rtsEnabled);
    p.comm.setMonitorEvents(0);
    p.comm.Open();
    const int at = int(p.dev->log().size());
    p.comm.SetDTR(false);
    p.comm.SetRTS(true);
    p.comm.SetBreak(true);
    p.comm.SetBreak(false);
    p.comm.SetXon(false);
    QVERIFY(p.comm.XOffHold());
    p.comm.SetXon(true);
    p.comm.ResetDev();
    QCOMPARE(p.dev->log().mid(at),
             (QStringList{"dtr=0", "rts=1", "break=1", "break=0", "flow=" + QString::number(TCOOFF),
                          "flow=" + QString::number(TCOON)}));
    QVERIFY(!p.comm.XOffHold());
    p.comm.Close();
}

void TestVaCommFake::modemLinesAndHoldFlags()
{
    FakePort p;
    p.comm.setMonitorEvents(0);
    QVERIFY(!p.comm.CTS()); // closed
    p.comm.FlowControl()->setOutCtsFlow(true);
    p.comm.Open();
    QVERIFY(!p.comm.CTS());
    QVERIFY(p.comm.CTSHold()); // CTS low under hardware flow control holds the output
    p.dev->setLine(TIOCM_CTS, true, false);
    p.dev->setLine(TIOCM_CD, true, false);
    QVERIFY(p.comm.CTS());
    QVERIFY(!p.comm.DSR());
    QVERIFY(!p.comm.RING());
    QVERIFY(p.comm.RLSD());
    QVERIFY(!p.comm.CTSHold());
    p.dev->setLine(TIOCM_DSR, true, false);
    p.dev->setLine(TIOCM_RI, true, false);
    QVERIFY(p.comm.DSR());
    QVERIFY(p.comm.RING());
    QVERIFY(!p.comm.DSRHold());
    QVERIFY(!p.comm.RLSDHold());
    QVERIFY(!p.comm.XOffSent());
    // A device without modem lines says so.
    p.dev->hasModemLines = false;
    QCOMPARE(captureError([&] { p.comm.CTS(); }),
             QStringLiteral("Error reading modem state (25), Inappropriate ioctl for device"));
    QVERIFY(!p.comm.CTSHold());
    const TVaCommProp props = p.comm.Properties();
    QCOMPARE(int(props.wPacketLength), 64);
    QCOMPARE(props.dwCurrentRxQueue, 4096u);
    QCOMPARE(props.dwCurrentTxQueue, 2048u);
    p.comm.Close();
}

void TestVaCommFake::readDefaultsIntoSettings()
{
    FakePort p;
    int flowChanges = 0, bufferChanges = 0;
    // The fake starts as a fresh tty: 38400 8N1, XON 0x11 / XOFF 0x13, DTR and RTS raised.
    p.comm.FlowControl()->OnChange = [&](TVaPersistent *) { ++flowChanges; };
    p.comm.Buffers()->OnChange = [&](TVaPersistent *) { ++bufferChanges; };
    p.comm.setUserBaudrate(12345);
    p.comm.setParity(paOdd);
    p.comm.setOptions(vaOption(coNullStrip));
    p.comm.ResetPortParameters();
    QCOMPARE(p.comm.Baudrate(), br38400);
    QCOMPARE(p.comm.UserBaudrate(), 0);
    QCOMPARE(p.comm.Parity(), paNone);
    QCOMPARE(p.comm.Databits(), db8);
    QCOMPARE(p.comm.Stopbits(), sb1);
    QCOMPARE(p.comm.FlowControl()->ControlDtr(), dtrEnabled);
    QCOMPARE(p.comm.FlowControl()->ControlRts(), rtsEnabled);
    QCOMPARE(flowChanges, 2);
    QCOMPARE(p.comm.Buffers()->XonLimit(), 128);
    QCOMPARE(p.comm.Buffers()->XoffLimit(), 128);
    QCOMPARE(bufferChanges, 2);
    QCOMPARE(p.comm.Options(), TVaCommOptions(0));

    // A rate that is no enumeration value becomes a user rate.
    TVaDCB d = TVaCustomComm::TermiosToDCB(p.dev->termios());
    d.BaudRate = 250000;
    d.Flags |= DCB_OUTX | DCB_PARITY;
    TVaTermios t;
    QCOMPARE(TVaCustomComm::DCBToTermios(d, t), 0);
    const TVaDCB back = TVaCustomComm::TermiosToDCB(t);
    QCOMPARE(back.BaudRate, 250000u);
    QVERIFY(back.Flags & DCB_OUTX);
    QVERIFY(back.Flags & DCB_PARITY);

    p.dev->openError = ENOENT;
    QCOMPARE(captureError([&] { p.comm.ResetPortParameters(); }),
             QStringLiteral("Error reading default port parameters."));
}

void TestVaCommFake::lineErrorsReachOnError()
{
    FakePort p;
    QList<qint32> errors;
    QList<qint32> rx;
    p.comm.setOnError([&](QObject *, qint32 e) { errors << e; });
    p.comm.setOnRxChar([&](QObject *, qint32 count) {
        rx << count;
        char c;
        while (p.comm.ReadChar(c)) {
        }
    });
    p.comm.Open();
    p.dev->frameError();
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0), qint32(CE_FRAME));
    // Error and received bytes in one batch: the receive handling's status read takes the
    // error flags, so OnError stays quiet.
    p.dev->frameError(false);
    p.dev->receive("ab");
    QTRY_COMPARE(rx.size(), 1);
    QCOMPARE(rx.at(0), 2);
    QTest::qWait(50);
    QCOMPARE(errors.size(), 1);
    // A break is no line error event of its own, but its flag comes with the next one.
    p.dev->breakReceived();
    QTest::qWait(50);
    QCOMPARE(errors.size(), 1);
    p.dev->frameError();
    QTRY_COMPARE(errors.size(), 2);
    QCOMPARE(errors.at(1), qint32(CE_BREAK | CE_FRAME));
    p.comm.Close();
}

void TestVaCommFake::batchOrder()
{
    FakePort p;
    QStringList order;
    p.comm.setMonitorEvents(0x1FFF);
    auto note = [&](const char *name) { return [&order, name](QObject *) { order << name; }; };
    p.comm.setOnRxChar([&](QObject *, qint32) {
        order << "RxChar";
        p.comm.PurgeRead();
    });
    p.comm.setOnError([&](QObject *, qint32) { order << "Error"; });
    p.comm.setOnCts(note("Cts"));
    p.comm.setOnDsr(note("Dsr"));
    p.comm.setOnRing(note("Ring"));
    p.comm.setOnRlsd(note("Rlsd"));
    p.comm.setOnBreak(note("Break"));
    p.comm.setOnTxEmpty(note("TxEmpty"));
    RecordingDisplay display;
    p.comm.setDisplay(&display);
    p.comm.Open();
    QCOMPARE(p.comm.EventMask(), 0x1FFBu); // no transmit-empty bit from the device
    // Everything at once, in one wake-up.
    p.dev->setLine(TIOCM_CD, true, false);
    p.dev->setLine(TIOCM_RI, true, false);
    p.dev->setLine(TIOCM_DSR, true, false);
    p.dev->setLine(TIOCM_CTS, true, false);
    p.dev->breakReceived(false);
    p.dev->receive("x");
    QTRY_COMPARE(order.size(), 6);
    QCOMPARE(order, (QStringList{"RxChar", "Cts", "Dsr", "Ring", "Rlsd", "Break"}));
    QCOMPARE(display.updates, 1);
    // A modem line change alone is seen without any byte arriving.
    order.clear();
    p.dev->setLine(TIOCM_CTS, false, false);
    QTRY_COMPARE(order, QStringList{"Cts"});
    p.comm.Close();
}

void TestVaCommFake::dispatchers()
{
    FakePort p;
    auto user1 = std::make_shared<RecordingUser>();
    auto user2 = std::make_shared<RecordingUser>();
    int rxChar = 0;
    QByteArray rxBuf;
    p.comm.setOnRxChar([&](QObject *, qint32) { ++rxChar; });
    p.comm.setOnRxBuf([&](QObject *, PVaData d, qint32 n) { rxBuf += QByteArray(d, n); });
    p.comm.setMonitorEvents(vaEvent(ceRxChar) | vaEvent(ceBreak));
    auto d1 = std::make_unique<TVaDispatcher>(user1);
    auto d2 = std::make_unique<TVaDispatcher>(user2);
    QCOMPARE(d1->WriteBuf("x", 1), 0); // no port
    p.comm.InsertClient(d1.get());
    p.comm.InsertClient(d2.get());
    QCOMPARE(d1->Comm(), &p.comm);
    d2->setActive(false);
    p.comm.Open();
    p.dev->receive("hello");
    QTRY_COMPARE(rxBuf, QByteArray("hello"));
    QCOMPARE(user1->data, QByteArray("hello"));
    QCOMPARE(user2->data, QByteArray());
    QCOMPARE(rxChar, 0);
    p.dev->breakReceived();
    QTRY_COMPARE(user1->events, QList<quint32>{EV_BREAK});
    // Switched off: bytes are still taken and OnRxBuf still fires.
    p.comm.DisableControls();
    p.dev->receive("more");
    QTRY_COMPARE(rxBuf, QByteArray("hellomore"));
    QCOMPARE(user1->data, QByteArray("hello"));
    p.comm.EnableControls();
    // Destroying a dispatcher detaches it; the last one gone brings OnRxChar back.
    d1.reset();
    p.comm.RemoveClient(d2.get());
    QCOMPARE(d2->Comm(), nullptr);
    p.dev->receive("z");
    QTRY_COMPARE(rxChar, 1);
    p.comm.InsertClient(d2.get());
    p.comm.Close();
    // The port detaches what is still attached when it goes.
}

void TestVaCommFake::handlerExceptionsAndUnsyncedThreads()
{
    m_handled.clear();
    FakePort p;
    int calls = 0;
    p.comm.setOnRxChar([&](QObject *, qint32) {
        char c;
        while (p.comm.ReadChar(c)) {
        }
        if (++calls == 1)
            throw EVaCommError(QStringLiteral("handler failed"));
    });
    p.comm.Open();
    p.dev->receive("1");
    QTRY_COMPARE(m_handled, QStringList{"handler failed"});
    p.dev->receive("2");
    QTRY_COMPARE(calls, 2);
    p.comm.Close();

    // Without SyncThreads the handlers run on the event thread.
    FakePort q;
    q.comm.setSyncThreads(false);
    std::atomic<bool> onOtherThread{false};
    std::atomic<int> count{0};
    QThread *main = QThread::currentThread();
    q.comm.setOnRxChar([&](QObject *, qint32 n) {
        onOtherThread = QThread::currentThread() != main;
        count = n;
    });
    q.comm.Open();
    q.dev->receive("abc");
    QTRY_COMPARE(count.load(), 3);
    QVERIFY(onOtherThread);

    // Close while such a handler is still about to read: both finish.
    std::atomic<bool> inHandler{false};
    std::atomic<int> read{0};
    q.comm.setOnRxChar([&](QObject *, qint32) {
        inHandler = true;
        QThread::msleep(100);
        char c;
        while (q.comm.ReadChar(c))
            ++read;
    });
    q.dev->receive("d");
    QTRY_VERIFY(inHandler.load());
    q.comm.Close();
    QVERIFY(!q.comm.Active());
    QCOMPARE(read.load(), 4);
}

void TestVaCommFake::writeFailureIsRetried()
{
    FakePort p;
    auto user = std::make_shared<RecordingUser>();
    TVaDispatcher d(user);
    p.comm.InsertClient(&d);
    p.comm.setMonitorEvents(vaEvent(ceError));
    p.comm.Open();
    p.dev->setWriteErrors(ENOSPC, 2);
    QVERIFY(p.comm.WriteText(QByteArray("reply")));
    QTRY_COMPARE(p.dev->written(), QByteArray("reply"));
    // Error reports (one per failure unless one is still waiting to run), then the
    // transmit-empty report.
    QTRY_VERIFY(!user->events.isEmpty() && user->events.last() == EV_TXEMPTY);
    QVERIFY(user->events.size() >= 2 && user->events.size() <= 3);
    QCOMPARE(user->events.first(), quint32(EV_ERR));
    p.comm.Close();
}

void TestVaCommFake::deviceGoneWhileWriting()
{
    // An unplugged adapter: writes fail with EIO before anything else noticed.
    FakePort p;
    QList<qint32> errors;
    p.comm.setOnError([&](QObject *, qint32 e) { errors << e; });
    p.comm.Open();
    p.dev->setWriteErrors(EIO, 1000000);
    QVERIFY(p.comm.WriteText(QByteArray("lost")));
    QTRY_COMPARE(errors, QList<qint32>{qint32(CE_IOE)});
    QVERIFY(p.comm.DeviceLost());
    QTest::qWait(100);
    QCOMPARE(errors.size(), 1); // no retry loop, no second report
    // Nothing will drain a lost device: its queue is dropped and later writes fail at once.
    QTRY_COMPARE(p.comm.WriteBufUsed(), 0);
    QVERIFY(!p.comm.WriteText(QByteArray("more")));
    QCOMPARE(p.dev->written(), QByteArray());
    p.comm.PurgeWrite();
    QCOMPARE(p.comm.WriteBufUsed(), 0);
    p.comm.Close();
    QVERIFY(!p.comm.Active());
}

void TestVaCommFake::directWrite()
{
    FakePort p;
    int txEmpty = 0;
    p.comm.setOnTxEmpty([&](QObject *) { ++txEmpty; });
    p.comm.setDirectWrite(true);
    p.comm.setMonitorEvents(vaEvent(ceTxEmpty) | vaEvent(ceRxChar));
    p.comm.Open();
    QCOMPARE(p.comm.EventMask(), 0x05u);
    QVERIFY(p.comm.WriteText(QByteArray("direct")));
    QCOMPARE(p.dev->written(), QByteArray("direct"));
    QTRY_COMPARE(txEmpty, 1);
    QCOMPARE(p.comm.WriteBufUsed(), 0);
    QCOMPARE(p.comm.WriteBufFree(), 2048);
    p.dev->setWriteErrors(EPERM, 1);
    QCOMPARE(captureError([&] { p.comm.WriteText(QByteArray("x")); }),
             QStringLiteral("Write error (1), Operation not permitted"));
    p.comm.PurgeWrite();
    QCOMPARE(p.dev->log().last(), QStringLiteral("flush=%1").arg(TCOFLUSH));
    p.comm.Close();
}

QTEST_GUILESS_MAIN(TestVaCommFake)
#include "tst_vacomm_fake.moc"
