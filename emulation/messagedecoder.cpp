#include "messagedecoder.h"

#include "cardsurface.h"
#include "hosttext.h"
#include "machine.h"
#include "protocol.h"

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
    // Input that arrives while this runs (polls during a job) starts a fresh buffer.
    m_machine.ReceiveBuffer().clear();

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
        m_surface.TextOut(kNoteX, kNoteY, QStringLiteral("Keine Formatdaten"));
    }
}

void MessageDecoder::decodeFormat(const QString &body)
{
    const QString cardBlock = body.left(kCardBlockLength);
    m_cardHeight = HostStrToIntDef(TrimBlanks(cardBlock.mid(2, 4)), 0);
    m_cardWidth = HostStrToIntDef(TrimBlanks(cardBlock.mid(8, 4)), 0);
    m_surface.SetCardSize(m_cardWidth, m_cardHeight);

    m_table.Count = 0;
    for (qsizetype at = kCardBlockLength; m_table.Count < ::FormatTable::kCapacity;
         at += kRecordLength) {
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
}

void MessageDecoder::RunEmbossJob(const QString &fieldText)
{
    // Kept alive here: a job decoded nested inside this one becomes the last job meanwhile.
    const auto record = std::make_shared<StrikeRecord>();
    m_lastStrikes = record;
    EmbossJob job(m_machine, m_surface, m_table, m_setup, *record);
    job.RunEmbossJob(fieldText);
}
