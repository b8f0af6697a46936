#include "embossjob.h"

#include "cardsurface.h"
#include "cardunits.h"
#include "hosttext.h"
#include "machine.h"
#include "vorlakerror.h"

#include <QCoreApplication>

namespace
{
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kGrey(0x80, 0x80, 0x80);
const QString kGlyphFont = QStringLiteral("Courier New");
constexpr int kReverseAngle = 180;

bool isDecimalDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Blanks and control characters leave no mark and are not struck.
bool leavesMark(QChar c)
{
    return c.unicode() > 0x20;
}
} // namespace

EmbossJob::EmbossJob(Machine &machine, CardSurface &surface, const FormatTable &table,
                     const SetupValues &setup, StrikeRecord &record)
    : m_machine(machine), m_surface(surface), m_table(table), m_setup(setup), m_record(record)
{
}

int32_t EmbossJob::FontHeightPixels(int selector) const
{
    const int millimetres = selector == 1 ? m_setup.font1Height() : m_setup.font0Height();
    return ::FontHeightPixels(millimetres, m_surface.ppi(), m_machine.state().ScreenScale);
}

void EmbossJob::RunEmbossJob(const QString &fieldText)
{
    m_machine.state().Busy = true;
    try {
        emit m_machine.jobStarted();
        const QStringList lines = SplitFieldLines(fieldText);
        EmbossQueue queue;
        build(lines, queue);
        strike(queue);
    } catch (...) {
        finalSteps();
        throw;
    }
    finalSteps();
}

void EmbossJob::build(const QStringList &lines, EmbossQueue &queue)
{
    const EmulatorState &state = m_machine.state();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        // A reference into the live table: a format decoded meanwhile applies at once.
        const FieldDef &field = m_table.entry(i);
        if (!isDecimalDigit(field.Font))
            throw VorlakError(ConversionErrorText(QString(field.Font)));
        const int32_t fontHeight = FontHeightPixels(field.Font.unicode() - u'0');
        m_surface.setTextFont(kGlyphFont, true, kGrey, fontHeight);
        const int32_t cellHeight = m_surface.TextHeight(line);
        const int ppi = m_surface.ppi();
        const int32_t xBase = TenthsToPixels(field.X, ppi, state.ScreenScale);
        const int32_t yField = TenthsToPixels(field.Y, ppi, state.ScreenScale);

        // Characters are placed by their index alone: a blank still takes its position.
        for (qsizetype j = 0; j < line.size(); ++j) {
            QCoreApplication::processEvents();
            const QChar c = line.at(j);
            if (m_setup.reverse()) {
                const int32_t x =
                    CharOffset(field.Pitch, j, ppi, state.ScreenScale, state.PitchBase) + xBase;
                m_surface.setTextColour(kWhite);
                m_surface.DrawRotatedText(QString(c), x, kReverseAngle, yField);
                m_surface.setTextColour(kGrey);
                m_surface.DrawRotatedText(QString(c), x + 1, kReverseAngle, yField + 1);
                if (leavesMark(c)) {
                    m_record.push_back({c, x, yField, fontHeight, true});
                    emit m_machine.strikeDrawn();
                }
            } else if (leavesMark(c)) {
                const int32_t x =
                    CharOffset(field.Pitch, j, ppi, state.ScreenScale, state.PitchBase) + xBase;
                queue.insert(GlyphEntry(c, yField - cellHeight, x, fontHeight));
            }
        }
    }
}

void EmbossJob::strike(const EmbossQueue &queue)
{
    EmulatorState &state = m_machine.state();
    for (const GlyphEntry &entry : queue) {
        QCoreApplication::processEvents();
        if (state.AbortRequested)
            return;
        m_machine.PlaySoundFile(QStringLiteral("Emboss.wav"));
        m_machine.PumpedDelay(kStrikeMs);

        // The white copy shows as a highlight along the top and left edges of the grey glyph.
        const QString glyph(entry.character);
        m_surface.setTextHeight(entry.fontHeight);
        m_surface.setTextColour(kWhite);
        m_surface.TextOut(entry.x, entry.y, glyph);
        m_surface.setTextColour(kGrey);
        m_surface.TextOut(entry.x + 1, entry.y + 1, glyph);
        m_record.push_back({entry.character, entry.x, entry.y, entry.fontHeight, false});
        emit m_machine.strikeDrawn();

        // Host input over the serial line is read and answered here, between strikes.
        m_machine.serialReceiveStep();

        if (state.Paused) {
            while (state.Paused && !state.InReset && !state.ClearRequested)
                m_machine.PumpedDelay(kPauseRoundMs);
            state.ClearRequested = false;
        }
    }
}

void EmbossJob::finalSteps()
{
    m_machine.state().Busy = false;
    emit m_machine.jobEnded();
    m_machine.PlaySoundFile(QStringLiteral("Reset.wav"));
    m_machine.PumpedDelay(kRestMs);
}
