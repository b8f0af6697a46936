// The status table: every row's exact reply bytes and display text, and its precedence. Each
// row is tried with its own condition and every condition below it set, so a row that is
// checked too late or too early gives the wrong answer.

#include "emulatorstate.h"
#include "statustable.h"

#include <QTest>

namespace
{
// The conditions in order of precedence.
enum Condition {
    Paused,
    InReset,
    Busy,
    PoweredOn,
    FeederEmpty,
    CardMisfeed,
    YMotorError,
    XMotorError,
    NoCondition
};

void setFrom(int first, EmulatorState &state, FaultSwitches &faults)
{
    state = {};
    state.PoweredOn = false;
    faults = {};
    for (int c = first; c < NoCondition; ++c) {
        switch (c) {
        case Paused:
            state.Paused = true;
            break;
        case InReset:
            state.InReset = true;
            break;
        case Busy:
            state.Busy = true;
            break;
        case PoweredOn:
            state.PoweredOn = true;
            break;
        case FeederEmpty:
            faults.feederEmpty = true;
            break;
        case CardMisfeed:
            faults.cardMisfeed = true;
            break;
        case YMotorError:
            faults.yMotorError = true;
            break;
        case XMotorError:
            faults.xMotorError = true;
            break;
        }
    }
}
} // namespace

class TestStatusTable : public QObject
{
    Q_OBJECT
private slots:
    void rowsInOrderOfPrecedence_data();
    void rowsInOrderOfPrecedence();
};

void TestStatusTable::rowsInOrderOfPrecedence_data()
{
    QTest::addColumn<int>("condition");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("display");
    QTest::newRow("paused") << int(Paused) << QByteArray("\x06W") << "PAUSE";
    QTest::newRow("in reset") << int(InReset) << QByteArray("\x06R") << "IN RESET";
    QTest::newRow("busy") << int(Busy)
                          << QByteArray("\x06"
                                        "2")
                          << "BUSY";
    QTest::newRow("powered on") << int(PoweredOn) << QByteArray("\x06P") << "POWERED ON";
    QTest::newRow("feeder empty") << int(FeederEmpty)
                                  << QByteArray("\x06"
                                                "3\x02"
                                                "E82        FEEDER EMPTY\x03")
                                  << "FEEDER EMPTY";
    QTest::newRow("card misfeed") << int(CardMisfeed)
                                  << QByteArray("\x06"
                                                "3\x02"
                                                "E00005E74  CARD MISFEED\x03")
                                  << "CARD MISSFEED";
    QTest::newRow("y motor") << int(YMotorError)
                             << QByteArray("\x06"
                                           "5\x02"
                                           "E00053E71  Y MOTOR EMBOSS ERROR\x03")
                             << "Y MOTOR EMBOSS ERROR";
    QTest::newRow("x motor") << int(XMotorError)
                             << QByteArray("\x06"
                                           "3\x02"
                                           "E79        X MOTOR MOV ERROR\x03")
                             << "X MOTOR MOV ERROR";
    QTest::newRow("ready") << int(NoCondition)
                           << QByteArray("\x06"
                                         "1")
                           << "READY";
}

void TestStatusTable::rowsInOrderOfPrecedence()
{
    QFETCH(int, condition);
    QFETCH(QByteArray, reply);
    QFETCH(QString, display);
    EmulatorState state;
    FaultSwitches faults;
    setFrom(condition, state, faults);
    const StatusRow row = currentStatus(state, faults);
    QCOMPARE(row.reply.toLatin1(), reply);
    QCOMPARE(row.displayText, display);
}

QTEST_GUILESS_MAIN(TestStatusTable)
#include "tst_statustable.moc"
