#pragma once

#include <QColor>
#include <QString>

#include <cstdint>

// The card picture as the emulation draws on it: its size from the format, and text drawn
// straight onto it. Drawn text is not part of the card's painting: an explicit repaint (a new
// message, Reset, Clear, a new background or card size) erases it.
//
// The text state (font, colour, cell height) persists between calls; whoever draws sets what it
// needs. Text is always drawn with a transparent background.
class CardSurface
{
public:
    virtual ~CardSurface() = default;

    // Logical pixels per inch of the display the card is shown on.
    virtual int ppi() const = 0;

    // Sizes the card to width x height in 0.1 mm, renews its rounded outline and repaints it.
    virtual void SetCardSize(int32_t width, int32_t height) = 0;
    // Repaints the card at once: background only, every glyph erased.
    virtual void repaintNow() = 0;

    // The font by name and style, its colour and its full cell height (ascent plus descent).
    virtual void setTextFont(const QString &name, bool bold, const QColor &colour,
                             int cellHeight) = 0;
    virtual void setTextHeight(int cellHeight) = 0;
    virtual void setTextColour(const QColor &colour) = 0;

    // The current font's cell height in pixels.
    virtual int TextHeight(const QString &text) const = 0;
    // Draws text with its cell's top-left corner at (x, y).
    virtual void TextOut(int x, int y, const QString &text) = 0;
    // Draws text turned counter-clockwise by `angle` degrees about (x, y), which is the top-left
    // corner of the unturned cell: at 180 degrees the cell ends at (x, y).
    virtual void DrawRotatedText(const QString &text, int x, int angle, int y) = 0;
};
