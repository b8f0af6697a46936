// The settings file through the real program: what the first show reads, what the close
// writes, files written by hand or by nobody, and a file that cannot be written.

#include "simulatorharness.h"
#include "testfiles.h"

#include <QCheckBox>
#include <QFile>
#include <QSpinBox>

namespace
{

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
    void firstStartWithoutFile();
    void closeWritesEveryKeyInOrder();
    void everyKeyRoundTrips();
    void foreignLinesAndOddCaseSurvive();
    void valuesAreConvertedAsWholes_data();
    void valuesAreConvertedAsWholes();
    void smallSizeGivesMinimumWindow();
    void hugeSizeIsCappedToAPaintableWindow_data();
    void hugeSizeIsCappedToAPaintableWindow();
    void emptyPortListensOnDefault();
    void unwritableFileIsReportedAndServerStillCloses();
    void junkFilesReadAsDefaults_data();
    void junkFilesReadAsDefaults();
    void oversizedFileIsReportedNotReplaced();
};

void TestSettingsFile::firstStartWithoutFile()
{
    Simulator sim;
    sim.start();
    QCOMPARE(sim.window->frameGeometry().topLeft(), QPoint(0, 0));
    QVERIFY(sim.window->ServerSocket().active());
    QVERIFY(sim.panel(2).endsWith(QStringLiteral(":0")));
    QCOMPARE(sim.window->frmSetup().font0Height(), 5);
    QVERIFY(!sim.onTop());
    QVERIFY(!QFile::exists(sim.settingsPath()));
    QVERIFY(sim.errors.messages.isEmpty());
}

void TestSettingsFile::closeWritesEveryKeyInOrder()
{
    Simulator sim;
    sim.start();
    TfrmSetup &setup = sim.window->frmSetup();
    sim.window->setGeometry(30, 40, 700, 600);
    setup.udFont0->setValue(8);
    setup.udFont1->setValue(12);
    // The port text is written as it stands, although it takes effect at the next start only.
    setup.ePort->setText(QStringLiteral("54321"));
    setup.cbReverse->setChecked(true);
    setup.cbStayOnTop->setChecked(true);
    const QRect frame = sim.window->frameGeometry();
    sim.window->close();
    QVERIFY(!sim.window->ServerSocket().active());
    QVERIFY(sim.errors.messages.isEmpty());
    QCOMPARE(readAll(sim.settingsPath()),
             QStringLiteral("[Form]\nTop=%1\nLeft=%2\nWidth=%3\nHeight=%4\n\n[Setup]\nFont0=8\n"
                            "Font1=12\nPort=54321\nReverse=1\nStayOnTop=1\n")
                 .arg(frame.top())
                 .arg(frame.left())
                 .arg(frame.width())
                 .arg(frame.height())
                 .toUtf8());
}

void TestSettingsFile::everyKeyRoundTrips()
{
    QTemporaryDir folder;
    QRect frame;
    {
        Simulator first(100, folder.path());
        first.start();
        first.window->setGeometry(33, 44, 640, 580);
        frame = first.window->frameGeometry();
        TfrmSetup &setup = first.window->frmSetup();
        setup.udFont0->setValue(99);
        setup.udFont1->setValue(1);
        setup.cbReverse->setChecked(true);
        setup.cbStayOnTop->setChecked(true);
        first.window->close();
    }
    Simulator second(100, folder.path());
    second.start();
    TfrmSetup &setup = second.window->frmSetup();
    QCOMPARE(second.window->frameGeometry(), frame);
    QCOMPARE(second.window->geometry(), QRect(33, 44, 640, 580));
    QCOMPARE(setup.font0Height(), 99);
    QCOMPARE(setup.font1Height(), 1);
    QCOMPARE(setup.portText(), QStringLiteral("0"));
    QVERIFY(setup.reverse());
    QVERIFY(setup.stayOnTop());
    QVERIFY(second.onTop());
    QVERIFY(second.errors.messages.isEmpty());
}

