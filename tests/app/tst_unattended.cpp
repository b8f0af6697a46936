// The real program as a rig runs it: headless, unattended, as its own process. Errors never
// wait for a person, every way to end it writes the settings, and the control port answers
// only whom it should.

#include "hostmessages.h"
#include "programprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <QScopeGuard>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QByteArray formatWithFont(char font)
{
    // One field at y 10.0 mm, x 5.0 mm, pitch 14 on an 85.6 x 54.0 mm card.
    return QByteArray("\x01"
                      "31\x02"
                      "F]00 U0   0540  0856 0100 050 ") +
           font + "  14\x03";
}

QJsonObject cmd(const char *name)
{
    return {{QStringLiteral("cmd"), QString::fromLatin1(name)}};
}

} // namespace

class TestUnattended : public QObject
{
    Q_OBJECT
private slots:
    void thousandsOfFailingMessagesHeadless();
    void stderrNobodyReadsHoldsNothingUp();
    void quitWithUnwritableSettingsEnds();
    void terminationSignalWritesTheSettings_data();
    void terminationSignalWritesTheSettings();
    void secondSignalEndsAtOnce();
    void anotherUserWithoutTokenIsRefused();
    void queuedPressesLeaveTheHostAnswered();
    // Host-data diagnosis.
    void hostDataIsDiagnosed();
    // Traffic journal.
    void journalHasEveryChunkAndReply();
    void journalRotates();
    void journalThatCannotBeOpenedEndsWithTwo();
    // Job archive.
    void archiveKeepsDoneResetAndFailedJobs();
};

