// The pumped wait: right length across a wrap of the 32-bit tick counter, nothing for times of
// zero or less, events served while it waits, and the speed seam.

#include "machineclock.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class TestMachineClock : public QObject
{
    Q_OBJECT
private slots:
    void waitsAcrossTickWrap_data();
    void waitsAcrossTickWrap();
    void zeroOrNegativeProcessesNothing();
    void servesEventsWhileWaiting();
    void speedDividesTheWait();
    void waitShrunkToNothingStillServesEvents();
};

void TestMachineClock::waitsAcrossTickWrap_data()
{
    QTest::addColumn<uint32_t>("offset");
    QTest::newRow("wraps after 50 ms") << uint32_t(0xFFFFFFFFu - 50);
    QTest::newRow("wraps at once") << uint32_t(0xFFFFFFFFu);
    QTest::newRow("no wrap") << uint32_t(1000);
}

void TestMachineClock::waitsAcrossTickWrap()
{
    QFETCH(uint32_t, offset);
    QElapsedTimer real;
    real.start();
    MachineClock clock;
    clock.setTickSource([&] { return static_cast<uint32_t>(real.elapsed()) + offset; });
    QElapsedTimer measured;
    measured.start();
    clock.PumpedDelay(200);
    const qint64 took = measured.elapsed();
    // A wrong wrap treatment either returns at once or waits about 49 days.
    QVERIFY2(took >= 200 && took < 2000, qPrintable(QString::number(took)));
}

void TestMachineClock::zeroOrNegativeProcessesNothing()
{
    MachineClock clock;
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    clock.PumpedDelay(0);
    clock.PumpedDelay(-5);
    QVERIFY(!ran);
    QTRY_VERIFY(ran);
}

void TestMachineClock::servesEventsWhileWaiting()
{
    MachineClock clock;
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    clock.PumpedDelay(150);
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
}

void TestMachineClock::speedDividesTheWait()
{
    MachineClock clock;
    clock.setSpeed(20);
    QCOMPARE(clock.scaledWait(2000), int64_t(100));
    QElapsedTimer measured;
    measured.start();
    clock.PumpedDelay(2000);
    QVERIFY(measured.elapsed() >= 100 && measured.elapsed() < 1500);
    clock.setSpeed(0); // refused: a wait can never become endless or negative
    QCOMPARE(clock.speed(), 20.0);
}

void TestMachineClock::waitShrunkToNothingStillServesEvents()
{
    // A paused job waits in rounds of 500 ms until an event (the Pause button) ends the pause;
    // at a speed that shrinks those rounds to nothing, the loop would spin without ever
    // serving that event.
    MachineClock clock;
    clock.setSpeed(1e9);
    QCOMPARE(clock.scaledWait(500), int64_t(0));
    bool paused = true;
    QTimer::singleShot(0, [&] { paused = false; });
    int rounds = 0;
    while (paused && rounds < 1000) {
        clock.PumpedDelay(500);
        ++rounds;
    }
    QVERIFY(!paused);
}

QTEST_GUILESS_MAIN(TestMachineClock)
#include "tst_machineclock.moc"
