// The machine as a host sees it over a real TCP connection: status replies byte for byte, the
// display texts, the operator's buttons and their sequences, and request framing.

#include "simulatorharness.h"
#include "hostmessages.h"
#include "widgetpictures.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>

namespace
{
const QByteArray kFeederEmpty("\x06"
                              "3\x02"
                              "E82        FEEDER EMPTY\x03");
const QByteArray kCardMisfeed("\x06"
                              "3\x02"
                              "E00005E74  CARD MISFEED\x03");
const QByteArray kYMotor("\x06"
                         "5\x02"
                         "E00053E71  Y MOTOR EMBOSS ERROR\x03");
const QByteArray kXMotor("\x06"
                         "3\x02"
                         "E79        X MOTOR MOV ERROR\x03");
} // namespace

class TestHostProtocol : public QObject
{
    Q_OBJECT
private slots:
    void freshStartAnswersPoweredOn();
    void clearRunsResetSequenceThenReady();
    void resetWhilePoweredOnChangesNothingButHostRequestClearsPause();
    void pauseOutranksFaults();
    void faultReplies_data();
    void faultReplies();
    void pollSplitOverTwoChunksIsAnsweredOnce();
    void strayBytesBeforePollAreDiscarded();
    void resetRequestWithExtraBytesIsNoReset();
    void completeMessageIsAcknowledged();
    void olderHostGetsRepliesUntilItCloses();
    void resetConnectionPassesRepliesToNextHost();
    void panel1TogglesOnEveryDispatchUntilCloseQuery();
    void portInUseReportsBindAndProgramRuns();
    void pollDuringHostResetSequenceAnswersInReset();
    void unfinishedInputWaitsForMore();
    void displayRedrawsOnlyNewTexts();
};

void TestHostProtocol::freshStartAnswersPoweredOn()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QVERIFY(host.connected);
    QCOMPARE(host.poll(), ackReply('P'));
    QCOMPARE(sim.display(), QStringLiteral("POWERED ON"));
    QTRY_COMPARE(sim.panel(0), QStringLiteral("Host connected"));
    QVERIFY(sim.panel(2).endsWith(QStringLiteral(":0")));
}

void TestHostProtocol::clearRunsResetSequenceThenReady()
{
    Simulator sim(10); // the 2-second sequence lasts 200 ms
    sim.start();
    HostClient host(sim.port());
    // The sequence runs nested in the test's own wait, so what happens during it is looked at
    // from timers that fire inside it.
    bool inResetDuring = false;
    QString displayDuring;
    QTimer::singleShot(0, sim.window->btnClear, &QPushButton::click);
    QTimer::singleShot(60, [&] {
        inResetDuring = sim.state().InReset;
        displayDuring = sim.display();
        host.send(kPoll);
    });
    QCOMPARE(host.read(2), ackReply('R'));
    QVERIFY(inResetDuring);
    QCOMPARE(displayDuring, QStringLiteral("IN RESET"));
    QCOMPARE(sim.sound.played, QStringList{QStringLiteral("reset.wav")});
    QTRY_VERIFY_WITH_TIMEOUT(!sim.state().InReset, 3000);
    QCOMPARE(sim.display(), QStringLiteral("READY"));
    QCOMPARE(host.poll(), ackReply('1'));
    QCOMPARE(sim.display(), QStringLiteral("READY"));
    QVERIFY(!sim.state().PoweredOn);
}

void TestHostProtocol::resetWhilePoweredOnChangesNothingButHostRequestClearsPause()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.window->btnPause->click();
    sim.window->btnReset->click();
    QVERIFY(sim.state().Paused);
    QVERIFY(!sim.state().InReset);
    QVERIFY(sim.sound.played.isEmpty());
    QCOMPARE(host.poll(), ackReply('W'));
    QCOMPARE(sim.display(), QStringLiteral("PAUSE"));

    host.send(kResetRequest);
    QTRY_VERIFY(!sim.state().Paused);
    QVERIFY(sim.sound.played.isEmpty());      // powered on: no reset sequence
    QCOMPARE(host.readFor(50), QByteArray()); // no reply to a reset request
    QCOMPARE(host.poll(), ackReply('P'));
}

void TestHostProtocol::pauseOutranksFaults()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.clearToReady();
    sim.window->cbFeederEmpty->setChecked(true);
    sim.window->btnPause->click();
    QCOMPARE(host.poll(), ackReply('W'));
    QCOMPARE(sim.display(), QStringLiteral("PAUSE"));
    sim.window->btnPause->click();
    QCOMPARE(host.poll(kFeederEmpty.size()), kFeederEmpty);
}

