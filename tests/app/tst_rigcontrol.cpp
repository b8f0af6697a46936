// The control port against a careless or hostile rig: errors are listed and boxes never
// stack, files go only into the export folder and only as regular files, requests are read
// strictly, and no connection can make the program's memory grow without end.

#include "cardpanel.h"
#include "controlrequest.h"
#include "controlserver.h"
#include "errorreporter.h"
#include "simulatorharness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

struct Rig {
    explicit Rig(double speed = 20) : sim(speed), control(*sim.window)
    {
        sim.start();
        ok = control.listen(0);
    }
    Simulator sim;
    ControlServer control;
    bool ok = false;
};

class ControlClient
{
public:
    explicit ControlClient(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        connected = socket.waitForConnected(3000);
    }
    QJsonObject request(const QByteArray &line, int timeoutMs = 5000)
    {
        socket.write(line + '\n');
        (void)QTest::qWaitFor([&] { return socket.canReadLine(); }, timeoutMs);
        return QJsonDocument::fromJson(socket.readLine()).object();
    }
    QJsonObject request(const QJsonObject &object, int timeoutMs = 5000)
    {
        return request(QJsonDocument(object).toJson(QJsonDocument::Compact), timeoutMs);
    }
    QTcpSocket socket;
    bool connected = false;
};

QJsonObject cmd(const char *name)
{
    return {{QStringLiteral("cmd"), QString::fromLatin1(name)}};
}

int openMessageBoxes()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += qobject_cast<QMessageBox *>(widget) && widget->isVisible() ? 1 : 0;
    return count;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestRigControl : public QObject
{
    Q_OBJECT
private slots:
    void windowedErrorsOpenOneBoxAtATime();
    void saveCardRefusesWhatIsNoPlainFileInTheFolder_data();
    void saveCardRefusesWhatIsNoPlainFileInTheFolder();
    void saveCardWritesBelowTheExportFolder();
    void duplicatedKeysAreRefused_data();
    void duplicatedKeysAreRefused();
    void requestsQueuedBehindAWaitAreBounded();
    void aWaitThatEndedEarlyLeavesOthersWaiting_data();
    void aWaitThatEndedEarlyLeavesOthersWaiting();
    void repliesNobodyReadsAreBounded();
    void plantedSettingsLinkIsNotFollowed();
};

void TestRigControl::windowedErrorsOpenOneBoxAtATime()
{
    Rig rig;
    ControlClient control(rig.control.port());
    // The real reporter, as with a window: no recorder, and not headless.
    StandardErrorBox::setHandler({});
    auto &reporter = qobject_cast<VorlakApplication *>(qApp)->errorReporter();
    reporter.clear();
    reporter.setHeadless(false);
    const auto restore = qScopeGuard([&] {
        reporter.dismissBox();
        reporter.setHeadless(true);
        reporter.clear();
    });
    StandardErrorBox::show(QStringLiteral("first failure"));
    StandardErrorBox::show(QStringLiteral("second failure"));
    // show() returned both times: nothing waits for the box.
    QCOMPARE(openMessageBoxes(), 1);
    QJsonObject state = control.request(cmd("state"));
    QCOMPARE(state.value("errors").toInt(), 2);
    QCOMPARE(state.value("error_box").toString(), QStringLiteral("first failure."));
    const QJsonArray listed = control.request(cmd("errors")).value("errors").toArray();
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed.at(1).toObject().value("text").toString(), QStringLiteral("second failure."));

    const QJsonObject dismissed = control.request(cmd("dismiss_error"));
    QCOMPARE(dismissed.value("dismissed"), QJsonValue(true));
    QCOMPARE(dismissed.value("text").toString(), QStringLiteral("first failure."));
    QTRY_COMPARE(openMessageBoxes(), 0);
    state = control.request(cmd("state"));
    QCOMPARE(state.value("error_box"), QJsonValue(QJsonValue::Null));
    QCOMPARE(control.request(cmd("dismiss_error")).value("dismissed"), QJsonValue(false));
    // The next failure opens a box again.
    StandardErrorBox::show(QStringLiteral("third failure"));
    QCOMPARE(openMessageBoxes(), 1);
    QCOMPARE(control.request(cmd("state")).value("errors").toInt(), 3);
}

