// The settings file layer on real files: integer syntax, where keys and sections go, that every
// other line keeps its exact bytes, and files that are no settings files at all.

#include "inifile.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(IniFile::KeyRewrite)

class TestIniFile : public QObject
{
    Q_OBJECT
private slots:
    void parseInteger_data();
    void parseInteger();
    void newFileGetsKeysInWrittenOrder();
    void rewriteKeepsEveryForeignLine();
    void rewrittenKeyIsSpelledByTheRule_data();
    void rewrittenKeyIsSpelledByTheRule();
    void missingKeyGoesToEndOfItsSection();
    void valuesAreTrimmedUnquotedAndCut();
    void firstOfEqualNamesCounts();
    void junkReadsAsDefaultsAndStays_data();
    void junkReadsAsDefaultsAndStays();
    void oversizedFileIsNeverOverwritten();
    void fileThatIsAFolderIsNeverOverwritten();
    void unwritablePathFailsAndLeavesNothing();
    void saveReplacesFileWhole();
    void loneCarriageReturnAtTheEnd_data();
    void loneCarriageReturnAtTheEnd();
    void valueThatStartsWithAByteOrderMark();

private:
    QTemporaryDir m_dir;
};

void TestIniFile::parseInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << "10" << true << 10;
    QTest::newRow("leading blanks and sign") << "   -5" << true << -5;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("0x") << "0x0A" << true << 10;
    QTest::newRow("0X lower digits") << "0Xff" << true << 255;
    QTest::newRow("dollar") << "$1F" << true << 31;
    QTest::newRow("x alone") << "x10" << true << 16;
    QTest::newRow("X alone") << "X10" << true << 16;
    QTest::newRow("negative hex") << "-$10" << true << -16;
    QTest::newRow("hex bit pattern") << "$FFFFFFFF" << true << -1;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("too large") << "2147483648" << false << 0;
    QTest::newRow("hex too large") << "$100000000" << false << 0;
    QTest::newRow("trailing blank") << "12 " << false << 0;
    QTest::newRow("word") << "yes" << false << 0;
    QTest::newRow("prefix without digits") << "0x" << false << 0;
    QTest::newRow("dollar without digits") << "$" << false << 0;
    QTest::newRow("bad hex digit") << "0x1G" << false << 0;
    QTest::newRow("hex letters without prefix") << "1F" << false << 0;
    QTest::newRow("two signs") << "--1" << false << 0;
    QTest::newRow("exponent") << "1e3" << false << 0;
    QTest::newRow("non-ASCII digits") << QStringLiteral("\uFF11\uFF12") << false << 0;
    QTest::newRow("blank after sign") << "- 1" << false << 0;
}

void TestIniFile::parseInteger()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    int parsed = 12345;
    QCOMPARE(IniFile::parseInteger(text, &parsed), valid);
    if (valid)
        QCOMPARE(parsed, value);
    else
        QCOMPARE(parsed, 12345);
}

void TestIniFile::newFileGetsKeysInWrittenOrder()
{
    const QString path = m_dir.filePath(QStringLiteral("new.ini"));
    IniFile ini(path);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 10);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Left"), -20);
    ini.writeString(QStringLiteral("Setup"), QStringLiteral("Port"), QStringLiteral("10001"));
    ini.writeBool(QStringLiteral("Setup"), QStringLiteral("Reverse"), true);
    ini.writeBool(QStringLiteral("Setup"), QStringLiteral("StayOnTop"), false);
    QVERIFY(ini.save());
    QCOMPARE(readAll(path), QByteArray("[Form]\nTop=10\nLeft=-20\n\n[Setup]\nPort=10001\n"
                                       "Reverse=1\nStayOnTop=0\n"));

    const IniFile back(path);
    QCOMPARE(back.readInteger(QStringLiteral("form"), QStringLiteral("LEFT"), 0), -20);
    QCOMPARE(back.readString(QStringLiteral("SETUP"), QStringLiteral("port"), QString()),
             QStringLiteral("10001"));
    QCOMPARE(back.readBool(QStringLiteral("Setup"), QStringLiteral("Reverse"), false), true);
    QCOMPARE(back.readBool(QStringLiteral("Setup"), QStringLiteral("StayOnTop"), true), false);
}

