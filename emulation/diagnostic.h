#pragma once

#include "embossjob.h"
#include "formattable.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <cstdint>

// Which host link a piece of input came over.
struct HostLinkId {
    enum class Kind { None, Tcp, Serial };
    Kind kind = Kind::None;
    int connection = 0; // TCP: the connection's number, counted from 1 in accept order

    static HostLinkId tcp(int connection) { return {Kind::Tcp, connection}; }
    static HostLinkId serial() { return {Kind::Serial, 0}; }
    // "tcp:3", "serial", or empty when the input came from no link (a test).
    QString toString() const;
};

// Something the machine did with host data that a host programmer would not expect: the
// specified behaviour stands, the diagnostic only says what happened and why.
struct Diagnostic {
    quint64 sequence = 0; // from 1, in the order they arose
    double tMs = 0;       // milliseconds since the machine started
    QDateTime time;       // UTC
    HostLinkId link;      // the link of the input being handled
    int job = 0;          // the job running when it arose (the innermost); 0: none
    QString code;         // stable, one of DiagnosticCode
    QString message;      // one line of English naming record, line, character and values
};

// The stable codes a rig may match on.
namespace DiagnosticCode
{
inline constexpr char RecordsEnded[] = "records_ended";
inline constexpr char RecordsBeyondTable[] = "records_beyond_table";
inline constexpr char CardSizeZero[] = "card_size_zero";
inline constexpr char LineBeyondCount[] = "line_beyond_count";
inline constexpr char PositionNotANumber[] = "position_not_a_number";
inline constexpr char FontSelectorUndefined[] = "font_selector_undefined";
inline constexpr char GlyphOutsideCard[] = "glyph_outside_card";
inline constexpr char MessageLostToPoll[] = "message_lost_to_poll";
inline constexpr char StrayBytesDropped[] = "stray_bytes_dropped";
inline constexpr char UnknownHeader[] = "unknown_header";
inline constexpr char NoFormat[] = "no_format";
inline constexpr char NestedMessage[] = "nested_message";
inline constexpr char MessageDropped[] = "message_dropped";
inline constexpr char ConversionError[] = "conversion_error";
} // namespace DiagnosticCode

// Host text for a diagnostic's message: printable ASCII as it is, every other character as
// "#" and its decimal code (as the traffic monitor shows it), cut to `maxCharacters` with "...".
QString describeHostText(const QString &text, qsizetype maxCharacters = 40);

// An emboss job as it ended, for whoever keeps a record of jobs.
struct FinishedJob {
    enum class Outcome { Done, Reset, Error };
    int number = 0; // from 1, in the order the jobs started
    QString tag;
    double startedMs = 0; // milliseconds since the machine started
    double endedMs = 0;
    QDateTime startedUtc;
    Outcome outcome = Outcome::Done;
    QString error;         // the failure's text when the outcome is Error
    FormatTable format;    // as it was when the job started
    int32_t cardWidth = 0; // 0.1 mm
    int32_t cardHeight = 0;
    StrikeRecord glyphs;
};

Q_DECLARE_METATYPE(Diagnostic)
Q_DECLARE_METATYPE(FinishedJob)
