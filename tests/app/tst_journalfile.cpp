// The journal's file: lines reach it whole and in order, without the GUI thread writing, it is
// renamed to .1 past its size, and only a regular file is taken. Its lines' strings are valid
// JSON whatever the host sent.

#include "journalfile.h"
#include "trafficjournal.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace
{
QList<QByteArray> linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
} // namespace

class TestJournalFile : public QObject
{
    Q_OBJECT
private slots:
    void linesArriveInOrderAndAtClose();
    void rotatesPastItsSize();
    void takesOnlyARegularFile();
    void quotedIsJson_data();
    void quotedIsJson();
};

void TestJournalFile::linesArriveInOrderAndAtClose()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("j.jsonl");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier\n");
    }
    JournalFile journal;
    QString error;
    QVERIFY2(journal.open(path, 1 << 20, &error), qPrintable(error));
    journal.append("one");
    // Written by the writer thread within its flush interval, nobody asking.
    QTRY_COMPARE_WITH_TIMEOUT(linesOf(path), (QList<QByteArray>{"earlier", "one"}),
                              JournalFile::kFlushMs * 20);
    for (int i = 0; i < 1000; ++i)
        journal.append(QByteArray::number(i));
    journal.close();
    const QList<QByteArray> lines = linesOf(path);
    QCOMPARE(lines.size(), 1002);
    QCOMPARE(lines.last(), QByteArray("999"));
    journal.append("after close"); // dropped, not crashed
    QCOMPARE(linesOf(path).size(), 1002);
}

void TestJournalFile::rotatesPastItsSize()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("j.jsonl");
    JournalFile journal;
    QString error;
    QVERIFY(journal.open(path, 100, &error));
    const QByteArray line(29, 'x'); // 30 bytes with its newline
    for (int i = 0; i < 3; ++i)
        journal.append(line);
    QTRY_COMPARE_WITH_TIMEOUT(linesOf(path).size(), 3, JournalFile::kFlushMs * 20);
    for (int i = 0; i < 2; ++i)
        journal.append(line);
    journal.close();
    // The batch that would have passed 100 bytes went into a new file; none was cut.
    QCOMPARE(linesOf(path + ".1").size(), 3);
    QCOMPARE(linesOf(path).size(), 2);
    QCOMPARE(QFileInfo(path).size(), 60);
}

void TestJournalFile::takesOnlyARegularFile()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    JournalFile journal;
    QString error;
    // Nobody reads the FIFO: a blocking open would never return.
    QVERIFY(!journal.open(fifo, 100, &error));
    QVERIFY2(error.startsWith(QStringLiteral("not a regular file")), qPrintable(error));
    QVERIFY(!journal.open(dir.path(), 100, &error));
    QVERIFY(!journal.isOpen());
}

void TestJournalFile::quotedIsJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QStringLiteral("#431#5");
    QTest::newRow("quote and backslash") << QStringLiteral("a\"b\\c");
    QTest::newRow("control characters") << QString::fromLatin1("\x01\x02\n\t\x1f");
    QTest::newRow("code page letters") << QStringLiteral("Ä€ß");
    QTest::newRow("empty") << QString();
}

void TestJournalFile::quotedIsJson()
{
    QFETCH(QString, text);
    const QByteArray line = "[" + TrafficJournal::quoted(text) + "]";
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.array().at(0).toString(), text);
    QVERIFY(!line.contains('\n'));
}

QTEST_GUILESS_MAIN(TestJournalFile)
#include "tst_journalfile.moc"
