#pragma once

// A card surface that draws nothing and keeps every drawing call, so decoder and job tests can
// check what went on the card, in which colour and order, without a window.

#include "cardsurface.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

class RecordingCardSurface : public CardSurface
{
public:
    struct Drawn {
        QString text;
        int x = 0;
        int y = 0;
        int angle = 0; // 0: TextOut; otherwise DrawRotatedText's angle
        int cellHeight = 0;
        QColor colour;
    };

    int ppi() const override { return 96; }
    void SetCardSize(int32_t width, int32_t height) override
    {
        cardWidth = width;
        cardHeight = height;
        ++sizings;
        drawn.clear();
    }
    void repaintNow() override
    {
        ++repaints;
        drawn.clear();
    }
    void setTextFont(const QString &name, bool bold, const QColor &colour, int cellHeight) override
    {
        fontName = name;
        fontBold = bold;
        m_colour = colour;
        m_cellHeight = cellHeight;
    }
    void setTextHeight(int cellHeight) override { m_cellHeight = cellHeight; }
    void setTextColour(const QColor &colour) override { m_colour = colour; }
    int TextHeight(const QString &) const override { return m_cellHeight; }
    void TextOut(int x, int y, const QString &text) override
    {
        drawn.append({text, x, y, 0, m_cellHeight, m_colour});
    }
    void DrawRotatedText(const QString &text, int x, int angle, int y) override
    {
        drawn.append({text, x, y, angle, m_cellHeight, m_colour});
    }

    // "H@97,100/28 #ffffff" per call, in order: easy to compare whole.
    QStringList describe() const
    {
        QStringList out;
        for (const Drawn &d : drawn) {
            QString line = QStringLiteral("%1@%2,%3/%4 %5")
                               .arg(d.text)
                               .arg(d.x)
                               .arg(d.y)
                               .arg(d.cellHeight)
                               .arg(d.colour.name());
            if (d.angle != 0)
                line += QStringLiteral(" turned %1").arg(d.angle);
            out.append(line);
        }
        return out;
    }

    int32_t cardWidth = 0;
    int32_t cardHeight = 0;
    int sizings = 0;
    int repaints = 0;
    QString fontName;
    bool fontBold = false;
    // What is on the card since its last repaint or sizing.
    QList<Drawn> drawn;

private:
    QColor m_colour;
    int m_cellHeight = 0;
};