void TestRigControl::saveCardRefusesWhatIsNoPlainFileInTheFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to a file outside") << "link";
    QTest::newRow("folder") << "folder";
    QTest::newRow("absolute path outside") << "outside";
    QTest::newRow("dot-dot out of the folder") << "dotdot";
    QTest::newRow("linked folder pointing outside") << "linkedfolder";
    QTest::newRow("hard link to a file outside") << "hardlink";
    QTest::newRow("missing folder") << "missing";
}

void TestRigControl::saveCardRefusesWhatIsNoPlainFileInTheFolder()
{
    QFETCH(QString, kind);
    Rig rig;
    ControlClient control(rig.control.port());
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    QVERIFY(writeFile(victim, "keep me"));
    const QString folder = rig.sim.window->DataFolder();
    QString path = folder + QStringLiteral("card.png");
    std::atomic<bool> stop{false};
    std::thread rescuer;
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        // Should the open block, a reader after two seconds lets the test go on (and fail).
        rescuer = std::thread([&stop, fifo = QFile::encodeName(path)] {
            for (int i = 0; i < 200 && !stop; ++i)
                ::usleep(10000);
            if (stop)
                return;
            const int fd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
            char buffer[4096];
            for (int i = 0; i < 100; ++i) {
                while (::read(fd, buffer, sizeof buffer) > 0) {
                }
                ::usleep(10000);
            }
            ::close(fd);
        });
    } else if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(victim, path));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(folder).mkdir(QStringLiteral("card.png")));
    } else if (kind == QLatin1String("outside")) {
        path = victim;
    } else if (kind == QLatin1String("dotdot")) {
        path = QDir(folder).relativeFilePath(victim); // "../<elsewhere>/victim"
        QVERIFY(path.startsWith(QLatin1String("../")));
    } else if (kind == QLatin1String("linkedfolder")) {
        QVERIFY(QFile::link(elsewhere.path(), folder + QStringLiteral("out")));
        path = folder + QStringLiteral("out/victim");
    } else if (kind == QLatin1String("hardlink")) {
        path = folder + QStringLiteral("victim");
        QCOMPARE(::link(QFile::encodeName(victim).constData(), QFile::encodeName(path).constData()),
                 0);
    } else if (kind == QLatin1String("missing")) {
        path = folder + QStringLiteral("no/such/card.png");
    }
    QElapsedTimer timer;
    timer.start();
    const QJsonObject reply = control.request({{"cmd", "save_card"}, {"path", path}});
    const qint64 elapsed = timer.elapsed();
    stop = true;
    if (rescuer.joinable())
        rescuer.join();
    QCOMPARE(reply.value("ok"), QJsonValue(false));
    QVERIFY(!reply.value("error").toString().isEmpty());
    QVERIFY2(elapsed < 100, qPrintable(QStringLiteral("answered after %1 ms").arg(elapsed)));
    QCOMPARE(readFile(victim), QByteArray("keep me"));
    // The program goes on.
    QCOMPARE(control.request(cmd("state")).value("ok"), QJsonValue(true));
}

void TestRigControl::saveCardWritesBelowTheExportFolder()
{
    Rig rig;
    ControlClient control(rig.control.port());
    QTemporaryDir exports;
    QVERIFY(QDir(exports.path()).mkdir(QStringLiteral("cards")));
    rig.control.setExportFolder(exports.path());
    // A relative path counts from the export folder; an existing file is replaced.
    QVERIFY(writeFile(exports.filePath(QStringLiteral("cards/one.png")), QByteArray(100000, 'x')));
    const QJsonObject saved = control.request({{"cmd", "save_card"}, {"path", "cards/one.png"}});
    QCOMPARE(saved.value("ok"), QJsonValue(true));
    QCOMPARE(saved.value("path").toString(), exports.filePath(QStringLiteral("cards/one.png")));
    QImage picture(exports.filePath(QStringLiteral("cards/one.png")));
    QCOMPARE(picture.size(), rig.sim.window->cardPanel->size());
    // The data folder is outside this export folder now.
    const QJsonObject refused = control.request(
        {{"cmd", "save_card"}, {"path", rig.sim.window->DataFolder() + "card.png"}});
    QCOMPARE(refused.value("ok"), QJsonValue(false));
    QVERIFY(refused.value("error").toString().contains("outside the export folder"));
}