void TestSettingsFile::foreignLinesAndOddCaseSurvive()
{
    Simulator sim;
    const QString path = sim.dir.filePath(QStringLiteral("Vorlak.ini"));
    writeAll(path, "; Vorlak settings, edited by hand\r\n"
                   "[Printer]\r\n"
                   "Top=500\r\n"
                   "\r\n"
                   "[FORM]\r\n"
                   "tOp = 12\r\n"
                   "LEFT=$10\r\n"
                   "comment without equals\r\n"
                   "\r\n"
                   "[setup]\r\n"
                   "font0=7\r\n"
                   "PORT=0\r\n"
                   "reverse=1\r\n"
                   "Extra=kept\r\n");
    sim.start();
    QCOMPARE(sim.window->frameGeometry().topLeft(), QPoint(16, 12));
    QCOMPARE(sim.window->frmSetup().font0Height(), 7);
    QVERIFY(sim.window->frmSetup().reverse());
    const QSize size = sim.window->frameGeometry().size();
    sim.window->close();
    QCOMPARE(readAll(path), QStringLiteral("; Vorlak settings, edited by hand\r\n"
                                           "[Printer]\r\n"
                                           "Top=500\r\n"
                                           "\r\n"
                                           "[FORM]\r\n"
                                           "tOp=12\r\n"
                                           "LEFT=16\r\n"
                                           "comment without equals\r\n"
                                           "Width=%1\r\n"
                                           "Height=%2\r\n"
                                           "\r\n"
                                           "[setup]\r\n"
                                           "font0=7\r\n"
                                           "PORT=0\r\n"
                                           "reverse=1\r\n"
                                           "Extra=kept\r\n"
                                           "Font1=5\r\n"
                                           "StayOnTop=0\r\n")
                                .arg(size.width())
                                .arg(size.height())
                                .toUtf8());
}

void TestSettingsFile::valuesAreConvertedAsWholes_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<int>("font0");
    QTest::addColumn<bool>("stayOnTop");
    QTest::newRow("hexadecimal font") << QByteArray("Font0=0x0A\n") << 10 << false;
    QTest::newRow("dollar font, blanks") << QByteArray("Font0=  $0B\n") << 11 << false;
    QTest::newRow("font not a number") << QByteArray("Font0=8mm\n") << 5 << false;
    QTest::newRow("stay on top yes") << QByteArray("StayOnTop=yes\n") << 5 << false;
    QTest::newRow("stay on top 1") << QByteArray("StayOnTop=1\n") << 5 << true;
    QTest::newRow("stay on top -1") << QByteArray("StayOnTop=-1\n") << 5 << true;
    QTest::newRow("stay on top empty") << QByteArray("StayOnTop=\n") << 5 << false;
    QTest::newRow("font beyond the field's range") << QByteArray("Font0=150\n") << 99 << false;
}

void TestSettingsFile::valuesAreConvertedAsWholes()
{
    QFETCH(QByteArray, setup);
    QFETCH(int, font0);
    QFETCH(bool, stayOnTop);
    Simulator sim;
    writeAll(sim.dir.filePath(QStringLiteral("Vorlak.ini")), "[Setup]\n" + setup);
    sim.start();
    QCOMPARE(sim.window->frmSetup().font0Height(), font0);
    QCOMPARE(sim.window->frmSetup().stayOnTop(), stayOnTop);
    QCOMPARE(sim.onTop(), stayOnTop);
}

void TestSettingsFile::smallSizeGivesMinimumWindow()
{
    Simulator sim;
    writeAll(sim.dir.filePath(QStringLiteral("Vorlak.ini")),
             "[Form]\nTop=20\nLeft=5000\nWidth=100\nHeight=100\n");
    sim.start();
    // The position is taken as it comes, even off every screen.
    QCOMPARE(sim.window->frameGeometry(), QRect(5000, 20, 540, 512));
}

void TestSettingsFile::hugeSizeIsCappedToAPaintableWindow_data()
{
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QSize>("outer");
    // The offscreen screen is smaller than 4096 x 4096, so that is the cap here.
    QTest::newRow("large, kept") << QByteArray("Width=4096\nHeight=3000\n") << QSize(4096, 3000);
    QTest::newRow("too wide") << QByteArray("Width=100000\nHeight=600\n") << QSize(4096, 600);
    QTest::newRow("both") << QByteArray("Width=100000\nHeight=100000\n") << QSize(4096, 4096);
    QTest::newRow("int max") << QByteArray("Width=2147483647\nHeight=0x7FFFFFFF\n")
                             << QSize(4096, 4096);
}

// A window of 100000 x 100000 pixels gets no backing store (40 GB): every paint of it fails
// and it stays blank. The file's size is capped at the screens' size, 4096 x 4096 at least.
void TestSettingsFile::hugeSizeIsCappedToAPaintableWindow()
{
    QFETCH(QByteArray, form);
    QFETCH(QSize, outer);
    Simulator sim;
    writeAll(sim.dir.filePath(QStringLiteral("Vorlak.ini")), "[Form]\nTop=0\nLeft=0\n" + form);
    sim.start();
    QCOMPARE(sim.window->frameGeometry().size(), outer);
    // And written back as the window is.
    sim.window->close();
    const QByteArray written = readAll(sim.settingsPath());
    QVERIFY2(written.contains("Width=" + QByteArray::number(outer.width()) + "\r\n") ||
                 written.contains("Width=" + QByteArray::number(outer.width()) + "\n"),
             written.constData());
}

