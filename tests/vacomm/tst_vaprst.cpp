// Saved settings: the INI file handling, Save/Load of a port, both locations, and the list of
// serial ports.

#include "fakedevice.h"
#include "vacomm.h"

#include <QtTest>

namespace
{
QByteArray readFile(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(data);
}
} // namespace

class TestVaPrst : public QObject
{
    Q_OBJECT
private slots:
    void iniRewritesInPlace();
    void saveWritesKeysInOrder();
    void flowControlValue_data();
    void flowControlValue();
    void loadSettings();
    void registryLocation();
    void defaultIniLocation();
    void serialPortList();

private:
    QTemporaryDir m_dir;
};

void TestVaPrst::iniRewritesInPlace()
{
    const QString path = m_dir.filePath(QStringLiteral("rewrite.ini"));
    writeFile(path, "; comment\n[Other]\nBaudrate=1\n\n[Port]\nbaudrate = 4\nKeep=yes\n");
    TVaIniFile ini(path);
    QCOMPARE(ini.ReadInteger(QStringLiteral("PORT"), QStringLiteral("BAUDRATE"), -1), 4);
    QCOMPARE(ini.ReadInteger(QStringLiteral("Port"), QStringLiteral("Missing"), -1), -1);
    QCOMPARE(ini.ReadString(QStringLiteral("Port"), QStringLiteral("keep"), QString()),
             QStringLiteral("yes"));
    QVERIFY(ini.WriteInteger(QStringLiteral("port"), QStringLiteral("BAUDRATE"), 7));
    QVERIFY(ini.WriteInteger(QStringLiteral("port"), QStringLiteral("PARITY"), 0));
    QVERIFY(ini.WriteString(QStringLiteral("New"), QStringLiteral("A"), QStringLiteral("b")));
    QCOMPARE(readFile(path), QByteArray("; comment\n[Other]\nBaudrate=1\n\n[Port]\nBAUDRATE=7\n"
                                        "Keep=yes\nPARITY=0\n\n[New]\nA=b\n"));
}

void TestVaPrst::saveWritesKeysInOrder()
{
    const QString path = m_dir.filePath(QStringLiteral("save.ini"));
    TVaComm comm;
    comm.setObjectName(QStringLiteral("VaComm"));
    comm.SettingsStore()->setKey(path);
    comm.setBaudrate(br9600);
    comm.setPortNum(7);
    comm.setStopbits(sb2);
    comm.SaveSettings();
    QCOMPARE(comm.SettingsStore()->Section(), QStringLiteral("VaComm"));
    QCOMPARE(readFile(path), QByteArray("[VaComm]\nBAUDRATE=7\nPARITY=0\nDATABITS=4\nPORTNUM=7\n"
                                        "STOPBITS=2\nCOMNAME=COM7\nFLOWCONTROL=0\nFLAG=1\n"));
}

void TestVaPrst::flowControlValue_data()
{
    QTest::addColumn<bool>("xonOut");
    QTest::addColumn<bool>("xonIn");
    QTest::addColumn<int>("dtr");
    QTest::addColumn<int>("rts");
    QTest::addColumn<int>("value");
    QTest::newRow("all off") << false << false << 0 << 0 << 0;
    QTest::newRow("xon/xoff out") << true << false << 0 << 0 << 2;
    QTest::newRow("xon/xoff in") << false << true << 0 << 0 << 2;
    QTest::newRow("dtr enabled") << false << false << 1 << 0 << 1;
    QTest::newRow("rts handshake is neither") << false << false << 0 << 2 << 0;
    QTest::newRow("1 wins over 2") << false << true << 0 << 1 << 1;
}

void TestVaPrst::flowControlValue()
{
    QFETCH(bool, xonOut);
    QFETCH(bool, xonIn);
    QFETCH(int, dtr);
    QFETCH(int, rts);
    QFETCH(int, value);
    const QString path = m_dir.filePath(QStringLiteral("flow.ini"));
    TVaComm comm;
    comm.SettingsStore()->setKey(path);
    comm.SettingsStore()->setSection(QStringLiteral("S"));
    comm.FlowControl()->setXonXoffOut(xonOut);
    comm.FlowControl()->setXonXoffIn(xonIn);
    comm.FlowControl()->setControlDtr(TVaControlDtr(dtr));
    comm.FlowControl()->setControlRts(TVaControlRts(rts));
    comm.SaveSettings();
    QCOMPARE(TVaIniFile(path).ReadInteger("S", "FLOWCONTROL", -1), value);
}