void TestIniFile::rewriteKeepsEveryForeignLine()
{
    const QString path = m_dir.filePath(QStringLiteral("foreign.ini"));
    // CR LF line ends, a byte-order mark, comments, another program's section, a line without
    // "=", odd case, blanks around names, and no line end after the last line.
    const QByteArray original("\xEF\xBB\xBF; written by hand\r\n"
                              "[Other]\r\n"
                              "Top=999\r\n"
                              "\r\n"
                              "  [ FORM ]  \r\n"
                              "# a comment=with equals\r\n"
                              "  tOP = 5\r\n"
                              "just a line\r\n"
                              "Width=\xC3\xA4\r\n"
                              "\r\n"
                              "[setup]\r\n"
                              "port=\"123\"");
    writeAll(path, original);

    IniFile ini(path);
    QCOMPARE(ini.readInteger(QStringLiteral("Form"), QStringLiteral("Top"), -1), 5);
    QCOMPARE(ini.readInteger(QStringLiteral("Other"), QStringLiteral("Top"), -1), 999);
    QCOMPARE(ini.readString(QStringLiteral("Form"), QStringLiteral("Width"), QString()),
             QStringLiteral("\u00E4"));
    QCOMPARE(ini.readString(QStringLiteral("Setup"), QStringLiteral("Port"), QString()),
             QStringLiteral("123"));

    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 42);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Height"), 600);
    ini.writeString(QStringLiteral("Setup"), QStringLiteral("Port"), QStringLiteral("10002"));
    ini.writeBool(QStringLiteral("Setup"), QStringLiteral("Reverse"), false);
    QVERIFY(ini.save());
    QCOMPARE(readAll(path), QByteArray("\xEF\xBB\xBF; written by hand\r\n"
                                       "[Other]\r\n"
                                       "Top=999\r\n"
                                       "\r\n"
                                       "  [ FORM ]  \r\n"
                                       "# a comment=with equals\r\n"
                                       "  tOP=42\r\n"
                                       "just a line\r\n"
                                       "Width=\xC3\xA4\r\n"
                                       "Height=600\r\n"
                                       "\r\n"
                                       "[setup]\r\n"
                                       "port=10002\r\n"
                                       "Reverse=0\r\n"));
}

void TestIniFile::rewrittenKeyIsSpelledByTheRule_data()
{
    QTest::addColumn<IniFile::KeyRewrite>("rule");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("file's spelling")
        << IniFile::KeyRewrite::KeepsFileSpelling << QByteArray("[form]\n  tOP=42\nLeft=1\n");
    QTest::newRow("writer's spelling")
        << IniFile::KeyRewrite::TakesWrittenSpelling << QByteArray("[form]\nTop=42\nLeft=1\n");
}

void TestIniFile::rewrittenKeyIsSpelledByTheRule()
{
    QFETCH(IniFile::KeyRewrite, rule);
    const QString path = m_dir.filePath(QStringLiteral("spelling.ini"));
    writeAll(path, "[form]\n  tOP = 5\nLeft=1\n");
    IniFile ini(path, rule);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 42);
    QVERIFY(ini.save());
    QTEST(readAll(path), "written");
}

void TestIniFile::missingKeyGoesToEndOfItsSection()
{
    const QString path = m_dir.filePath(QStringLiteral("insert.ini"));
    writeAll(path, "[Form]\nTop=1\n\n\n[Setup]\nFont0=3\n");
    IniFile ini(path);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Left"), 2);
    ini.writeInteger(QStringLiteral("Setup"), QStringLiteral("Font1"), 4);
    ini.writeString(QStringLiteral("New"), QStringLiteral("Key"), QStringLiteral("a\r\nb"));
    QVERIFY(ini.save());
    QCOMPARE(
        readAll(path),
        QByteArray("[Form]\nTop=1\nLeft=2\n\n\n[Setup]\nFont0=3\nFont1=4\n\n[New]\nKey=a  b\n"));
}