void TestSettingsFile::emptyPortListensOnDefault()
{
    Simulator sim;
    writeAll(sim.dir.filePath(QStringLiteral("Vorlak.ini")), "[Setup]\nPort=\n");
    sim.start();
    QCOMPARE(sim.window->frmSetup().portText(), QString());
    QCOMPARE(sim.window->ServerSocket().port(), 10001);
    if (!sim.window->ServerSocket().active()) {
        // Another program listens there: the open of port 10001 was tried and reported.
        QCOMPARE(sim.errors.messages.size(), 1);
        QVERIFY(sim.errors.messages[0].endsWith(QStringLiteral("(98), bei API 'bind'")));
        return;
    }
    QCOMPARE(sim.window->ServerSocket().listeningPort(), quint16(10001));
    QVERIFY2(sim.panel(2).endsWith(QLatin1Char(':')), qPrintable(sim.panel(2)));
    QVERIFY(!sim.panel(2).contains(QStringLiteral("10001")));
}

void TestSettingsFile::unwritableFileIsReportedAndServerStillCloses()
{
    // Root ignores permission bits; a regular file where the data folder's parent should be
    // stops everyone.
    QTemporaryDir base;
    const QString blocker = base.filePath(QStringLiteral("blocker"));
    writeAll(blocker, "a file, not a folder");
    Simulator sim(100, blocker + QStringLiteral("/Vorlak"));
    sim.start();
    QVERIFY(sim.window->ServerSocket().active());
    sim.window->close();
    QCOMPARE(
        sim.errors.messages,
        QStringList{
            QStringLiteral("In %1/Vorlak/Vorlak.ini kann nicht geschrieben werden.").arg(blocker)});
    QVERIFY(!sim.window->ServerSocket().active());
    QVERIFY(!sim.window->isVisible());
}

void TestSettingsFile::junkFilesReadAsDefaults_data()
{
    QTest::addColumn<QByteArray>("junk");
    QByteArray binary(64 * 1024, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 7919 + i / 13) & 0xFF);
    binary.replace('[', '{');
    QTest::newRow("binary") << binary;
    QTest::newRow("lines without equals") << QByteArray("[Form]\nTop\nLeft 3\n[Setup]\nFont0\n");
    QTest::newRow("values that are no numbers")
        << QByteArray("[Form]\nTop=x\nLeft=--1\nWidth=wide\nHeight=0x\n[Setup]\nFont0=five\n"
                      "Font1=\nReverse=on\nStayOnTop=true\n");
    QTest::newRow("ten megabytes of one line") << QByteArray(10 * 1024 * 1024, 'j');
}

void TestSettingsFile::junkFilesReadAsDefaults()
{
    QFETCH(QByteArray, junk);
    Simulator sim;
    const QString path = sim.dir.filePath(QStringLiteral("Vorlak.ini"));
    writeAll(path, junk);
    sim.start();
    Simulator withoutFile;
    withoutFile.start();
    QCOMPARE(sim.window->frameGeometry(), withoutFile.window->frameGeometry());
    QCOMPARE(sim.window->frameGeometry().topLeft(), QPoint(0, 0));
    TfrmSetup &setup = sim.window->frmSetup();
    QCOMPARE(setup.font0Height(), 5);
    QCOMPARE(setup.font1Height(), 5);
    QCOMPARE(setup.portText(), QStringLiteral("0"));
    QVERIFY(!setup.reverse());
    QVERIFY(!setup.stayOnTop());
    QVERIFY(sim.window->ServerSocket().active());
    sim.window->close();
    QVERIFY(sim.errors.messages.isEmpty());
    // What was there stays; the keys that could not be found are added.
    const QByteArray written = readAll(path);
    if (junk.contains("[Form]"))
        QVERIFY(written.contains("Top=0\n"));
    else
        QVERIFY(written.startsWith(junk));
    QVERIFY(written.contains("StayOnTop=0\n"));
}

void TestSettingsFile::oversizedFileIsReportedNotReplaced()
{
    Simulator sim;
    const QString path = sim.dir.filePath(QStringLiteral("Vorlak.ini"));
    const qint64 size = 65 * 1024 * 1024;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Setup]\nFont0=9\n");
        QVERIFY(file.resize(size)); // sparse
    }
    sim.start();
    QCOMPARE(sim.window->frmSetup().font0Height(), 5);
    sim.window->close();
    QCOMPARE(sim.errors.messages,
             QStringList{QStringLiteral("In %1 kann nicht geschrieben werden.").arg(path)});
    QCOMPARE(QFileInfo(path).size(), size);
}

VORLAK_TEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
