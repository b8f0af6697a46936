#include "lcdscreen.h"

#include <QPainter>

TLCDScreen::TLCDScreen(QWidget *parent) : QWidget(parent)
{
    resize(157, 28);
}

void TLCDScreen::setLines(const QStringList &lines)
{
    m_lines = lines;
    repaint();
}

void TLCDScreen::setColor(quint32 color)
{
    m_color = color;
    repaint();
}

void TLCDScreen::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(m_color & 0xFF, (m_color >> 8) & 0xFF, (m_color >> 16) & 0xFF));
    p.drawText(rect().adjusted(4, 0, 0, 0), Qt::AlignVCenter, m_lines.join(QLatin1Char('\n')));
}