void TestUnattended::thousandsOfFailingMessagesHeadless()
{
    ProgramProcess program;
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    ProcessHost host(program.hostPort);
    QVERIFY(host.connected);
    QCOMPARE(host.exchange(formatWithFont('A'), 2), QByteArray("\x06"
                                                               "2"));
    // Every emboss message fails in its build phase: the font selector 'A' is no number.
    constexpr int kMessages = 6000;
    const QByteArray emboss("\x01"
                            "31\x02"
                            "T]00AB\r\n@T1\x03");
    // Each one after the last has failed: messages that come while a job runs nest in it, and
    // past the nesting bounds they are dropped, which is not what this counts.
    for (int i = 0; i < kMessages; ++i) {
        const QByteArray ack = host.exchange(emboss, 2);
        QVERIFY2(ack == QByteArray("\x06"
                                   "2"),
                 qPrintable(QStringLiteral("message %1 got %2").arg(i).arg(ack.toHex())));
        QCOMPARE(program.request({{"cmd", "wait_idle"}, {"timeout_ms", 5000}}).value("idle"),
                 QJsonValue(true));
    }
    // Still the machine: a poll is answered (powered on until the first Clear).
    QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06"
                                                 "P"));
    QCOMPARE(program.request(cmd("state")).value("errors").toInt(), kMessages);
    const QJsonObject errors = program.request({{"cmd", "errors"}, {"clear", true}});
    QCOMPARE(errors.value("count").toInt(), kMessages);
    const QJsonArray list = errors.value("errors").toArray();
    QCOMPARE(list.size(), kMessages);
    QCOMPARE(list.first().toObject().value("text").toString(),
             QString::fromUtf8("'A' ist kein gültiger Integerwert."));
    QVERIFY(
        QDateTime::fromString(list.last().toObject().value("time").toString(), Qt::ISODateWithMs)
            .isValid());
    QCOMPARE(program.request(cmd("errors")).value("count").toInt(), 0);
    QVERIFY(program.stderrText.contains("'A' ist kein g"));

    QCOMPARE(program.request(cmd("quit")).value("ok"), QJsonValue(true));
    QVERIFY(program.finishes(5000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
}

void TestUnattended::stderrNobodyReadsHoldsNothingUp()
{
    // A rig that never reads the program's stderr: each failure's line goes into a pipe that
    // fills after about a thousand of them.
    int pipeEnds[2];
    QCOMPARE(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const int readEnd = pipeEnds[0];
    const int writeEnd = pipeEnds[1];
    QTemporaryDir dir;
    const quint16 hostPort = freeTcpPort();
    const quint16 controlPort = freeTcpPort();
    {
        QFile ini(dir.path() + "/Vorlak.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Setup]\nPort=" + QByteArray::number(hostPort) + "\n");
    }
    QProcess process;
    process.setProgram(QStringLiteral(VORLAK_EXECUTABLE));
    process.setArguments({"--headless", "--data-dir", dir.path(), "--control-port",
                          QString::number(controlPort), "--speed", "1000"});
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, 2); });
    process.start();
    ::close(writeEnd);
    QVERIFY(process.waitForStarted(5000));
    const auto cleanup = qScopeGuard([&] {
        process.kill();
        process.waitForFinished(3000);
        ::close(readEnd);
    });

    std::unique_ptr<ProcessHost> host;
    QVERIFY(QTest::qWaitFor(
        [&] {
            host = std::make_unique<ProcessHost>(hostPort);
            return host->connected;
        },
        10000));
    QCOMPARE(host->exchange(formatWithFont('A'), 2), QByteArray("\x06"
                                                                "2"));
    const QByteArray emboss("\x01"
                            "31\x02"
                            "T]00AB\r\n@T1\x03");
    constexpr int kMessages = 3000;
    for (int i = 0; i < kMessages; ++i) {
        const QByteArray ack = host->exchange(emboss, 2);
        QVERIFY2(ack == QByteArray("\x06"
                                   "2"),
                 qPrintable(QStringLiteral("message %1 got %2").arg(i).arg(ack.toHex())));
    }
    QCOMPARE(host->exchange(kPoll, 2), QByteArray("\x06"
                                                  "P"));

    // The rig reads at last: whole lines, then one saying how many were left out.
    const auto drain = [readEnd] {
        QByteArray text;
        ::fcntl(readEnd, F_SETFL, O_NONBLOCK);
        char chunk[65536];
        for (ssize_t got; (got = ::read(readEnd, chunk, sizeof chunk)) > 0;)
            text.append(chunk, got);
        return text;
    };
    const QByteArray before = drain();
    QVERIFY(before.endsWith('\n'));
    const qsizetype written = before.count("vorlak: error: 'A' ist kein g");
    QVERIFY2(written > 0 && written < kMessages, QByteArray::number(written).constData());
    QCOMPARE(host->exchange(emboss, 2), QByteArray("\x06"
                                                   "2"));
    QByteArray after;
    QVERIFY(QTest::qWaitFor(
        [&] {
            after += drain();
            return after.contains("vorlak: error:");
        },
        5000));
    static const QRegularExpression notice(
        QStringLiteral("^vorlak: (\\d+) lines were left out here: nobody read this output\n"));
    const QRegularExpressionMatch match = notice.match(QString::fromLocal8Bit(after));
    QVERIFY2(match.hasMatch(), after.constData());
    const int leftOut = match.captured(1).toInt();
    QVERIFY2(leftOut > 0 && written + leftOut <= kMessages, after.constData());
}

void TestUnattended::quitWithUnwritableSettingsEnds()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Vorlak.ini")));
    ProgramProcess program({}, 1000, {}, 0, dir.path());
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    QCOMPARE(program.request(cmd("quit")).value("ok"), QJsonValue(true));
    QVERIFY2(program.finishes(5000), "the program did not end");
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 1);
    const QString message =
        QStringLiteral("In %1/Vorlak.ini kann nicht geschrieben werden.").arg(dir.path());
    QVERIFY2(QString::fromLocal8Bit(program.stderrText).contains(message),
             program.stderrText.constData());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("Vorlak.ini"))).isDir());
}

void TestUnattended::terminationSignalWritesTheSettings_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestUnattended::terminationSignalWritesTheSettings()
{
    QFETCH(int, signalNumber);
    ProgramProcess program;
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    const QString ini = program.folder + QStringLiteral("/Vorlak.ini");
    const QByteArray before = [&] {
        QFile file(ini);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!before.contains("[Form]"));
    QCOMPARE(::kill(pid_t(program.process.processId()), signalNumber), 0);
    QVERIFY(program.finishes(5000));
    QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.process.exitCode(), 0);
    QFile file(ini);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    QVERIFY2(after.contains("[Form]") && after.contains("StayOnTop=0"), after.constData());
}

