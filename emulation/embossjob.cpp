#include "embossjob.h"

#include "cardsurface.h"
#include "cardunits.h"
#include "hosttext.h"
#include "machine.h"
#include "vorlakerror.h"

#include <QCoreApplication>

#include <utility>

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
    } catch (const std::exception &error) {
        if (m_machine.diagnosing()) {
            const QString where = m_atCharacter >= 0
                                      ? QStringLiteral("emboss line %1, character %2")
                                            .arg(m_atLine + 1)
                                            .arg(m_atCharacter + 1)
                                      : QStringLiteral("emboss line %1").arg(m_atLine + 1);
            m_machine.diagnose(DiagnosticCode::ConversionError,
                               QStringLiteral("the job fails at %1: %2; glyphs struck: %3")
                                   .arg(where, QString::fromUtf8(error.what()))
                                   .arg(m_record.size()));
        }
        finalSteps();
        throw;
    } catch (...) {
        finalSteps();
        throw;
    }
    finalSteps();
}

void EmbossJob::diagnoseLine(qsizetype i, const QString &line, const FieldDef &field)
{
    const QString shownLine = describeHostText(line);
    if (i >= m_table.Count) {
        const QString entry =
            field.Font.isNull()
                ? QStringLiteral("entry %1, which was never written (its font selector is #0, no "
                                 "digit)")
                      .arg(i + 1)
                : QStringLiteral("entry %1 left over from an earlier, longer format (font %2, "
                                 "pitch \"%3\", y \"%4\", x \"%5\")")
                      .arg(i + 1)
                      .arg(describeHostText(QString(field.Font)), describeHostText(field.Pitch),
                           describeHostText(field.Y), describeHostText(field.X));
        m_machine.diagnose(DiagnosticCode::LineBeyondCount,
                           QStringLiteral("emboss line %1 (\"%2\") is beyond the format's %3 "
                                          "fields: it uses %4")
                               .arg(i + 1)
                               .arg(shownLine)
                               .arg(m_table.Count)
                               .arg(entry));
    }
    if (!isDecimalDigit(field.Font))
        return; // the job fails on it: conversion_error says so
    const int selector = field.Font.unicode() - u'0';
    if (selector > 2) {
        m_machine.diagnose(DiagnosticCode::FontSelectorUndefined,
                           QStringLiteral("emboss line %1 uses field %1's font selector %2, "
                                          "which is undefined: the Font 0 height (%3 mm) is used")
                               .arg(i + 1)
                               .arg(selector)
                               .arg(m_setup.font0Height()));
    }
    if (line.isEmpty())
        return;
    for (const auto &[name, text] : {std::pair{"y", &field.Y}, std::pair{"x", &field.X}}) {
        int32_t value = 0;
        if (!ParseHostInteger(*text, value)) {
            m_machine.diagnose(DiagnosticCode::PositionNotANumber,
                               QStringLiteral("emboss line %1 (\"%2\"): field %1's %3 \"%4\" "
                                              "is not a number and counts as 0")
                                   .arg(i + 1)
                                   .arg(shownLine, QLatin1String(name), describeHostText(*text)));
        }
    }
}

// One diagnostic per line: how many of its glyphs' cells reach beyond the card, and the first.
void EmbossJob::diagnoseGlyphsOffCard(qsizetype i, const QString &line, const FieldDef &field,
                                      int32_t xBase, int32_t yField, int32_t cellHeight)
{
    if (m_cardWidthTenths <= 0 || m_cardHeightTenths <= 0)
        return; // card_size_zero has said it
    const EmulatorState &state = m_machine.state();
    const int ppi = m_surface.ppi();
    const int32_t width = CardPixels(m_cardWidthTenths, ppi, state.ScreenScale);
    const int32_t height = CardPixels(m_cardHeightTenths, ppi, state.ScreenScale);
    int32_t value = 0;
    if (!ParseHostInteger(field.Pitch, value))
        return; // the job fails on its first glyph
    int outside = 0;
    int marks = 0;
    QString first;
    for (qsizetype j = 0; j < line.size(); ++j) {
        if (!leavesMark(line.at(j)))
            continue;
        ++marks;
        const int32_t x =
            CharOffset(field.Pitch, j, ppi, state.ScreenScale, state.PitchBase) + xBase;
        // Cells hang above the field's y; upright ones start at x, turned ones end there.
        const int32_t top = yField - cellHeight;
        const bool off = top < 0 || yField > height ||
                         (m_setup.reverse() ? x <= 0 || x > width : x < 0 || x >= width);
        if (!off)
            continue;
        if (outside++ == 0) {
            first = QStringLiteral("character %1 '%2' at x %3, y %4 to %5")
                        .arg(j + 1)
                        .arg(describeHostText(QString(line.at(j))))
                        .arg(x)
                        .arg(top)
                        .arg(yField);
        }
    }
    if (outside == 0)
        return;
    m_machine.diagnose(DiagnosticCode::GlyphOutsideCard,
                       QStringLiteral("emboss line %1: %2 of its %3 glyphs reach beyond the %4 x "
                                      "%5 px card (field x \"%6\", y \"%7\"), the first %8")
                           .arg(i + 1)
                           .arg(outside)
                           .arg(marks)
                           .arg(width)
                           .arg(height)
                           .arg(describeHostText(field.X), describeHostText(field.Y), first));
}

void EmbossJob::build(const QStringList &lines, EmbossQueue &queue)
{
    const EmulatorState &state = m_machine.state();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        // A reference into the live table: a format decoded meanwhile applies at once.
        const FieldDef &field = m_table.entry(i);
        m_atLine = i;
        m_atCharacter = -1;
        const bool diagnosing = m_machine.diagnosing();
        if (diagnosing)
            diagnoseLine(i, line, field);
        if (!isDecimalDigit(field.Font))
            throw VorlakError(ConversionErrorText(QString(field.Font)));
        const int32_t fontHeight = FontHeightPixels(field.Font.unicode() - u'0');
        m_surface.setTextFont(kGlyphFont, true, kGrey, fontHeight);
        const int32_t cellHeight = m_surface.TextHeight(line);
        const int ppi = m_surface.ppi();
        const int32_t xBase = TenthsToPixels(field.X, ppi, state.ScreenScale);
        const int32_t yField = TenthsToPixels(field.Y, ppi, state.ScreenScale);
        if (diagnosing)
            diagnoseGlyphsOffCard(i, line, field, xBase, yField, cellHeight);

        // Characters are placed by their index alone: a blank still takes its position.
        for (qsizetype j = 0; j < line.size(); ++j) {
            QCoreApplication::processEvents();
            m_atCharacter = j;
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
    m_atLine = -1;
    m_atCharacter = -1;
}

void EmbossJob::strike(const EmbossQueue &queue)
{
    EmulatorState &state = m_machine.state();
    for (const GlyphEntry &entry : queue) {
        QCoreApplication::processEvents();
        if (state.AbortRequested) {
            m_stoppedByReset = true;
            return;
        }
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
