// The tty class folder as the lister reads it: what it tells about each entry, its natural
// order, and that the caller's filter decides.

#include "testfiles.h"
#include "ttyclass.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace
{

// "name" a tty without a device, "name/" one with a device, "name//" one with a driver bound;
// "=4" after it writes a type file with "4\n" in it.
void describe(const QString &root, const QStringList &ttys)
{
    for (const QString &entry : ttys) {
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        QString folder = root + QLatin1Char('/') + name;
        folder.replace(QStringLiteral("//"), QStringLiteral("/device/driver"));
        if (folder.endsWith(QLatin1Char('/')))
            folder += QStringLiteral("device");
        QVERIFY(QDir().mkpath(folder));
        if (entry.contains(QLatin1Char('='))) {
            const QString tty = root + QLatin1Char('/') + name.section(QLatin1Char('/'), 0, 0);
            writeAll(tty + QStringLiteral("/type"),
                     entry.section(QLatin1Char('='), 1).toUtf8() + '\n');
        }
    }
}

QStringList namesOf(const QList<TtyClassEntry> &entries)
{
    QStringList names;
    for (const TtyClassEntry &e : entries)
        names.append(e.name);
    return names;
}

bool everything(const TtyClassEntry &)
{
    return true;
}

} // namespace

class TestTtyClass : public QObject
{
    Q_OBJECT
private slots:
    void entryTellsWhatIsBehindIt_data();
    void entryTellsWhatIsBehindIt();
    void naturalOrder_data();
    void naturalOrder();
    void filterDecides();
    void missingFolderGivesNone();
};

void TestTtyClass::entryTellsWhatIsBehindIt_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("hasDevice");
    QTest::addColumn<bool>("hasDriver");
    QTest::addColumn<bool>("hasUartType");
    QTest::addColumn<QByteArray>("uartType");
    QTest::newRow("virtual console") << "tty1" << false << false << false << QByteArray();
    QTest::newRow("device, no driver") << "ttyS3/=4" << true << false << true << QByteArray("4");
    QTest::newRow("empty UART slot") << "ttyS1//=0" << true << true << true << QByteArray("0");
    QTest::newRow("USB adapter") << "ttyUSB0//" << true << true << false << QByteArray();
}

void TestTtyClass::entryTellsWhatIsBehindIt()
{
    QFETCH(QString, entry);
    QTemporaryDir dir;
    describe(dir.path(), {entry});
    const QList<TtyClassEntry> entries = ttyClassEntries(dir.path(), everything);
    QCOMPARE(entries.size(), 1);
    const TtyClassEntry &e = entries.first();
    QCOMPARE(e.name, entry.section(QLatin1Char('/'), 0, 0));
    QTEST(e.hasDevice, "hasDevice");
    QTEST(e.hasDriver, "hasDriver");
    QTEST(e.hasUartType, "hasUartType");
    QTEST(e.uartType, "uartType");
}

void TestTtyClass::naturalOrder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("numbers as numbers")
        << QStringList{"ttyS10", "ttyS2", "ttyS1"} << QStringList{"ttyS1", "ttyS2", "ttyS10"};
    QTest::newRow("stems first") << QStringList{"ttyUSB0", "ttyS9", "ttyACM1", "rfcomm0"}
                                 << QStringList{"rfcomm0", "ttyACM1", "ttyS9", "ttyUSB0"};
    QTest::newRow("no number before 0") << QStringList{"tty0", "tty"} << QStringList{"tty", "tty0"};
    QTest::newRow("equal numbers by text")
        << QStringList{"ttyS1", "ttyS01"} << QStringList{"ttyS01", "ttyS1"};
}

void TestTtyClass::naturalOrder()
{
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    describe(dir.path(), names);
    QTEST(namesOf(ttyClassEntries(dir.path(), everything)), "sorted");
}

void TestTtyClass::filterDecides()
{
    QTemporaryDir dir;
    describe(dir.path(), {"ttyS0//=4", "ttyS1//=0", "tty0", ".hidden/", "ttyUSB0/"});
    QStringList seen;
    const QList<TtyClassEntry> kept = ttyClassEntries(dir.path(), [&](const TtyClassEntry &e) {
        seen.append(e.name);
        return e.hasDevice && e.uartType != "0";
    });
    seen.sort();
    QCOMPARE(seen, (QStringList{".hidden", "tty0", "ttyS0", "ttyS1", "ttyUSB0"}));
    QCOMPARE(namesOf(kept), (QStringList{".hidden", "ttyS0", "ttyUSB0"}));
}

void TestTtyClass::missingFolderGivesNone()
{
    QTemporaryDir dir;
    QVERIFY(ttyClassEntries(dir.filePath(QStringLiteral("nowhere")), everything).isEmpty());
}

QTEST_GUILESS_MAIN(TestTtyClass)
#include "tst_ttyclass.moc"