void TestUnattended::secondSignalEndsAtOnce()
{
    ProgramProcess program({}, 1); // the machine's own pace: a job of 40 strikes takes 7 s
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    ProcessHost host(program.hostPort);
    QCOMPARE(host.exchange(formatWithFont('0'), 2), QByteArray("\x06"
                                                               "2"));
    QCOMPARE(host.exchange(QByteArray("\x01"
                                      "31\x02"
                                      "T]00") +
                               QByteArray(40, 'X') + "@T1\x03",
                           2),
             QByteArray("\x06"
                        "2"));
    QCOMPARE(::kill(pid_t(program.process.processId()), SIGTERM), 0);
    // The close waits for the job, as the operator's close does.
    QVERIFY(!program.finishes(500));
    QCOMPARE(::kill(pid_t(program.process.processId()), SIGTERM), 0);
    QVERIFY(program.finishes(3000));
    QCOMPARE(program.process.exitStatus(), QProcess::CrashExit);
}

void TestUnattended::anotherUserWithoutTokenIsRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to ask as the user nobody with runuser");
    if (QProcess::execute(QStringLiteral("runuser"), {"-u", "nobody", "--", "true"}) != 0)
        QSKIP("runuser -u nobody does not work here");
    // A root-only file that a PNG must not overwrite.
    QTemporaryDir secrets;
    const QString secret = secrets.filePath(QStringLiteral("secret"));
    {
        QFile file(secret);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("root only\n");
    }
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);

    ProgramProcess program({"--control-token", "s3cret", "--export-dir", secrets.path()});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    // What a local user sends: no token, then a guessed one.
    const auto askAsNobody = [&](const QByteArray &line) {
        QProcess client;
        client.start(QStringLiteral("runuser"),
                     {"-u", "nobody", "--", "bash", "-c",
                      QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/%1; printf '%s\\n' \"$0\" >&3; "
                                     "head -n 1 <&3")
                          .arg(program.controlPort),
                      QString::fromLatin1(line)});
        // Served while it waits: the program runs in its own process, the client in another.
        (void)QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 10000);
        return QJsonDocument::fromJson(client.readAllStandardOutput()).object();
    };
    const QByteArray save = R"({"cmd":"save_card","path":")" + QFile::encodeName(secret) + "\"";
    for (const QByteArray &line :
         {save + "}", save + R"(,"token":"guess"})", QByteArray(R"({"cmd":"quit"})")}) {
        const QJsonObject reply = askAsNobody(line);
        QCOMPARE(reply.value("ok"), QJsonValue(false));
        QVERIFY2(reply.value("error").toString().contains("token"), line.constData());
    }
    QFile file(secret);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("root only\n"));
    // With the token the same port serves; the program is still running.
    QCOMPARE(program.request({{"cmd", "state"}, {"token", "s3cret"}}).value("ok"),
             QJsonValue(true));
    QCOMPARE(program.request(cmd("state")).value("ok"), QJsonValue(false));
}

void TestUnattended::queuedPressesLeaveTheHostAnswered()
{
    ProgramProcess program({}, 1); // the machine's own pace: every reset sequence takes 2 s
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    ProcessHost host(program.hostPort);
    QVERIFY(host.connected);
    // A Clear ends the power-on state, so each Reset after it runs its sequence.
    QByteArray presses = R"({"cmd":"press","button":"clear"})"
                         "\n";
    for (int i = 1; i < 2000; ++i)
        presses += R"({"cmd":"press","button":"reset"})"
                   "\n";
    program.control.write(presses);
    QList<qint64> answerTimes;
    for (int i = 0; i < 4; ++i) {
        QTest::qWait(100);
        QElapsedTimer timer;
        timer.start();
        const QByteArray reply = host.exchange(kPoll, 2, 3000);
        answerTimes << timer.elapsed();
        QCOMPARE(reply, QByteArray("\x06"
                                   "R"));
    }
    qInfo() << "poll answered after (ms):" << answerTimes;
    // Answered between two presses, not behind a reset sequence (2 s): the bound leaves room
    // for reading the 2,000 request lines, which a sanitizer build on a busy machine needs.
    for (qint64 ms : answerTimes)
        QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
}

// ---- Host-data diagnosis ----

namespace
{
QStringList codesOf(const QJsonArray &diagnostics)
{
    QStringList codes;
    for (const QJsonValue &d : diagnostics)
        codes.append(d.toObject().value("code").toString());
    return codes;
}
} // namespace