void TestVaPrst::loadSettings()
{
    const QString path = m_dir.filePath(QStringLiteral("load.ini"));
    TVaComm comm;
    comm.SettingsStore()->setKey(path);
    comm.SettingsStore()->setSection(QStringLiteral("S"));
    // Without FLAG nothing changes.
    writeFile(path, "[S]\nBAUDRATE=13\nFLOWCONTROL=1\n");
    QVERIFY(!comm.LoadSettings());
    QCOMPARE(comm.Baudrate(), br1200);

    writeFile(path, "[S]\nFLAG=1\nBAUDRATE=13\nPARITY=2\nDATABITS=3\nPORTNUM=4\nSTOPBITS=2\n"
                    "FLOWCONTROL=2\nCOMNAME=COM9\n");
    QVERIFY(comm.LoadSettings());
    QCOMPARE(comm.Baudrate(), br115200);
    QCOMPARE(comm.Parity(), paEven);
    QCOMPARE(comm.Databits(), db7);
    QCOMPARE(comm.PortNum(), 4);
    QCOMPARE(comm.Stopbits(), sb2);
    QVERIFY(comm.FlowControl()->XonXoffIn());
    QVERIFY(comm.FlowControl()->XonXoffOut());

    // Values outside an enumeration leave that setting alone; missing numbers read as 0;
    // an unknown flow control value changes no flow setting.
    writeFile(path, "[S]\nFLAG=1\nBAUDRATE=99\nPARITY=9\nDATABITS=4\nFLOWCONTROL=5\n");
    QVERIFY(comm.LoadSettings());
    QCOMPARE(comm.Baudrate(), br115200);
    QCOMPARE(comm.Parity(), paEven);
    QCOMPARE(comm.Databits(), db8);
    QCOMPARE(comm.PortNum(), 0);
    QVERIFY(comm.FlowControl()->XonXoffIn());

    // PortNum refuses while open, after the settings before it were taken.
    auto dev = std::make_unique<FakeDevice>();
    comm.setDevice(std::move(dev));
    comm.setMonitorEvents(0);
    comm.setDirectWrite(true);
    comm.Open();
    writeFile(path, "[S]\nFLAG=1\nBAUDRATE=7\nPORTNUM=3\n");
    QVERIFY_THROWS_EXCEPTION(EVaCommError, comm.LoadSettings());
    QCOMPARE(comm.Baudrate(), br9600);
    QCOMPARE(comm.PortNum(), 0);
    comm.Close();
}

void TestVaPrst::registryLocation()
{
    const QString reg = m_dir.filePath(QStringLiteral("config/registry.ini"));
    qputenv("VACOMM_REGISTRY_FILE", QFile::encodeName(reg));
    TVaComm comm;
    comm.SettingsStore()->setLocation(slRegistry);
    comm.SettingsStore()->setRegRoot(rrLOCALMACHINE);
    comm.SettingsStore()->setKey(QStringLiteral("Software\\Vorlak"));
    comm.SettingsStore()->setSection(QStringLiteral("Port"));
    comm.setParity(paOdd);
    comm.SaveSettings();
    QVERIFY(readFile(reg).startsWith("[HKEY_LOCAL_MACHINE\\Software\\Vorlak\\Port]\nBAUDRATE=4\n"
                                     "PARITY=1\n"));
    TVaComm other;
    other.SettingsStore()->Assign(*comm.SettingsStore());
    QVERIFY(other.LoadSettings());
    QCOMPARE(other.Parity(), paOdd);
    // The other root is another key.
    other.SettingsStore()->setRegRoot(rrCURRENTUSER);
    QVERIFY(!other.LoadSettings());
    qunsetenv("VACOMM_REGISTRY_FILE");
}

void TestVaPrst::defaultIniLocation()
{
    TVaComm comm;
    comm.setObjectName(QStringLiteral("Port1"));
    QString section;
    // Only checks where it would go; nothing is written next to the test program.
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    comm.SettingsStore()->setSection(QString());
    QVERIFY(!comm.LoadSettings());
    QCOMPARE(comm.SettingsStore()->Key(), exe.absolutePath() + "/" + exe.fileName() + ".INI");
    QCOMPARE(comm.SettingsStore()->Section(), QStringLiteral("Port1"));
}

void TestVaPrst::serialPortList()
{
    // A sysfs tty class folder: two real UARTs, an empty UART slot, USB and ACM adapters,
    // and virtual consoles without a device.
    const QString root = m_dir.filePath(QStringLiteral("sys/class/tty"));
    auto entry = [&](const QString &name, bool device, const char *type) {
        QDir().mkpath(root + "/" + name + (device ? "/device" : ""));
        if (type)
            writeFile(root + "/" + name + "/type", type);
    };
    entry("ttyS10", true, "4\n");
    entry("ttyS2", true, "0\n");
    entry("ttyS0", true, "4\n");
    entry("ttyUSB1", true, nullptr);
    entry("ttyUSB0", true, nullptr);
    entry("ttyACM0", true, nullptr);
    entry("tty1", false, nullptr);
    entry("console", false, nullptr);
    QCOMPARE(TVaCustomComm::ListSerialPorts(root),
             (QStringList{"ttyS0", "ttyS10", "ttyACM0", "ttyUSB0", "ttyUSB1"}));
    TVaComm comm;
    QStringList names{"stale"};
    comm.GetComPortNames(names);
    QVERIFY(!names.contains(QStringLiteral("stale")));
}

QTEST_GUILESS_MAIN(TestVaPrst)
#include "tst_vaprst.moc"
