#pragma once

#include "embossqueue.h"
#include "formattable.h"
#include "setupvalues.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

class CardSurface;
class Machine;

// A glyph a job put on the card: in the strike phase the cell's top-left corner, in the Reverse
// mode (rotated) the point the turned cell ends at.
struct StruckGlyph {
    QChar character;
    int32_t x = 0;
    int32_t y = 0;
    int32_t fontHeight = 0;
    bool rotated = false;

    bool operator==(const StruckGlyph &o) const
    {
        return character == o.character && x == o.x && y == o.y && fontHeight == o.fontHeight &&
               rotated == o.rotated;
    }
};
using StrikeRecord = std::vector<StruckGlyph>;

// One emboss job: turns the field lines of an emboss data message into glyphs on the card, the
// way a character-wheel machine strikes them.
//
// The build phase computes every glyph's place and queues it by character; the strike phase
// strikes the queue one glyph at a time with the strike sound and a fixed pace. Between strikes
// the job serves the host and the operator: it processes GUI events once per character and per
// strike and in every wait, so polls, the buttons and painting run nested inside it. It reads
// the machine's flags only at fixed points: Paused after each strike, AbortRequested before each
// strike. However it ends (normally, stopped by Reset, or failed on a field's font or pitch),
// it clears Busy, plays "Reset.wav" and rests one second; a failure then goes on to the caller.
class EmbossJob
{
public:
    static constexpr int32_t kStrikeMs = 160;
    static constexpr int32_t kPauseRoundMs = 500;
    static constexpr int32_t kRestMs = 1000;

    // `table` is read live: a format decoded while the job builds (nested) applies to the lines
    // not yet placed. Every glyph put on the card is appended to `record`.
    EmbossJob(Machine &machine, CardSurface &surface, const FormatTable &table,
              const SetupValues &setup, StrikeRecord &record);

    void RunEmbossJob(const QString &fieldText);

    // The card's size in 0.1 mm, for the diagnosis of glyphs placed off the card.
    void setCardSize(int32_t widthTenths, int32_t heightTenths)
    {
        m_cardWidthTenths = widthTenths;
        m_cardHeightTenths = heightTenths;
    }
    // Whether the strike phase stopped on AbortRequested (a Reset).
    bool stoppedByReset() const { return m_stoppedByReset; }

    // The cell height in pixels for a field's font selector (a decimal digit): 1 takes the
    // Font 1 height; 0, 2 and the undefined 3 to 9 take the Font 0 height.
    int32_t FontHeightPixels(int selector) const;

private:
    void build(const QStringList &lines, EmbossQueue &queue);
    void strike(const EmbossQueue &queue);
    void finalSteps();
    // What the diagnosis says about line i and its field before the line is placed.
    void diagnoseLine(qsizetype i, const QString &line, const FieldDef &field);
    void diagnoseGlyphsOffCard(qsizetype i, const QString &line, const FieldDef &field,
                               int32_t xBase, int32_t yField, int32_t cellHeight);

    Machine &m_machine;
    CardSurface &m_surface;
    const FormatTable &m_table;
    const SetupValues &m_setup;
    StrikeRecord &m_record;
    int32_t m_cardWidthTenths = 0;
    int32_t m_cardHeightTenths = 0;
    bool m_stoppedByReset = false;
    // Where the build phase is, for the diagnosis of a failure (-1: not in a line).
    qsizetype m_atLine = -1;
    qsizetype m_atCharacter = -1;
};
