#include "hostjson.h"

#include "jobarchive.h"

#include <cmath>

namespace HostJson
{

QJsonObject format(const FormatTable &table, int32_t cardWidth, int32_t cardHeight)
{
    QJsonArray fields;
    for (int i = 0; i < table.Count && i < int(std::size(table.Fields)); ++i) {
        const FieldDef &f = table.Fields[i];
        fields.append(QJsonObject{{QStringLiteral("font"), QString(f.Font)},
                                  {QStringLiteral("pitch"), f.Pitch},
                                  {QStringLiteral("y"), f.Y},
                                  {QStringLiteral("x"), f.X}});
    }
    return {{QStringLiteral("count"), table.Count},
            {QStringLiteral("card_width_tenth_mm"), cardWidth},
            {QStringLiteral("card_height_tenth_mm"), cardHeight},
            {QStringLiteral("fields"), fields}};
}

QJsonObject glyph(const StruckGlyph &g)
{
    return {{QStringLiteral("char"), QString(g.character)},
            {QStringLiteral("x"), g.x},
            {QStringLiteral("y"), g.y},
            {QStringLiteral("font_height"), g.fontHeight},
            {QStringLiteral("rotated"), g.rotated}};
}

QJsonArray glyphs(const StrikeRecord &record)
{
    QJsonArray glyphs;
    for (const StruckGlyph &g : record)
        glyphs.append(glyph(g));
    return glyphs;
}

QJsonObject diagnostic(const Diagnostic &d)
{
    return {{QStringLiteral("seq"), static_cast<qint64>(d.sequence)},
            {QStringLiteral("t_ms"), milliseconds(d.tMs)},
            {QStringLiteral("time"), d.time.toString(Qt::ISODateWithMs)},
            {QStringLiteral("link"),
             d.link.kind == HostLinkId::Kind::None ? QJsonValue() : QJsonValue(d.link.toString())},
            {QStringLiteral("job"), d.job == 0 ? QJsonValue() : QJsonValue(d.job)},
            {QStringLiteral("code"), d.code},
            {QStringLiteral("message"), d.message}};
}

QJsonObject statusRow(const StatusRow &row)
{
    QByteArray bytes;
    for (QChar c : row.reply)
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
    return {{QStringLiteral("reply_hex"), QString::fromLatin1(bytes.toHex(' '))},
            {QStringLiteral("display"), row.displayText}};
}

QJsonObject jobSummary(const FinishedJob &job)
{
    return {{QStringLiteral("job"), job.number},
            {QStringLiteral("tag"), job.tag},
            {QStringLiteral("outcome"), JobArchive::outcomeName(job.outcome)},
            {QStringLiteral("error"),
             job.outcome == FinishedJob::Outcome::Error ? QJsonValue(job.error) : QJsonValue()},
            {QStringLiteral("started_ms"), milliseconds(job.startedMs)},
            {QStringLiteral("ended_ms"), milliseconds(job.endedMs)},
            {QStringLiteral("glyphs"), static_cast<qint64>(job.glyphs.size())}};
}

double milliseconds(double ms)
{
    return std::round(ms * 1000.0) / 1000.0;
}

} // namespace HostJson
