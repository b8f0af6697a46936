#include "messagedecoder.h"

#include "cardsurface.h"
#include "hosttext.h"
#include "machine.h"
#include "protocol.h"
#include "vorlakerror.h"

#include <QScopeGuard>

namespace
{
const QString kFormatHeader = QStringLiteral("\x01"
                                             "31\x02"
                                             "F]00 U0 ");
const QString kEmbossHeader = QStringLiteral("\x01"
                                             "31\x02"
                                             "T]00");
constexpr qsizetype kCardBlockLength = 12;
constexpr qsizetype kRecordLength = 15;
constexpr qsizetype kTrimmedRecordLength = 14;
} // namespace

MessageDecoder::MessageDecoder(Machine &machine, CardSurface &surface, SetupValues setup)
    : m_machine(machine), m_surface(surface), m_setup(std::move(setup))
{
}

void MessageDecoder::InterpretMessage(const QString &message)
{
    m_machine.state().AbortRequested = false;
    // Glyphs are not part of the card's painting: this erases those of an earlier job.
    m_surface.repaintNow();
    m_machine.announceCardRepainted();
    // Input that arrives while this runs (polls during a job) starts a fresh buffer.
    m_machine.ReceiveBuffer().clear();
    if (m_machine.runningJob() != 0 && m_machine.diagnosing()) {
        m_machine.diagnose(DiagnosticCode::NestedMessage,
                           QStringLiteral("a message (\"%1\") came while job %2 runs: it is "
                                          "decoded at once, inside that job, and erases the "
                                          "glyphs struck so far")
                               .arg(describeHostText(message))
                               .arg(m_machine.runningJob()));
    }

    QString text = message;
    text.remove(Protocol::poll()); // polls the host sent in the middle of the message
    const bool isFormat = text.startsWith(kFormatHeader);
    const bool isEmboss = !isFormat && text.startsWith(kEmbossHeader);
    text.chop(1); // the ETX

    if (isFormat) {
        decodeFormat(text.mid(kFormatHeader.size()));
    } else if (isEmboss && m_table.Count > 0) {
        text.remove(0, kEmbossHeader.size());
        m_machine.setJobTag(TextAfterAt(text));
        RunEmbossJob(TextBeforeAt(text));
    } else {
        if (m_machine.diagnosing()) {
            if (isEmboss) {
                m_machine.diagnose(DiagnosticCode::NoFormat,
                                   QStringLiteral("emboss data came while no format is active "
                                                  "(no format definition with a valid field "
                                                  "record yet): nothing is struck, the card "
                                                  "shows \"Keine Formatdaten\""));
            } else {
                m_machine.diagnose(
                    DiagnosticCode::UnknownHeader,
                    QStringLiteral("a message begins \"%1\", which is neither a format "
                                   "definition (\"%2\") nor emboss data (\"%3\"): the card "
                                   "shows \"Keine Formatdaten\"")
                        .arg(describeHostText(message, 12), describeHostText(kFormatHeader),
                             describeHostText(kEmbossHeader)));
            }
        }
        m_surface.TextOut(kNoteX, kNoteY, QStringLiteral("Keine Formatdaten"));
    }
}

void MessageDecoder::decodeFormat(const QString &body)
{
    const QString cardBlock = body.left(kCardBlockLength);
    m_cardHeight = HostStrToIntDef(TrimBlanks(cardBlock.mid(2, 4)), 0);
    m_cardWidth = HostStrToIntDef(TrimBlanks(cardBlock.mid(8, 4)), 0);
    m_surface.SetCardSize(m_cardWidth, m_cardHeight);
    m_machine.announceCardRepainted();
    if ((m_cardHeight == 0 || m_cardWidth == 0) && m_machine.diagnosing())
        diagnoseCardBlock(cardBlock);

    m_table.Count = 0;
    qsizetype at = kCardBlockLength;
    for (; m_table.Count < ::FormatTable::kCapacity; at += kRecordLength) {
        const QString record = TrimBlanks(body.mid(at, kRecordLength));
        if (record.size() != kTrimmedRecordLength)
            break;
        FieldDef &field = m_table.Fields[static_cast<size_t>(m_table.Count)];
        field.Y = record.mid(1, 3).left(FieldDef::kYCapacity);
        field.X = record.mid(5, 3).left(FieldDef::kXCapacity);
        field.Font = record.at(9);
        field.Pitch = record.mid(12, 2).left(FieldDef::kPitchCapacity);
        ++m_table.Count;
    }
    if (m_machine.diagnosing())
        diagnoseRecordsLeft(body, at);
}

