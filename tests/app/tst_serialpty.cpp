// --serial-pty: the program's own virtual serial line, as a host sees it through the link, and
// the rules for the link's path: only an earlier run's stale link is ever replaced.

#include "hostmessages.h"
#include "programprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>

#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{

QJsonObject cmd(const char *name)
{
    return {{QStringLiteral("cmd"), QString::fromLatin1(name)}};
}

// The host's side: opens the link as a serial device and exchanges bytes raw.
QByteArray exchangeOnLine(const QString &path, const QByteArray &bytes, int replyLength)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return "open failed: " + QByteArray(std::strerror(errno));
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    (void)!::write(fd, bytes.constData(), size_t(bytes.size()));
    QByteArray reply;
    char buffer[64];
    while (reply.size() < replyLength) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        reply.append(buffer, n);
    }
    ::close(fd);
    return reply;
}

bool isLink(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

class TestSerialPty : public QObject
{
    Q_OBJECT
private slots:
    void hostPollsThroughTheLink();
    void staleLinkIsReplaced();
    void pathThatIsNotOursIsKept_data();
    void pathThatIsNotOursIsKept();
};

void TestSerialPty::hostPollsThroughTheLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("host");
    ProgramProcess program({"--serial-pty", link});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    QVERIFY(isLink(link));
    const QJsonObject state = program.request(cmd("state"));
    const QString device = state.value("serial").toObject().value("device").toString();
    QVERIFY(device.startsWith("/dev/pts/"));
    QCOMPARE(state.value("serial").toObject().value("open"), QJsonValue(true));
    // Panel 0 shows the simulator's end, as after choosing it in the setup dialog.
    QCOMPARE(state.value("panels").toArray().at(0).toString(), device);
    QVERIFY(QFile::symLinkTarget(link) != device);

    QCOMPARE(exchangeOnLine(link, kPoll, 2), QByteArray("\x06P"));
    // The host may close its end and open it again.
    QCOMPARE(exchangeOnLine(link, kPoll, 2), QByteArray("\x06P"));

    // An orderly close (SIGTERM) removes the link.
    ::kill(pid_t(program.process.processId()), SIGTERM);
    QVERIFY(program.finishes(20000));
    QCOMPARE(program.process.exitCode(), 0);
    QVERIFY(!isLink(link));
}

void TestSerialPty::staleLinkIsReplaced()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("host");
    // An earlier run's link, left when it was killed: its pseudo-terminal is gone.
    QVERIFY(QFile::link("/dev/pts/999999", link));
    ProgramProcess program({"--serial-pty", link});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    QVERIFY(QFile::symLinkTarget(link) != QStringLiteral("/dev/pts/999999"));
    QCOMPARE(exchangeOnLine(link, kPoll, 2), QByteArray("\x06P"));
    program.request(cmd("quit"));
    QVERIFY(program.finishes(20000));
    QVERIFY(!isLink(link));
}

void TestSerialPty::pathThatIsNotOursIsKept_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a file") << QStringLiteral("file");
    QTest::newRow("a folder") << QStringLiteral("folder");
    QTest::newRow("a link to a file") << QStringLiteral("link");
    QTest::newRow("a link to a live pseudo-terminal") << QStringLiteral("live pts");
    QTest::newRow("a dangling link elsewhere") << QStringLiteral("dangling");
}

void TestSerialPty::pathThatIsNotOursIsKept()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("host");
    const QString target = dir.filePath("precious");
    QFile precious(target);
    QVERIFY(precious.open(QIODevice::WriteOnly));
    precious.write("keep me");
    precious.close();
    int liveMaster = -1;
    if (kind == "file") {
        QVERIFY(QFile::copy(target, path));
    } else if (kind == "folder") {
        QVERIFY(QDir(dir.path()).mkdir("host"));
    } else if (kind == "link") {
        QVERIFY(QFile::link(target, path));
    } else if (kind == "live pts") {
        liveMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(liveMaster >= 0 && ::grantpt(liveMaster) == 0 && ::unlockpt(liveMaster) == 0);
        QVERIFY(QFile::link(QString::fromLatin1(::ptsname(liveMaster)), path));
    } else {
        QVERIFY(QFile::link(dir.filePath("gone"), path));
    }
    const auto closeMaster = qScopeGuard([&] {
        if (liveMaster >= 0)
            ::close(liveMaster);
    });
    const QString before = QFile::symLinkTarget(path);

    ProgramProcess program({"--serial-pty", path});
    QVERIFY(program.finishes(20000));
    QCOMPARE(program.process.exitCode(), 2);
    const QString expected = QStringLiteral("vorlak: --serial-pty: %1 exists and is not a link "
                                            "this program left; it is not replaced")
                                 .arg(path);
    QVERIFY2(QString::fromLocal8Bit(program.stderrText).contains(expected),
             program.stderrText.constData());
    QCOMPARE(QFile::symLinkTarget(path), before);
    QCOMPARE(QFileInfo(path).isDir(), kind == "folder");
    QFile kept(target);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("keep me"));
}

QTEST_GUILESS_MAIN(TestSerialPty)
#include "tst_serialpty.moc"