void TestRigControl::duplicatedKeysAreRefused_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("refused");
    QTest::newRow("cmd twice") << QByteArray(R"({"cmd":"state","cmd":"quit"})") << true;
    QTest::newRow("escaped twin") << QByteArray(R"({"cmd":"state","\u0063md":"quit"})") << true;
    QTest::newRow("nested twice") << QByteArray(R"({"cmd":"state","x":{"a":1,"a":2}})") << true;
    QTest::newRow("same key in two objects")
        << QByteArray(R"({"cmd":"state","x":[{"a":1},{"a":2}],"y":{"cmd":1}})") << false;
    QTest::newRow("key text as a value") << QByteArray(R"({"cmd":"state","v":"cmd"})") << false;
    QTest::newRow("quote and comma in a string")
        << QByteArray(R"({"cmd":"state","v":"a\",\"cmd"})") << false;
}

void TestRigControl::duplicatedKeysAreRefused()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, refused);
    QCOMPARE(ControlRequest::hasDuplicateKey(line), refused);
    Rig rig;
    ControlClient control(rig.control.port());
    bool quitRequested = false;
    connect(&rig.control, &ControlServer::quitRequested, this, [&] { quitRequested = true; });
    const QJsonObject reply = control.request(line);
    QCOMPARE(reply.value("ok"), QJsonValue(!refused));
    if (refused)
        QVERIFY(reply.value("error").toString().contains("twice"));
    else
        QVERIFY(reply.contains("flags"));
    QTest::qWait(20);
    QVERIFY(!quitRequested);
}

void TestRigControl::requestsQueuedBehindAWaitAreBounded()
{
    Rig rig(1); // the clear sequence takes 2 s: wait_idle stays pending
    ControlClient control(rig.control.port());
    QByteArray lines = R"({"cmd":"press","button":"clear"})"
                       "\n"
                       R"({"cmd":"wait_idle","timeout_ms":10000})"
                       "\n";
    for (int i = 0; i < 5000; ++i)
        lines += "{}\n";
    control.socket.write(lines);
    QTRY_VERIFY_WITH_TIMEOUT(control.socket.state() == QAbstractSocket::UnconnectedState, 3000);
    QCOMPARE(QJsonDocument::fromJson(control.socket.readLine()).object().value("ok"),
             QJsonValue(true)); // the press
    const QJsonObject reply = QJsonDocument::fromJson(control.socket.readLine()).object();
    QCOMPARE(reply.value("ok"), QJsonValue(false));
    QVERIFY2(reply.value("error").toString().contains("too many requests"),
             qPrintable(reply.value("error").toString()));
    // Other connections are served.
    ControlClient other(rig.control.port());
    QCOMPARE(other.request(cmd("faults")).value("ok"), QJsonValue(true));
}

void TestRigControl::aWaitThatEndedEarlyLeavesOthersWaiting_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("its client left") << "left";
    QTest::newRow("its client passed a bound") << "dropped";
    QTest::newRow("it timed out") << "timeout";
}

