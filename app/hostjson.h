#pragma once

#include "diagnostic.h"
#include "embossjob.h"
#include "formattable.h"
#include "statustable.h"

#include <QJsonArray>
#include <QJsonObject>

// The control port's JSON forms of the machine's records, shared by its commands, the journal
// and the job archive so that each shows them alike.
namespace HostJson
{
// The active format as "state" gives it: count, card size in 0.1 mm, fields.
QJsonObject format(const FormatTable &table, int32_t cardWidth, int32_t cardHeight);
// One struck glyph: char, x, y, font_height, rotated.
QJsonObject glyph(const StruckGlyph &glyph);
// Struck glyphs in strike order as "glyphs" gives them.
QJsonArray glyphs(const StrikeRecord &record);
// One diagnostic: seq, t_ms, time, link, job (or null), code, message.
QJsonObject diagnostic(const Diagnostic &diagnostic);
// A status row as "state" gives it: the reply's bytes in hex ("06 50") and its display text.
QJsonObject statusRow(const StatusRow &row);
// A finished job in brief: number, tag, outcome, the error (or null), start and end, glyphs.
QJsonObject jobSummary(const FinishedJob &job);
// Milliseconds with three decimals, as a JSON number.
double milliseconds(double ms);
} // namespace HostJson