void TestHostProtocol::faultReplies_data()
{
    QTest::addColumn<int>("checked"); // bit 0 feeder, 1 misfeed, 2 Y motor, 3 X motor
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("display");
    QTest::newRow("feeder empty") << 1 << kFeederEmpty << "FEEDER EMPTY";
    QTest::newRow("card misfeed") << 2 << kCardMisfeed << "CARD MISSFEED";
    QTest::newRow("y motor") << 4 << kYMotor << "Y MOTOR EMBOSS ERROR";
    QTest::newRow("x motor") << 8 << kXMotor << "X MOTOR MOV ERROR";
    QTest::newRow("misfeed over x motor") << (2 | 8) << kCardMisfeed << "CARD MISSFEED";
    QTest::newRow("feeder over all") << 15 << kFeederEmpty << "FEEDER EMPTY";
    QTest::newRow("y over x") << (4 | 8) << kYMotor << "Y MOTOR EMBOSS ERROR";
    QTest::newRow("none") << 0 << ackReply('1') << "READY";
}

void TestHostProtocol::faultReplies()
{
    QFETCH(int, checked);
    QFETCH(QByteArray, reply);
    QFETCH(QString, display);
    QCOMPARE(kFeederEmpty.size(), 27);
    QCOMPARE(kCardMisfeed.size(), 27);
    QCOMPARE(kYMotor.size(), 35);
    QCOMPARE(kXMotor.size(), 32);

    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.window->cbFeederEmpty->setChecked(checked & 1);
    sim.window->cbCardMisfeed->setChecked(checked & 2);
    sim.window->cbYMotorError->setChecked(checked & 4);
    sim.window->cbXMotorError->setChecked(checked & 8);
    // Powered on outranks every fault until the operator clears the machine.
    QCOMPARE(host.poll(), ackReply('P'));
    sim.clearToReady();
    QCOMPARE(host.poll(reply.size()), reply);
    QCOMPARE(sim.display(), display);
    QCOMPARE(host.readFor(20), QByteArray()); // nothing beyond the reply
}

void TestHostProtocol::pollSplitOverTwoChunksIsAnsweredOnce()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    host.send("\x04"
              "3");
    QCOMPARE(host.readFor(50), QByteArray());
    host.send("1\x05");
    QCOMPARE(host.read(2), ackReply('P'));
    QCOMPARE(host.readFor(50), QByteArray());
}

void TestHostProtocol::strayBytesBeforePollAreDiscarded()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    host.send("abc" + kPoll);
    QCOMPARE(host.read(2), ackReply('P'));
    QTRY_VERIFY(sim.machine().ReceiveBuffer().isEmpty());
}

void TestHostProtocol::resetRequestWithExtraBytesIsNoReset()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    sim.clearToReady();
    sim.sound.played.clear();
    host.send(kResetRequest + "x");
    QCOMPARE(host.readFor(50), QByteArray());
    QVERIFY(!sim.state().InReset);
    QVERIFY(sim.sound.played.isEmpty());
    // A poll among it is answered as a poll, and the rest goes with it.
    host.send(kPoll);
    QCOMPARE(host.read(2), ackReply('1'));
    QVERIFY(sim.sound.played.isEmpty());
}

void TestHostProtocol::completeMessageIsAcknowledged()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    host.send("\x01"
              "31\x02"
              "X]00 whatever\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    QCOMPARE(sim.display(), QStringLiteral("BUSY"));
    QTRY_VERIFY(sim.machine().ReceiveBuffer().isEmpty());
    QCOMPARE(host.poll(), ackReply('P'));
}

void TestHostProtocol::olderHostGetsRepliesUntilItCloses()
{
    Simulator sim;
    sim.start();
    HostClient first(sim.port());
    HostClient second(sim.port());
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 2);
    second.send(kPoll);
    QCOMPARE(first.read(2), ackReply('P'));
    QCOMPARE(second.readFor(30), QByteArray());

    first.socket.disconnectFromHost();
    QTRY_COMPARE(sim.panel(0), QStringLiteral("Waiting"));
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    second.send(kPoll);
    QCOMPARE(second.read(2), ackReply('P'));
}