void TestUnattended::hostDataIsDiagnosed()
{
    ProgramProcess program({"--diagnostics"});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    ProcessHost host(program.hostPort);
    QVERIFY(host.connected);
    const QByteArray ack("\x06"
                         "2");
    // The second record trims to 13 characters: it and the third are ignored.
    const QByteArray thirteen = " Y200X050F0P01 ";
    const QByteArray format = QByteArray("\x01"
                                         "31\x02"
                                         "F]00 U0   0540  0856 0100 050 0  14") +
                              thirteen + " 0300 050 0  14\x03";
    QCOMPARE(host.exchange(format, 2), ack);
    QJsonObject reply = program.request(cmd("diagnostics"));
    QCOMPARE(codesOf(reply.value("diagnostics").toArray()), QStringList{"records_ended"});
    const QJsonObject ended = reply.value("diagnostics").toArray().at(0).toObject();
    QVERIFY2(ended.value("message").toString().contains("format record 2 "),
             qPrintable(ended.value("message").toString()));
    QCOMPARE(ended.value("link").toString(), QStringLiteral("tcp:1"));
    QCOMPARE(ended.value("seq").toInt(), 1);
    QVERIFY(ended.value("job").isNull());

    // Three lines on a two-field format: the third uses an entry never written and fails.
    QCOMPARE(host.exchange(formatWithFont('0').replace("  14\x03", "  14 0200 050 0  14\x03"), 2),
             ack);
    QCOMPARE(host.exchange("\x01"
                           "31\x02"
                           "T]00A\r\nB\r\nC@T1\x03",
                           2),
             ack);
    QCOMPARE(program.request({{"cmd", "wait_idle"}, {"timeout_ms", 5000}}).value("idle"), true);
    reply = program.request({{"cmd", "diagnostics"}, {"clear", true}});
    QCOMPARE(codesOf(reply.value("diagnostics").toArray()),
             (QStringList{"records_ended", "line_beyond_count", "conversion_error"}));
    QCOMPARE(reply.value("count").toInt(), 3);
    const QJsonObject failed = reply.value("diagnostics").toArray().at(2).toObject();
    QVERIFY(failed.value("message").toString().contains("ist kein g"));
    QCOMPARE(failed.value("job").toInt(), 1);
    QCOMPARE(program.request(cmd("diagnostics")).value("count").toInt(), 0);

    // --diagnostics: each one also as a line on stderr.
    QVERIFY(QTest::qWaitFor(
        [&] { return program.stderrText.contains("tcp:1 job 1 conversion_error: "); }, 5000));
    QVERIFY2(
        program.stderrText.contains("vorlak: diagnostic 1 tcp:1 records_ended: format record 2 "),
        program.stderrText.constData());
    QVERIFY(program.stderrText.contains("vorlak: diagnostic 2 tcp:1 job 1 line_beyond_count: "
                                        "emboss line 3 (\"C\")"));
}

// ---- Traffic journal ----

namespace
{
QList<QJsonObject> journalLines(const QString &path)
{
    QFile file(path);
    QList<QJsonObject> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        // A line that does not parse shows up as an empty object and fails the comparisons.
        lines.append(error.error == QJsonParseError::NoError ? document.object() : QJsonObject());
    }
    return lines;
}

// "rx tcp:1 04 33 31 05 #431#5" per traffic line, "event operator press clear" and
// "event diagnostic stray_bytes_dropped" per event.
QStringList described(const QList<QJsonObject> &lines)
{
    QStringList out;
    for (const QJsonObject &line : lines) {
        const QString dir = line.value("dir").toString();
        if (dir == "event") {
            out.append(QStringLiteral("event %1 %2")
                           .arg(line.value("kind").toString(),
                                line.value(line.value("kind") == "operator" ? "action" : "code")
                                    .toString()));
        } else {
            out.append(QStringLiteral("%1 %2 %3 %4")
                           .arg(dir, line.value("link").toString(), line.value("hex").toString(),
                                line.value("text").toString()));
        }
    }
    return out;
}
} // namespace