void MessageDecoder::diagnoseCardBlock(const QString &cardBlock)
{
    auto describe = [](const QString &text) {
        int32_t value = 0;
        const QString trimmed = TrimBlanks(text);
        if (!ParseHostInteger(trimmed, value))
            return QStringLiteral("\"%1\" is not a number and counts as 0")
                .arg(describeHostText(text));
        return QStringLiteral("\"%1\" gives %2").arg(describeHostText(text)).arg(value);
    };
    m_machine.diagnose(DiagnosticCode::CardSizeZero,
                       QStringLiteral("the format's card block \"%1\" gives a card of no area: "
                                      "height (characters 3-6) %2, width (characters 9-12) %3")
                           .arg(describeHostText(cardBlock), describe(cardBlock.mid(2, 4)),
                                describe(cardBlock.mid(8, 4))));
}

// Whatever follows the last record taken is ignored; say so unless it is only blanks.
void MessageDecoder::diagnoseRecordsLeft(const QString &body, qsizetype at)
{
    const QString rest = body.mid(at);
    if (TrimBlanks(rest).isEmpty())
        return;
    const int record = m_table.Count + 1;
    if (m_table.Count >= ::FormatTable::kCapacity) {
        m_machine.diagnose(DiagnosticCode::RecordsBeyondTable,
                           QStringLiteral("the format has more than %1 field records: record %2 "
                                          "and the %3 characters from it on are not stored")
                               .arg(::FormatTable::kCapacity)
                               .arg(record)
                               .arg(rest.size()));
        return;
    }
    const QString piece = rest.left(kRecordLength);
    m_machine.diagnose(
        DiagnosticCode::RecordsEnded,
        QStringLiteral("format record %1 (\"%2\") trims to %3 characters, not %4: the field "
                       "list ends there (fields taken: %5) and the %6 characters from record %1 "
                       "on are ignored")
            .arg(record)
            .arg(describeHostText(piece))
            .arg(TrimBlanks(piece).size())
            .arg(kTrimmedRecordLength)
            .arg(m_table.Count)
            .arg(rest.size()));
}

void MessageDecoder::RunEmbossJob(const QString &fieldText)
{
    // Kept alive here: a job decoded nested inside this one becomes the last job meanwhile.
    const auto record = std::make_shared<StrikeRecord>();
    m_lastStrikes = record;
    EmbossJob job(m_machine, m_surface, m_table, m_setup, *record);
    job.setCardSize(m_cardWidth, m_cardHeight);

    FinishedJob finished;
    finished.number = ++m_jobsStarted;
    finished.tag = m_machine.jobTag();
    finished.startedMs = m_machine.sinceStartMs();
    finished.startedUtc = QDateTime::currentDateTimeUtc();
    finished.format = m_table;
    finished.cardWidth = m_cardWidth;
    finished.cardHeight = m_cardHeight;
    const int outerJob = m_machine.runningJob();
    m_machine.setRunningJob(finished.number);
    const auto leave = qScopeGuard([this, outerJob] { m_machine.setRunningJob(outerJob); });
    auto announce = [&](FinishedJob::Outcome outcome, const QString &error) {
        finished.endedMs = m_machine.sinceStartMs();
        finished.outcome = outcome;
        finished.error = error;
        finished.glyphs = *record;
        m_machine.announceJobFinished(finished);
    };
    try {
        job.RunEmbossJob(fieldText);
    } catch (const std::exception &error) {
        announce(FinishedJob::Outcome::Error, QString::fromUtf8(error.what()));
        throw;
    }
    announce(job.stoppedByReset() ? FinishedJob::Outcome::Reset : FinishedJob::Outcome::Done, {});
}
