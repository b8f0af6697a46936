#include "jobarchive.h"

#include "frmvorlak.h"
#include "hostjson.h"
#include "vorlakerror.h"

#include <QFile>
#include <QImageWriter>
#include <QJsonDocument>

JobArchive::JobArchive(TfrmVorlak &window, const QString &folder, QObject *parent)
    : QObject(parent), m_window(window), m_folder(folder)
{
    connect(&window.machine(), &Machine::diagnosed, this, &JobArchive::collect);
    connect(&window.machine(), &Machine::jobFinished, this, &JobArchive::archive);
}

QString JobArchive::safeTag(const QString &tag)
{
    QString safe;
    for (const QChar c : tag) {
        const char16_t u = c.unicode();
        const bool kept = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                          (u >= u'0' && u <= u'9') || u == u'-' || u == u'_';
        safe += kept ? c : QLatin1Char('_');
    }
    return safe.isEmpty() ? QStringLiteral("_") : safe;
}

QString JobArchive::outcomeName(FinishedJob::Outcome outcome)
{
    switch (outcome) {
    case FinishedJob::Outcome::Done:
        return QStringLiteral("done");
    case FinishedJob::Outcome::Reset:
        return QStringLiteral("reset");
    case FinishedJob::Outcome::Error:
        break;
    }
    return QStringLiteral("error");
}

void JobArchive::collect(const Diagnostic &diagnostic)
{
    if (diagnostic.job != 0)
        m_diagnostics[diagnostic.job].push_back(diagnostic);
}

QJsonObject JobArchive::description(const FinishedJob &job) const
{
    QJsonArray diagnostics;
    const auto found = m_diagnostics.find(job.number);
    if (found != m_diagnostics.end()) {
        for (const Diagnostic &d : found->second)
            diagnostics.append(HostJson::diagnostic(d));
    }
    return {{QStringLiteral("job"), job.number},
            {QStringLiteral("tag"), job.tag},
            {QStringLiteral("started_ms"), HostJson::milliseconds(job.startedMs)},
            {QStringLiteral("ended_ms"), HostJson::milliseconds(job.endedMs)},
            {QStringLiteral("started_utc"), job.startedUtc.toString(Qt::ISODateWithMs)},
            {QStringLiteral("outcome"), outcomeName(job.outcome)},
            {QStringLiteral("error"),
             job.outcome == FinishedJob::Outcome::Error ? QJsonValue(job.error) : QJsonValue()},
            {QStringLiteral("format"), HostJson::format(job.format, job.cardWidth, job.cardHeight)},
            {QStringLiteral("glyphs"), HostJson::glyphs(job.glyphs)},
            {QStringLiteral("diagnostics"), diagnostics}};
}

void JobArchive::archive(const FinishedJob &job)
{
    Entry entry;
    entry.job = job.number;
    entry.tag = job.tag;
    entry.outcome = outcomeName(job.outcome);
    const QString name =
        QStringLiteral("%1-%2").arg(job.number, 6, 10, QLatin1Char('0')).arg(safeTag(job.tag));
    try {
        const std::unique_ptr<QFile> png = m_folder.openForWriting(name + ".png", &entry.png);
        QImageWriter writer(png.get(), "png");
        if (!writer.write(m_window.cardPicture()) || !png->flush())
            throw VorlakError(QStringLiteral("%1: %2").arg(entry.png, writer.errorString()));
        const std::unique_ptr<QFile> json = m_folder.openForWriting(name + ".json", &entry.json);
        const QByteArray text = QJsonDocument(description(job)).toJson(QJsonDocument::Indented);
        if (json->write(text) != text.size() || !json->flush())
            throw VorlakError(QStringLiteral("%1: %2").arg(entry.json, json->errorString()));
    } catch (const std::exception &error) {
        entry.problem = QString::fromUtf8(error.what());
        m_stderr.write("vorlak: job archive: " + entry.problem.toUtf8());
    }
    m_diagnostics.erase(job.number);
    m_entries.push_back(entry);
    if (m_entries.size() > kMaxEntries)
        m_entries.pop_front();
}
