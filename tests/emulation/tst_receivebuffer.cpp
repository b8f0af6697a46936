// The poll search remembers how far it looked; a poll that straddles chunks, or that arrives
// after the buffer was emptied, must still be found.

#include "receivebuffer.h"

#include <QTest>

namespace
{
const QString kPoll = QStringLiteral("\x04"
                                     "31\x05");
}

class TestReceiveBuffer : public QObject
{
    Q_OBJECT
private slots:
    void pollAcrossChunks_data();
    void pollAcrossChunks();
    void clearForgetsWhatWasScanned();
    void endlessStreamKeepsTheNewestInput();
};

void TestReceiveBuffer::pollAcrossChunks_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QList<bool>>("found");
    QTest::newRow("whole") << QStringList{kPoll} << QList<bool>{true};
    QTest::newRow("split 1+3") << QStringList{kPoll.left(1), kPoll.mid(1)}
                               << QList<bool>{false, true};
    QTest::newRow("split 3+1") << QStringList{kPoll.left(3), kPoll.mid(3)}
                               << QList<bool>{false, true};
    QTest::newRow("byte by byte") << QStringList{kPoll.mid(0, 1), kPoll.mid(1, 1), kPoll.mid(2, 1),
                                                 kPoll.mid(3, 1)}
                                  << QList<bool>{false, false, false, true};
    QTest::newRow("after junk") << QStringList{QStringLiteral("junk junk"), kPoll}
                                << QList<bool>{false, true};
    QTest::newRow("false start") << QStringList{QStringLiteral("\x04"
                                                               "3"),
                                                QStringLiteral("\x04"
                                                               "31\x05")}
                                 << QList<bool>{false, true};
}

void TestReceiveBuffer::pollAcrossChunks()
{
    QFETCH(QStringList, chunks);
    QFETCH(QList<bool>, found);
    ReceiveBuffer buffer;
    for (int i = 0; i < chunks.size(); ++i) {
        buffer.append(chunks[i]);
        QCOMPARE(buffer.containsPoll(), found[i]);
    }
}

void TestReceiveBuffer::clearForgetsWhatWasScanned()
{
    ReceiveBuffer buffer;
    buffer.append(QString(100, QLatin1Char('x')));
    QVERIFY(!buffer.containsPoll());
    buffer.clear();
    buffer.append(kPoll + QString(200, QLatin1Char('y')));
    QVERIFY(buffer.containsPoll());
}

void TestReceiveBuffer::endlessStreamKeepsTheNewestInput()
{
    ReceiveBuffer buffer(1000);
    for (int i = 0; i < 50; ++i) {
        buffer.append(QString(300, QLatin1Char('a' + i % 26)));
        QVERIFY(buffer.size() <= 1000);
        QVERIFY(!buffer.containsPoll());
    }
    // What came last is kept whole; a poll it completes is found.
    QCOMPARE(buffer.text().right(300), QString(300, QLatin1Char('a' + 49 % 26)));
    buffer.append(kPoll.left(2));
    QVERIFY(!buffer.containsPoll());
    buffer.append(QString(900, QLatin1Char('z')));
    buffer.append(kPoll.mid(2));
    QVERIFY(!buffer.containsPoll()); // the poll's start went with the oldest characters
    buffer.append(kPoll);
    QVERIFY(buffer.containsPoll());
    QVERIFY(buffer.text().endsWith(kPoll));
    // A request longer than the limit loses its start.
    buffer.clear();
    buffer.append(QStringLiteral("HEAD") + QString(1200, QLatin1Char('b')));
    QVERIFY(!buffer.text().startsWith(QStringLiteral("HEAD")));
    QCOMPARE(buffer.size(), 500);
}

QTEST_GUILESS_MAIN(TestReceiveBuffer)
#include "tst_receivebuffer.moc"