void TestUnattended::journalHasEveryChunkAndReply()
{
    QTemporaryDir where;
    const QString path = where.filePath("traffic.jsonl");
    ProgramProcess program({"--journal", path});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    QCOMPARE(program.request({{"cmd", "monitor"}, {"show", false}}).value("shown"), false);
    ProcessHost host(program.hostPort);
    QVERIFY(host.connected);
    const QByteArray powered("\x06"
                             "P");
    QCOMPARE(host.exchange(kPoll, 2), powered);
    QCOMPARE(host.exchange("ab" + kPoll, 2), powered);
    QCOMPARE(program.request({{"cmd", "press"}, {"button", "clear"}}).value("ok"), true);
    QCOMPARE(program.request({{"cmd", "wait_idle"}, {"timeout_ms", 5000}}).value("idle"), true);
    const QStringList expected{
        "rx tcp:1 04 33 31 05 #431#5",
        "tx tcp:1 06 50 #6P",
        "rx tcp:1 61 62 04 33 31 05 ab#431#5",
        "event diagnostic stray_bytes_dropped",
        "tx tcp:1 06 50 #6P",
        "event operator press clear",
    };
    // Written while the program runs, within a fraction of a second.
    QVERIFY2(QTest::qWaitFor([&] { return described(journalLines(path)) == expected; }, 3000),
             qPrintable(described(journalLines(path)).join('\n')));

    // The orderly close of SIGTERM writes what came last.
    QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06"
                                                 "1"));
    ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
    QVERIFY(program.finishes(10000));
    const QList<QJsonObject> lines = journalLines(path);
    QCOMPARE(described(lines).mid(0, expected.size()), expected);
    QCOMPARE(described(lines).mid(expected.size()),
             (QStringList{"rx tcp:1 04 33 31 05 #431#5", "tx tcp:1 06 31 #61"}));
    double last = 0;
    for (const QJsonObject &line : lines) {
        QVERIFY(line.value("t_ms").isDouble());
        QVERIFY(line.value("t_ms").toDouble() >= last);
        last = line.value("t_ms").toDouble();
    }
}

void TestUnattended::journalRotates()
{
    QTemporaryDir where;
    const QString path = where.filePath("traffic.jsonl");
    // About 2 KiB per file: a few dozen lines.
    ProgramProcess program({"--journal", path, "--journal-max-mb", "0.002"});
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    ProcessHost host(program.hostPort);
    QVERIFY(host.connected);
    for (int i = 0; i < 120; ++i) {
        QCOMPARE(host.exchange(kPoll, 2), QByteArray("\x06"
                                                     "P"));
        if (i % 20 == 0)
            QTest::qWait(150); // lets the writer take more than one batch
    }
    QCOMPARE(program.request(cmd("quit")).value("ok"), true);
    QVERIFY(program.finishes(10000));
    QVERIFY(QFileInfo::exists(path + ".1"));
    const QList<QJsonObject> older = journalLines(path + ".1");
    const QList<QJsonObject> newer = journalLines(path);
    QVERIFY(!older.isEmpty() && !newer.isEmpty());
    QVERIFY(older.size() + newer.size() < 240); // earlier files were replaced
    for (const QJsonObject &line : older + newer)
        QVERIFY(line.value("dir") == "rx" || line.value("dir") == "tx");
    QCOMPARE(newer.last().value("hex").toString(), QStringLiteral("06 50"));
}

void TestUnattended::journalThatCannotBeOpenedEndsWithTwo()
{
    ProgramProcess program({"--journal", "/nonexistent-folder/traffic.jsonl"});
    QVERIFY(program.finishes(10000));
    QCOMPARE(program.process.exitCode(), 2);
    QVERIFY2(program.stderrText.contains(
                 "vorlak: cannot open the journal /nonexistent-folder/traffic.jsonl: "),
             program.stderrText.constData());
}

// ---- Job archive ----

namespace
{
QJsonObject jsonFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}
} // namespace