void TestHostProtocol::resetConnectionPassesRepliesToNextHost()
{
    Simulator sim;
    sim.start();
    HostClient first(sim.port());
    HostClient second(sim.port());
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 2);
    first.socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // An abort with unread data pending makes the kernel send RST.
    first.send(kPoll);
    QTRY_VERIFY(sim.panel(1) == QStringLiteral("SEL"));
    first.socket.abort();
    QTRY_COMPARE(sim.window->ServerSocket().connectionCount(), 1);
    QCOMPARE(sim.panel(0), QStringLiteral("Waiting"));
    second.send(kPoll);
    QCOMPARE(second.read(2), ackReply('P'));
}

void TestHostProtocol::panel1TogglesOnEveryDispatchUntilCloseQuery()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QCOMPARE(sim.panel(1), QString());
    host.send("x");
    QTRY_COMPARE(sim.panel(1), QStringLiteral("SEL"));
    host.send("y");
    QTRY_COMPARE(sim.panel(1), QString());
    host.send(kPoll);
    QCOMPARE(host.read(2), ackReply('P'));
    QCOMPARE(sim.panel(1), QStringLiteral("SEL"));
    // After a complete message the panel shows "SEL": emptied, then toggled.
    host.send("\x01"
              "31\x02"
              "?\x03");
    QCOMPARE(host.read(2), ackReply('2'));
    QTRY_COMPARE(sim.panel(1), QStringLiteral("SEL"));

    sim.window->close();
    QVERIFY(sim.state().Closing);
    sim.machine().DispatchReceived();
    QCOMPARE(sim.panel(1), QStringLiteral("SEL"));
}

void TestHostProtocol::portInUseReportsBindAndProgramRuns()
{
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
    Simulator sim;
    sim.window->frmSetup().ePort->setText(QString::number(blocker.serverPort()));
    sim.start();
    QTRY_COMPARE(sim.errors.messages.size(), 1);
    QVERIFY2(sim.errors.messages[0].startsWith(QStringLiteral("Windows-Socket-Fehler: ")),
             qPrintable(sim.errors.messages[0]));
    // The message ends in "'", before "." in code order, so no full stop is added.
    QVERIFY(sim.errors.messages[0].endsWith(QStringLiteral("(98), bei API 'bind'")));
    QCOMPARE(sim.panel(2), QString());
    QVERIFY(!sim.window->ServerSocket().active());
    // The program goes on: the operator's buttons still work.
    sim.clearToReady();
    QCOMPARE(sim.display(), QStringLiteral("READY"));
}

void TestHostProtocol::pollDuringHostResetSequenceAnswersInReset()
{
    Simulator sim(10);
    sim.start();
    HostClient host(sim.port());
    sim.clearToReady();
    sim.window->btnPause->click();
    host.send(kResetRequest);
    // Sent on the same connection while the reset sequence runs.
    QTimer::singleShot(80, [&] { host.send(kPoll); });
    QCOMPARE(host.read(2), ackReply('R'));
    QVERIFY(!sim.state().Paused);
    QTRY_VERIFY_WITH_TIMEOUT(!sim.state().InReset, 3000);
    QCOMPARE(host.poll(), ackReply('1'));
}

void TestHostProtocol::unfinishedInputWaitsForMore()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    host.send("\x01"
              "31\x02"
              "T]00 half a message");
    QCOMPARE(host.readFor(50), QByteArray());
    QCOMPARE(sim.machine().ReceiveBuffer().size(), 23);
    host.send("@12345\x03");
    QCOMPARE(host.read(2), ackReply('2'));
}

// A poll sets the display text; one that leaves it as it is redraws nothing (the display
// already shows it), one that changes it redraws the display.
void TestHostProtocol::displayRedrawsOnlyNewTexts()
{
    Simulator sim;
    sim.start();
    HostClient host(sim.port());
    QTest::qWait(50);
    EventCounter counter(sim.window->LCDScreen);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(host.poll(), ackReply('P'));
    QCOMPARE(counter.count, 0);
    sim.machine().btnPauseClick();
    QCOMPARE(host.poll(), ackReply('W'));
    QCOMPARE(sim.display(), QStringLiteral("PAUSE"));
    QCOMPARE(counter.count, 1);
    QCOMPARE(host.poll(), ackReply('W'));
    QCOMPARE(counter.count, 1);
}

VORLAK_TEST_MAIN(TestHostProtocol)
#include "tst_hostprotocol.moc"
