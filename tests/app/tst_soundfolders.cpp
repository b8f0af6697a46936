#include "soundfolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Where an installed or a freshly built program finds its sound files.
class tst_SoundFolders : public QObject
{
    Q_OBJECT

private:
    static void touch(const QString &path)
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    void installedDataFolderComesAfterTheProgramFolder()
    {
        const QStringList folders = soundFolders(QStringLiteral("/opt/rig/bin/"));
        QCOMPARE(folders, (QStringList{"/opt/rig/bin/", "/opt/rig/share/vorlak/"}));
        QCOMPARE(soundFolders(QStringLiteral("/usr/bin")),
                 (QStringList{"/usr/bin/", "/usr/share/vorlak/"}));
    }

    void findsEachFileInTheFirstFolderThatHasIt_data()
    {
        QTest::addColumn<QStringList>("files"); // relative to the prefix
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("found"); // relative to the prefix; empty: none

        QTest::newRow("beside the program") << QStringList{"bin/Emboss.wav"} << "Emboss.wav"
                                            << "bin/Emboss.wav";
        QTest::newRow("installed only") << QStringList{"share/vorlak/Emboss.wav"} << "Emboss.wav"
                                        << "share/vorlak/Emboss.wav";
        QTest::newRow("both: the program's folder wins")
            << QStringList{"bin/reset.wav", "share/vorlak/reset.wav"} << "reset.wav"
            << "bin/reset.wav";
        QTest::newRow("other case, installed")
            << QStringList{"share/vorlak/reset.wav"} << "Reset.wav"
            << "share/vorlak/reset.wav";
        QTest::newRow("other case beside the program before the exact name installed")
            << QStringList{"bin/reset.wav", "share/vorlak/Reset.wav"} << "Reset.wav"
            << "bin/reset.wav";
        QTest::newRow("nowhere") << QStringList{"share/Emboss.wav", "bin/vorlak/Emboss.wav"}
                                 << "Emboss.wav" << QString();
    }

    void findsEachFileInTheFirstFolderThatHasIt()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, wanted);
        QFETCH(QString, found);
        QTemporaryDir prefix;
        QVERIFY(prefix.isValid());
        for (const QString &file : files)
            touch(prefix.filePath(file));
        const QStringList folders = soundFolders(prefix.filePath(QStringLiteral("bin")));
        const QString expected = found.isEmpty() ? QString() : prefix.filePath(found);
        QCOMPARE(findSoundFile(folders, wanted), expected);
    }

    void reportsTheFilesNoFolderHolds()
    {
        QTemporaryDir prefix;
        QVERIFY(prefix.isValid());
        const QStringList folders = soundFolders(prefix.filePath(QStringLiteral("bin")));
        QCOMPARE(missingSoundFiles(folders), (QStringList{"reset.wav", "Emboss.wav", "Reset.wav"}));
        touch(prefix.filePath(QStringLiteral("share/vorlak/reset.wav")));
        QCOMPARE(missingSoundFiles(folders), QStringList{"Emboss.wav"});
        touch(prefix.filePath(QStringLiteral("bin/Emboss.wav")));
        QCOMPARE(missingSoundFiles(folders), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_SoundFolders)
#include "tst_soundfolders.moc"