void TestUnattended::archiveKeepsDoneResetAndFailedJobs()
{
    QTemporaryDir where;
    const QString jobs = where.filePath("jobs");
    // At a tenth of the real pace a job of 30 glyphs takes half a second: long enough to reset.
    ProgramProcess program({"--job-dir", jobs}, 10);
    QVERIFY2(program.waitUntilListening(), program.stderrText.constData());
    ProcessHost host(program.hostPort);
    QVERIFY(host.connected);
    const QByteArray ack("\x06"
                         "2");
    auto emboss = [](const QByteArray &text, const QByteArray &tag) {
        return "\x01"
               "31\x02"
               "T]00" +
               text + "@" + tag + "\x03";
    };
    auto waitIdle = [&] {
        return program.request({{"cmd", "wait_idle"}, {"timeout_ms", 10000}}, 15000).value("idle");
    };

    // Done; the tag's separator and blank do not reach the file name.
    QCOMPARE(host.exchange(formatWithFont('0'), 2), ack);
    QCOMPARE(host.exchange(emboss("AB", "T/1 x"), 2), ack);
    QCOMPARE(waitIdle(), true);
    const QJsonObject done = jsonFile(jobs + "/000001-T_1_x.json");
    QCOMPARE(done.value("job").toInt(), 1);
    QCOMPARE(done.value("tag").toString(), QStringLiteral("T/1 x"));
    QCOMPARE(done.value("outcome").toString(), QStringLiteral("done"));
    QVERIFY(done.value("error").isNull());
    QVERIFY(done.value("started_ms").toDouble() > 0);
    QVERIFY(done.value("ended_ms").toDouble() > done.value("started_ms").toDouble());
    QCOMPARE(done.value("format").toObject(),
             program.request(cmd("state")).value("format").toObject());
    QCOMPARE(done.value("glyphs").toArray(),
             program.request(cmd("glyphs")).value("glyphs").toArray());
    QCOMPARE(done.value("glyphs").toArray().size(), 2);
    QCOMPARE(done.value("diagnostics").toArray(), QJsonArray());
    // The picture is the one save_card makes.
    QCOMPARE(program.request({{"cmd", "save_card"}, {"path", "now.png"}}).value("ok"), true);
    const QImage archived(jobs + "/000001-T_1_x.png");
    QVERIFY(!archived.isNull());
    QCOMPARE(archived, QImage(program.folder + "/now.png"));

    // Stopped by Reset (which acts once the machine is no longer powered on).
    QCOMPARE(program.request({{"cmd", "press"}, {"button", "clear"}}).value("ok"), true);
    QCOMPARE(waitIdle(), true);
    QCOMPARE(host.exchange(emboss("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "RESET"), 2), ack);
    QCOMPARE(program.request({{"cmd", "press"}, {"button", "reset"}}).value("ok"), true);
    QCOMPARE(waitIdle(), true);
    const QJsonObject reset = jsonFile(jobs + "/000002-RESET.json");
    QCOMPARE(reset.value("outcome").toString(), QStringLiteral("reset"));
    QVERIFY(reset.value("glyphs").toArray().size() < 30);
    QVERIFY(QFileInfo::exists(jobs + "/000002-RESET.png"));

    // Failed on a font selector that is no digit.
    QCOMPARE(host.exchange(formatWithFont('A'), 2), ack);
    QCOMPARE(host.exchange(emboss("AB", "FAIL1"), 2), ack);
    QCOMPARE(waitIdle(), true);
    const QJsonObject failed = jsonFile(jobs + "/000003-FAIL1.json");
    QCOMPARE(failed.value("outcome").toString(), QStringLiteral("error"));
    QCOMPARE(failed.value("error").toString(), QStringLiteral("'A' ist kein gültiger Integerwert"));
    QCOMPARE(failed.value("glyphs").toArray(), QJsonArray());
    const QJsonArray diagnostics = failed.value("diagnostics").toArray();
    QCOMPARE(diagnostics.size(), 1);
    QCOMPARE(diagnostics.at(0).toObject().value("code").toString(),
             QStringLiteral("conversion_error"));
    QCOMPARE(diagnostics.at(0).toObject().value("job").toInt(), 3);
    QVERIFY(!QImage(jobs + "/000003-FAIL1.png").isNull());

    const QJsonArray listed = program.request(cmd("jobs")).value("jobs").toArray();
    QCOMPARE(listed.size(), 3);
    QStringList outcomes;
    for (const QJsonValue &job : listed)
        outcomes.append(job.toObject().value("outcome").toString());
    QCOMPARE(outcomes, (QStringList{"done", "reset", "error"}));
    QCOMPARE(listed.at(2).toObject().value("json").toString(),
             QDir(jobs).canonicalPath() + "/000003-FAIL1.json");
    QVERIFY(listed.at(2).toObject().value("problem").isNull());
}

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
