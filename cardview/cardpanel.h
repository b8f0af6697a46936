#pragma once

// Stand-in for the card view until its drawing lands: a white panel of the design size.

#include <QWidget>

class CardPanel : public QWidget
{
    Q_OBJECT
public:
    explicit CardPanel(QWidget *parent = nullptr);
    // Repaints the card, which erases every struck glyph.
    void invalidateCard() { update(); }
};