void TestIniFile::valuesAreTrimmedUnquotedAndCut()
{
    const QString path = m_dir.filePath(QStringLiteral("values.ini"));
    const QByteArray longValue(5000, '7');
    writeAll(path, "[S]\nblanks =  \t 12  \nquoted='  x  '\nhalf=\"x\nequals=a=b\nlong=" +
                       longValue + "\nempty=\n");
    const IniFile ini(path);
    const QString s = QStringLiteral("S");
    QCOMPARE(ini.readInteger(s, QStringLiteral("blanks"), 0), 12);
    QCOMPARE(ini.readString(s, QStringLiteral("quoted"), QString()), QStringLiteral("  x  "));
    QCOMPARE(ini.readString(s, QStringLiteral("half"), QString()), QStringLiteral("\"x"));
    QCOMPARE(ini.readString(s, QStringLiteral("equals"), QString()), QStringLiteral("a=b"));
    QCOMPARE(ini.readString(s, QStringLiteral("long"), QString()), QString(2047, QLatin1Char('7')));
    QCOMPARE(ini.readString(s, QStringLiteral("empty"), QStringLiteral("default")), QString());
    QCOMPARE(ini.readInteger(s, QStringLiteral("empty"), 9), 9);
    QCOMPARE(ini.readString(s, QStringLiteral("missing"), QStringLiteral("default")),
             QStringLiteral("default"));
    QCOMPARE(ini.readBool(s, QStringLiteral("quoted"), true), true);
}

void TestIniFile::firstOfEqualNamesCounts()
{
    const QString path = m_dir.filePath(QStringLiteral("twice.ini"));
    writeAll(path, "[A]\nk=1\nK=2\n[a]\nk=3\n");
    IniFile ini(path);
    QCOMPARE(ini.readInteger(QStringLiteral("a"), QStringLiteral("k"), 0), 1);
    ini.writeInteger(QStringLiteral("A"), QStringLiteral("K"), 9);
    ini.writeInteger(QStringLiteral("A"), QStringLiteral("new"), 8);
    QVERIFY(ini.save());
    QCOMPARE(readAll(path), QByteArray("[A]\nk=9\nK=2\nnew=8\n[a]\nk=3\n"));
}

void TestIniFile::junkReadsAsDefaultsAndStays_data()
{
    QTest::addColumn<QByteArray>("junk");
    QByteArray random(256 * 1024, '\0');
    QRandomGenerator generator(830);
    for (char &byte : random)
        byte = static_cast<char>(generator.bounded(256));
    // No "[" may begin a line, or the junk could name a section by chance.
    for (qsizetype i = 0; i < random.size(); ++i) {
        if (random[i] == '[')
            random[i] = '{';
    }
    QTest::newRow("random bytes") << random;
    QTest::newRow("nul bytes") << QByteArray(10000, '\0');
    QTest::newRow("one huge line") << QByteArray(8 * 1024 * 1024, 'x');
    QTest::newRow("lines without equals") << QByteArray("Form\nTop\nSetup\nFont0 5\n");
    QTest::newRow("section without bracket and CRs")
        << QByteArray("[Setup\rFont0=7\r\r[Form\nTop=3x\n");
    QTest::newRow("keys before any section") << QByteArray("Top=3\nFont0=7\n");
    QTest::newRow("invalid UTF-8") << QByteArray("\xFF\xFE[\xC3]\n\x80=\x81\n");
}

void TestIniFile::junkReadsAsDefaultsAndStays()
{
    QFETCH(QByteArray, junk);
    const QString path = m_dir.filePath(QStringLiteral("junk.ini"));
    writeAll(path, junk);
    IniFile ini(path);
    QCOMPARE(ini.readInteger(QStringLiteral("Form"), QStringLiteral("Top"), -7), -7);
    QCOMPARE(ini.readInteger(QStringLiteral("Setup"), QStringLiteral("Font0"), 5), 5);
    QCOMPARE(ini.readString(QStringLiteral("Setup"), QStringLiteral("Port"), QStringLiteral("d")),
             QStringLiteral("d"));
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 1);
    QVERIFY(ini.save());
    const QByteArray written = readAll(path);
    QVERIFY(written.startsWith(junk));
    QCOMPARE(IniFile(path).readInteger(QStringLiteral("Form"), QStringLiteral("Top"), -7), 1);
}

