// The line settings as termios, one setting at a time: the bits each setter writes, that it
// touches nothing else, what it refuses, and what the readers make of a tty that another
// program configured.

#include "vacomm.h"
#include "vatermios.h"

#include <QtTest>

#include <cstring>
#include <termios.h>

namespace
{

constexpr quint32 kBOTHER = 0010000;

enum class Setting { BaudRate, DataBits, Parity, StopBits };

// A tty left in a mixed state by someone else: every field has bits in it.
TVaTermios busyTermios(quint8 dataBits)
{
    TVaTermios t;
    t.c_iflag = ICRNL | IXON | INPCK;
    t.c_oflag = OPOST;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cflag = B38400 | (B38400 << 16) | PARENB | CSTOPB | CRTSCTS | HUPCL;
    VaSetDataBits(t, dataBits);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    t.c_ispeed = t.c_ospeed = 38400;
    return t;
}

bool sameBytes(const TVaTermios &a, const TVaTermios &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool set(Setting s, TVaTermios &t, quint32 value)
{
    switch (s) {
    case Setting::BaudRate:
        return VaSetBaudRate(t, value);
    case Setting::DataBits:
        return VaSetDataBits(t, quint8(value));
    case Setting::Parity:
        return VaSetParity(t, quint8(value));
    case Setting::StopBits:
        return VaSetStopBits(t, quint8(value));
    }
    return false;
}

quint32 get(Setting s, const TVaTermios &t)
{
    switch (s) {
    case Setting::BaudRate:
        return VaBaudRateOf(t);
    case Setting::DataBits:
        return VaDataBitsOf(t);
    case Setting::Parity:
        return VaParityOf(t);
    case Setting::StopBits:
        return VaStopBitsOf(t);
    }
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(Setting)

class TestVaTermios : public QObject
{
    Q_OBJECT
private slots:
    void lineSetting_data();
    void lineSetting();
    void readingForeignSettings_data();
    void readingForeignSettings();
    void flowControl_data();
    void flowControl();
    void parityCheckIsItsOwnBit();
    void rawModeKeepsWhatOthersOwn();
    void wholeBlockRefusedLeavesTermiosAlone_data();
    void wholeBlockRefusedLeavesTermiosAlone();
    void wholeBlockRoundTrip();
};

void TestVaTermios::lineSetting_data()
{
    QTest::addColumn<Setting>("setting");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("dataBitsBefore");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<quint32>("bits");
    QTest::addColumn<int>("readsBack"); // -1: refused

    const quint32 baud = CBAUD | CIBAUD;
    QTest::newRow("9600 is B9600")
        << Setting::BaudRate << 9600u << 8 << baud << quint32(B9600) << 9600;
    QTest::newRow("4000000 is B4000000")
        << Setting::BaudRate << 4000000u << 8 << baud << quint32(B4000000) << 4000000;
    QTest::newRow("14400 has no code")
        << Setting::BaudRate << 14400u << 8 << baud << kBOTHER << 14400;
    QTest::newRow("256000 has no code")
        << Setting::BaudRate << 256000u << 8 << baud << kBOTHER << 256000;
    QTest::newRow("largest rate") << Setting::BaudRate << 0x7FFFFFFFu << 8 << baud << kBOTHER
                                  << 0x7FFFFFFF;
    QTest::newRow("rate 0") << Setting::BaudRate << 0u << 8 << baud << 0u << -1;
    QTest::newRow("rate above 31 bits")
        << Setting::BaudRate << 0x80000000u << 8 << baud << 0u << -1;

    const quint32 size = CSIZE;
    QTest::newRow("4 data bits") << Setting::DataBits << 4u << 8 << size << 0u << -1;
    QTest::newRow("5 data bits") << Setting::DataBits << 5u << 8 << size << quint32(CS5) << 5;
    QTest::newRow("6 data bits") << Setting::DataBits << 6u << 8 << size << quint32(CS6) << 6;
    QTest::newRow("7 data bits") << Setting::DataBits << 7u << 8 << size << quint32(CS7) << 7;
    QTest::newRow("8 data bits") << Setting::DataBits << 8u << 5 << size << quint32(CS8) << 8;
    QTest::newRow("9 data bits") << Setting::DataBits << 9u << 8 << size << 0u << -1;

    const quint32 parity = PARENB | PARODD | CMSPAR;
    QTest::newRow("no parity") << Setting::Parity << 0u << 8 << parity << 0u << 0;
    QTest::newRow("odd") << Setting::Parity << 1u << 8 << parity << quint32(PARENB | PARODD) << 1;
    QTest::newRow("even") << Setting::Parity << 2u << 8 << parity << quint32(PARENB) << 2;
    QTest::newRow("mark") << Setting::Parity << 3u << 8 << parity
                          << quint32(PARENB | CMSPAR | PARODD) << 3;
    QTest::newRow("space") << Setting::Parity << 4u << 8 << parity << quint32(PARENB | CMSPAR) << 4;
    QTest::newRow("parity 5") << Setting::Parity << 5u << 8 << parity << 0u << -1;

    const quint32 stop = CSTOPB;
    QTest::newRow("1 stop bit") << Setting::StopBits << 0u << 8 << stop << 0u << 0;
    QTest::newRow("2 stop bits") << Setting::StopBits << 2u << 8 << stop << quint32(CSTOPB) << 2;
    QTest::newRow("1.5 stop bits with 5 data bits")
        << Setting::StopBits << 1u << 5 << stop << quint32(CSTOPB) << 1;
    // CSTOPB is 1.5 stop bits at 5 data bits, so 2 read back as 1.5 there.
    QTest::newRow("2 stop bits with 5 data bits")
        << Setting::StopBits << 2u << 5 << stop << quint32(CSTOPB) << 1;
    QTest::newRow("1.5 stop bits with 6 data bits")
        << Setting::StopBits << 1u << 6 << stop << 0u << -1;
    QTest::newRow("stop bits 3") << Setting::StopBits << 3u << 8 << stop << 0u << -1;
}

void TestVaTermios::lineSetting()
{
    QFETCH(Setting, setting);
    QFETCH(quint32, value);
    QFETCH(int, dataBitsBefore);
    QFETCH(quint32, mask);
    QFETCH(quint32, bits);
    QFETCH(int, readsBack);

    TVaTermios t = busyTermios(quint8(dataBitsBefore));
    const TVaTermios before = t;
    QCOMPARE(set(setting, t, value), readsBack >= 0);
    if (readsBack < 0) {
        QVERIFY(sameBytes(t, before));
        return;
    }
    QCOMPARE(t.c_cflag & mask, bits);
    // Only the setting's own bits changed (and the speeds, for the rate).
    TVaTermios rest = t;
    rest.c_cflag = (rest.c_cflag & ~mask) | (before.c_cflag & mask);
    if (setting == Setting::BaudRate) {
        QCOMPARE(t.c_ispeed, value);
        QCOMPARE(t.c_ospeed, value);
        rest.c_ispeed = before.c_ispeed;
        rest.c_ospeed = before.c_ospeed;
    }
    QVERIFY(sameBytes(rest, before));
    QCOMPARE(get(setting, t), quint32(readsBack));
}

void TestVaTermios::readingForeignSettings_data()
{
    QTest::addColumn<quint32>("cflag");
    QTest::addColumn<quint32>("ospeed");
    QTest::addColumn<quint32>("rate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("the code wins over a stale speed")
        << quint32(B9600 | CS8) << 1234u << 9600u << 8 << 0 << 0;
    QTest::newRow("BOTHER takes the speed field")
        << quint32(kBOTHER | CS7 | PARENB) << 250000u << 250000u << 7 << 2 << 0;
    QTest::newRow("B0 is no standard rate") << quint32(B0 | CS8) << 0u << 0u << 8 << 0 << 0;
    QTest::newRow("odd flag without parity enabled")
        << quint32(B9600 | CS8 | PARODD | CMSPAR) << 9600u << 9600u << 8 << 0 << 0;
    QTest::newRow("CSTOPB at 5 data bits")
        << quint32(B1200 | CS5 | CSTOPB) << 1200u << 1200u << 5 << 0 << 1;
    QTest::newRow("CSTOPB at 6 data bits")
        << quint32(B1200 | CS6 | CSTOPB | PARENB | PARODD) << 1200u << 1200u << 6 << 1 << 2;
}

void TestVaTermios::readingForeignSettings()
{
    QFETCH(quint32, cflag);
    QFETCH(quint32, ospeed);
    TVaTermios t;
    t.c_cflag = cflag;
    t.c_ospeed = ospeed;
    QTEST(VaBaudRateOf(t), "rate");
    QTEST(int(VaDataBitsOf(t)), "dataBits");
    QTEST(int(VaParityOf(t)), "parity");
    QTEST(int(VaStopBitsOf(t)), "stopBits");
}

void TestVaTermios::flowControl_data()
{
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<quint32>("cflag");
    QTest::addColumn<quint32>("iflag");
    QTest::addColumn<quint32>("readsBack");

    const quint32 dtrOn = 1u << DCB_DTRCONTROL_SHIFT;
    const quint32 rtsOn = 1u << DCB_RTSCONTROL_SHIFT;
    const quint32 rtsHandshake = 2u << DCB_RTSCONTROL_SHIFT;
    const quint32 ctsFlow = DCB_OUTXCTSFLOW | rtsHandshake;
    QTest::newRow("none") << (dtrOn | rtsOn) << 0u << 0u << (dtrOn | rtsOn);
    // A tty cannot keep DTR or RTS low: it raises them when opened.
    QTest::newRow("lines off") << 0u << 0u << 0u << (dtrOn | rtsOn);
    QTest::newRow("CTS output flow")
        << quint32(DCB_OUTXCTSFLOW) << quint32(CRTSCTS) << 0u << (dtrOn | ctsFlow);
    QTest::newRow("RTS handshake") << rtsHandshake << quint32(CRTSCTS) << 0u << (dtrOn | ctsFlow);
    QTest::newRow("RTS toggle is no handshake")
        << (3u << DCB_RTSCONTROL_SHIFT) << 0u << 0u << (dtrOn | rtsOn);
    QTest::newRow("XON/XOFF out") << quint32(DCB_OUTX) << 0u << quint32(IXON)
                                  << (dtrOn | rtsOn | DCB_OUTX);
    QTest::newRow("XON/XOFF in") << quint32(DCB_INX) << 0u << quint32(IXOFF)
                                 << (dtrOn | rtsOn | DCB_INX);
    QTest::newRow("everything") << (ctsFlow | DCB_OUTX | DCB_INX) << quint32(CRTSCTS)
                                << quint32(IXON | IXOFF) << (dtrOn | ctsFlow | DCB_OUTX | DCB_INX);
}

void TestVaTermios::flowControl()
{
    QFETCH(quint32, flags);
    QFETCH(quint32, cflag);
    QFETCH(quint32, iflag);
    TVaTermios t = busyTermios(8);
    const TVaTermios before = t;
    VaSetFlowControl(t, flags);
    QCOMPARE(t.c_cflag & CRTSCTS, cflag);
    QCOMPARE(t.c_iflag & (IXON | IXOFF), iflag);
    QCOMPARE(t.c_cflag & ~quint32(CRTSCTS), before.c_cflag & ~quint32(CRTSCTS));
    QCOMPARE(t.c_iflag & ~quint32(IXON | IXOFF), before.c_iflag & ~quint32(IXON | IXOFF));
    QTEST(VaFlowControlOf(t), "readsBack");
}

void TestVaTermios::parityCheckIsItsOwnBit()
{
    TVaTermios t = busyTermios(8);
    const quint32 others = t.c_iflag & ~quint32(INPCK);
    VaSetParityCheck(t, false);
    QCOMPARE(t.c_iflag, others);
    QVERIFY(!VaParityCheckOf(t));
    VaSetParityCheck(t, true);
    QCOMPARE(t.c_iflag, others | INPCK);
    QVERIFY(VaParityCheckOf(t));
}

void TestVaTermios::rawModeKeepsWhatOthersOwn()
{
    TVaTermios t = busyTermios(7);
    t.c_iflag |= IGNBRK | BRKINT | ISTRIP | IXANY | IXOFF;
    t.c_cflag &= ~quint32(CLOCAL);
    VaSetRawMode(t);
    QCOMPARE(t.c_iflag, quint32(IXON | IXOFF | INPCK)); // flow control and parity check
    QCOMPARE(t.c_oflag, 0u);
    QCOMPARE(t.c_lflag, 0u);
    QCOMPARE(t.c_cflag, busyTermios(7).c_cflag | CREAD | CLOCAL);
    QCOMPARE(t.c_cc[VMIN], 1);
    QCOMPARE(t.c_cc[VTIME], 5);
}

void TestVaTermios::wholeBlockRefusedLeavesTermiosAlone_data()
{
    QTest::addColumn<quint32>("rate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("4 data bits") << 9600u << 4 << 0 << 0;
    QTest::newRow("rate 0") << 0u << 8 << 0 << 0;
    QTest::newRow("1.5 stop bits at 8 data bits") << 9600u << 8 << 0 << 1;
    QTest::newRow("parity 5, after valid rate and size") << 9600u << 8 << 5 << 0;
}

void TestVaTermios::wholeBlockRefusedLeavesTermiosAlone()
{
    QFETCH(quint32, rate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    TVaDCB d;
    d.BaudRate = rate;
    d.ByteSize = quint8(dataBits);
    d.Parity = quint8(parity);
    d.StopBits = quint8(stopBits);
    d.Flags = DCB_OUTX;
    TVaTermios t = busyTermios(7);
    const TVaTermios before = t;
    QCOMPARE(TVaCustomComm::DCBToTermios(d, t), EINVAL);
    QVERIFY(sameBytes(t, before));
}

void TestVaTermios::wholeBlockRoundTrip()
{
    TVaDCB d;
    d.BaudRate = 57600;
    d.ByteSize = 7;
    d.Parity = 3;
    d.StopBits = 2;
    d.Flags = DCB_BINARY | DCB_PARITY | DCB_INX | (1u << DCB_DTRCONTROL_SHIFT) |
              (1u << DCB_RTSCONTROL_SHIFT);
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.EofChar = 0x1A;
    TVaTermios t = busyTermios(8);
    QCOMPARE(TVaCustomComm::DCBToTermios(d, t), 0);
    QCOMPARE(t.c_cflag,
             quint32(B57600 | CS7 | PARENB | CMSPAR | PARODD | CSTOPB | HUPCL | CREAD | CLOCAL));
    QCOMPARE(t.c_iflag, quint32(INPCK | IXOFF));
    QCOMPARE(t.c_cc[VSTART], 0x11);
    QCOMPARE(t.c_cc[VSTOP], 0x13);
    QCOMPARE(t.c_cc[VEOF], 0x1A);
    QCOMPARE(t.c_cc[VMIN], 1); // time-outs are set elsewhere
    const TVaDCB back = TVaCustomComm::TermiosToDCB(t);
    d.XonLim = d.XoffLim = 128; // what the line discipline uses
    QCOMPARE(back.BaudRate, d.BaudRate);
    QVERIFY(back == d);
}

QTEST_GUILESS_MAIN(TestVaTermios)
#include "tst_vatermios.moc"
