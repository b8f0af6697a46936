// The machine's receive entry and its bound on nested messages, driven without a window: a
// stand-in interpreter plays a running job that receives more messages while it runs.

#include "machine.h"
#include "protocol.h"
#include "standinpanel.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace
{

QString message(int number)
{
    return QStringLiteral("\x01"
                          "31\x02"
                          "T]00%1@12345\x03")
        .arg(number);
}

// Each message it decodes is a job during which the host sends all it still has to send.
class NestingInterpreter : public MessageInterpreter
{
public:
    explicit NestingInterpreter(Machine &machine) : m_machine(machine) {}
    void InterpretMessage(const QString &text) override
    {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        decoded.append(text);
        while (toSend > 0) {
            --toSend;
            m_machine.receive(message(++sent));
        }
        --depth;
    }
    int toSend = 0;
    int sent = 0;
    int depth = 0;
    int maxDepth = 0;
    QStringList decoded;

private:
    Machine &m_machine;
};

} // namespace

class TestMachineReceive : public QObject
{
    Q_OBJECT
private slots:
    void nestedMessagesAreBounded_data();
    void nestedMessagesAreBounded();
};

void TestMachineReceive::nestedMessagesAreBounded_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("decoded");
    QTest::newRow("within the depth") << Machine::kMaxMessageDepth << Machine::kMaxMessageDepth;
    const int deepAndWaiting = Machine::kMaxMessageDepth + int(Machine::kMaxWaitingMessages);
    QTest::newRow("up to the waiting bound") << deepAndWaiting << deepAndWaiting;
    QTest::newRow("a flood") << 8000 << deepAndWaiting;
}

// Every message is acknowledged; they nest up to the depth, the next wait in order for the
// innermost to return, and the rest are dropped with one report.
void TestMachineReceive::nestedMessagesAreBounded()
{
    QFETCH(int, messages);
    QFETCH(int, decoded);
    RecordingSound sound;
    Machine machine(sound, QString());
    StandInPanel panel(machine);
    RecordingLink link;
    machine.addLink(&link);
    NestingInterpreter interpreter(machine);
    machine.setInterpreter(&interpreter);
    QSignalSpy dropped(&machine, &Machine::messageDropped);

    interpreter.toSend = messages - 1;
    interpreter.sent = 1;
    machine.receive(message(1));

    QCOMPARE(link.replies.size(), messages);
    QVERIFY(std::all_of(link.replies.begin(), link.replies.end(),
                        [](const QString &r) { return r == Protocol::ack('2'); }));
    QCOMPARE(interpreter.maxDepth, std::min(messages, int(Machine::kMaxMessageDepth)));
    QCOMPARE(interpreter.decoded.size(), decoded);
    for (int i = 0; i < decoded; ++i)
        QCOMPARE(interpreter.decoded.at(i), message(i + 1));
    QCOMPARE(dropped.size(), messages > decoded ? 1 : 0);
    QCOMPARE(panel.received.size(), messages);
    QVERIFY(!machine.longActionRunning());
}

QTEST_GUILESS_MAIN(TestMachineReceive)
#include "tst_machinereceive.moc"