void TestIniFile::oversizedFileIsNeverOverwritten()
{
    const QString path = m_dir.filePath(QStringLiteral("huge.ini"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("[Form]\nTop=3\n") > 0);
        // Sparse: no disk space is used for the hole.
        QVERIFY(file.resize(IniFile::kMaxFileSize + 1));
    }
    IniFile ini(path);
    QCOMPARE(ini.readInteger(QStringLiteral("Form"), QStringLiteral("Top"), -1), -1);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 4);
    QVERIFY(!ini.save());
    QCOMPARE(QFileInfo(path).size(), IniFile::kMaxFileSize + 1);
    QFile::remove(path);
}

void TestIniFile::fileThatIsAFolderIsNeverOverwritten()
{
    const QString path = m_dir.filePath(QStringLiteral("folder.ini"));
    QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    IniFile ini(path);
    QCOMPARE(ini.readInteger(QStringLiteral("Form"), QStringLiteral("Top"), -1), -1);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 4);
    QVERIFY(!ini.save());
    QVERIFY(QFileInfo(path + QStringLiteral("/inside")).isDir());
}

void TestIniFile::unwritablePathFailsAndLeavesNothing()
{
    // Permission bits do not stop root; a regular file where a folder should be stops everyone.
    const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
    writeAll(blocker, "not a folder");
    IniFile ini(blocker + QStringLiteral("/Vorlak/Vorlak.ini"));
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 1);
    QString why;
    QVERIFY(!ini.save(&why));
    QVERIFY(!why.isEmpty());
    QCOMPARE(readAll(blocker), QByteArray("not a folder"));
}

void TestIniFile::saveReplacesFileWhole()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Vorlak.ini"));
    writeAll(path, "[Form]\nTop=1\n");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    IniFile ini(path);
    ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 2);
    QVERIFY(ini.save());
    QCOMPARE(readAll(path), QByteArray("[Form]\nTop=2\n"));
    // The temporary file was renamed over the old one: nothing else is left in the folder,
    // and the file keeps its permissions.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("Vorlak.ini")});
    QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther),
             QFileDevice::Permissions(QFile::ReadGroup));
}

void TestIniFile::loneCarriageReturnAtTheEnd_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("written");
    // The last line is a section header that ends with CR but no LF.
    QTest::newRow("header of the written section")
        << QByteArray("[Se\nPort=7\n[FoRm\r") << QByteArray("[Se\nPort=7\n[FoRm\r\nTop=5\n");
    QTest::newRow("another section")
        << QByteArray("[Setup]\r") << QByteArray("[Setup]\r\n\n[Form]\nTop=5\n");
    QTest::newRow("a key") << QByteArray("[Form]\r\nTop=1\r") << QByteArray("[Form]\r\nTop=5\r");
}

// What is written reads back: a CR that ends the file is the line end it becomes when a line
// is written after it.
void TestIniFile::loneCarriageReturnAtTheEnd()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, written);
    const QString path = m_dir.filePath(QStringLiteral("cr.ini"));
    writeAll(path, file);
    {
        IniFile ini(path);
        ini.writeInteger(QStringLiteral("Form"), QStringLiteral("Top"), 5);
        QVERIFY(ini.save());
    }
    QCOMPARE(readAll(path), written);
    QCOMPARE(IniFile(path).readInteger(QStringLiteral("Form"), QStringLiteral("Top"), -1), 5);
}

// U+FEFF at the start of a value is a character of the value there, not the file's byte order
// mark: it reads back as written (found by fuzz_inifile, where a port text lost it).
void TestIniFile::valueThatStartsWithAByteOrderMark()
{
    const QString path = m_dir.filePath(QStringLiteral("bom.ini"));
    writeAll(path, QByteArray("\xEF\xBB\xBF[Setup]\nPort=\xEF\xBB\xBF"
                              "10001\n"));
    QCOMPARE(IniFile(path).readString(QStringLiteral("Setup"), QStringLiteral("Port"), QString()),
             QStringLiteral("\uFEFF"
                            "10001"));
    const QString value = QStringLiteral("  \uFEFF x");
    {
        IniFile ini(path);
        ini.writeString(QStringLiteral("Setup"), QStringLiteral("Port"), value);
        QVERIFY(ini.save());
    }
    QCOMPARE(IniFile(path).readString(QStringLiteral("Setup"), QStringLiteral("Port"), QString()),
             QStringLiteral("\uFEFF x"));
    QVERIFY(readAll(path).startsWith("\xEF\xBB\xBF[Setup]\n"));
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