// A wait_idle that ends before the machine is idle must not keep a later one from its answer
// when the machine gets there.
void TestRigControl::aWaitThatEndedEarlyLeavesOthersWaiting()
{
    QFETCH(QString, end);
    Rig rig(2); // the clear sequence takes 1 s
    ControlClient first(rig.control.port());
    ControlClient second(rig.control.port());
    // The sequence runs inside whatever waits here: what happens during it is timed.
    const int timeout = end == "timeout" ? 50 : 10000;
    QByteArray lines = R"({"cmd":"press","button":"clear"})"
                       "\n"
                       R"({"cmd":"wait_idle","timeout_ms":)" +
                       QByteArray::number(timeout) + "}\n";
    if (end == "dropped")
        lines += QByteArray("{}\n").repeated(5000);
    first.socket.write(lines);
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(300, &second.socket, [&] {
        if (end == "left")
            first.socket.abort();
        second.socket.write(R"({"cmd":"wait_idle","timeout_ms":10000})"
                            "\n");
    });
    QTRY_VERIFY_WITH_TIMEOUT(second.socket.canReadLine(), 5000);
    const QJsonObject reply = QJsonDocument::fromJson(second.socket.readLine()).object();
    QCOMPARE(reply.value("idle"), QJsonValue(true));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    if (end == "dropped")
        QCOMPARE(first.socket.state(), QAbstractSocket::UnconnectedState);
    if (end == "timeout") {
        QVERIFY(first.socket.canReadLine()); // the press
        first.socket.readLine();
        QCOMPARE(QJsonDocument::fromJson(first.socket.readLine()).object().value("error"),
                 QJsonValue("timeout: the machine is still busy"));
    }
}

void TestRigControl::repliesNobodyReadsAreBounded()
{
    Rig rig;
    ControlClient control(rig.control.port());
    // The client's side stops reading once it holds a little: the rest stays with the
    // program, which must not keep more than its bound.
    control.socket.setReadBufferSize(4096);
    QByteArray lines;
    for (int i = 0; i < 20000; ++i)
        lines += R"({"cmd":"state"})"
                 "\n";
    for (int round = 0; round < 10 && control.socket.state() == QAbstractSocket::ConnectedState;
         ++round) {
        control.socket.write(lines);
        QTest::qWait(100);
    }
    QTRY_COMPARE_WITH_TIMEOUT(control.socket.state(), QAbstractSocket::UnconnectedState, 5000);
    ControlClient other(rig.control.port());
    QCOMPARE(other.request(cmd("faults")).value("ok"), QJsonValue(true));
}

void TestRigControl::plantedSettingsLinkIsNotFollowed()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to give the data folder to another user (nobody)");
    constexpr uid_t kNobody = 65534;
    QTemporaryDir secrets;
    const QString secret = secrets.filePath(QStringLiteral("secret"));
    QVERIFY(writeFile(secret, "root only\n"));
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);

    QTemporaryDir shared; // a --data-dir /tmp/rig that another user made
    const QByteArray folder = QFile::encodeName(shared.path());
    QCOMPARE(::chown(folder.constData(), kNobody, kNobody), 0);
    const QByteArray link = folder + "/Vorlak.ini";
    QCOMPARE(::symlink(QFile::encodeName(secret).constData(), link.constData()), 0);
    QCOMPARE(::lchown(link.constData(), kNobody, kNobody), 0);

    auto sim = std::make_unique<Simulator>(100, shared.path());
    sim->start();
    sim->window->close();
    QCOMPARE(readFile(secret), QByteArray("root only\n"));
    QCOMPARE(sim->errors.messages.size(), 1);
    QVERIFY2(sim->errors.messages.first().contains("kann nicht geschrieben werden"),
             qPrintable(sim->errors.messages.first()));
    QVERIFY(sim->window->settingsWriteFailed());

    // The same folder once it is root's own: the file is written as usual.
    QCOMPARE(::unlink(link.constData()), 0);
    QCOMPARE(::chown(folder.constData(), 0, 0), 0);
    sim = std::make_unique<Simulator>(100, shared.path());
    sim->start();
    sim->window->close();
    QVERIFY(readFile(shared.filePath(QStringLiteral("Vorlak.ini"))).contains("[Form]"));
    QCOMPARE(sim->errors.messages, QStringList());
}

VORLAK_TEST_MAIN(TestRigControl)
#include "tst_rigcontrol.moc"
