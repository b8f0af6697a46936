#include "trafficlogview.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

TrafficLogView::TrafficLogView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    measureFont();
}

void TrafficLogView::measureFont()
{
    const QFontMetricsF metrics(font());
    // Measured over a run of characters, as a line is drawn: a single advance may be rounded
    // differently from the run.
    m_charWidth =
        std::max<qreal>(1.0, metrics.horizontalAdvance(QString(100, QLatin1Char('M'))) / 100.0);
    m_lineHeight = std::max(1, static_cast<int>(std::ceil(metrics.height())));
    m_ascent = static_cast<int>(std::ceil(metrics.ascent()));
}

int TrafficLogView::columns() const
{
    const int width = viewport()->width() - 2 * kMargin;
    return std::max(1, static_cast<int>(width / m_charWidth));
}

int TrafficLogView::lineCount() const
{
    const qsizetype columns = this->columns();
    return static_cast<int>(std::max<qsizetype>(1, (m_text.size() + columns - 1) / columns));
}

int TrafficLogView::visibleLines() const
{
    return std::max(1, (viewport()->height() - kMargin) / m_lineHeight);
}

int TrafficLogView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

bool TrafficLogView::followsEnd() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void TrafficLogView::updateScrollRange(bool keepAtEnd)
{
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, lineCount() - visibleLines()));
    bar->setPageStep(visibleLines());
    bar->setSingleStep(1);
    if (keepAtEnd)
        bar->setValue(bar->maximum());
}

void TrafficLogView::append(const QString &text)
{
    if (text.isEmpty())
        return;
    const bool keepAtEnd = followsEnd();
    const int linesBefore = lineCount();
    m_text.append(text);
    if (lineCount() != linesBefore)
        updateScrollRange(keepAtEnd);
    // Only the last line and any new ones changed; repaint when they can be seen.
    if (linesBefore - 1 <= firstVisibleLine() + visibleLines())
        viewport()->update();
}

void TrafficLogView::clear()
{
    m_text = QString();
    m_anchor = m_cursor = 0;
    updateScrollRange(true);
    viewport()->update();
}

QString TrafficLogView::selectedText() const
{
    const qsizetype from = std::min(m_anchor, m_cursor);
    const qsizetype to = std::max(m_anchor, m_cursor);
    return m_text.mid(from, to - from);
}

void TrafficLogView::selectAll()
{
    m_anchor = 0;
    m_cursor = m_text.size();
    viewport()->update();
}

void TrafficLogView::copy() const
{
    const QString selected = selectedText();
    if (!selected.isEmpty())
        QGuiApplication::clipboard()->setText(selected);
}

void TrafficLogView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette &pal = palette();
    const qsizetype columns = this->columns();
    const qsizetype selectionFrom = std::min(m_anchor, m_cursor);
    const qsizetype selectionTo = std::max(m_anchor, m_cursor);
    // The partly visible line at the bottom is drawn too.
    const int rows = visibleLines() + 1;
    for (int row = 0; row < rows; ++row) {
        const qsizetype start = static_cast<qsizetype>(firstVisibleLine() + row) * columns;
        if (start >= m_text.size())
            break;
        const QString line = m_text.mid(start, columns);
        const int top = kMargin + row * m_lineHeight;
        const int baseline = top + m_ascent;
        painter.setPen(pal.color(QPalette::Text));
        painter.drawText(QPointF(kMargin, baseline), line);

        const qsizetype from = std::max(selectionFrom, start) - start;
        const qsizetype to = std::min(selectionTo, start + line.size()) - start;
        if (from < to) {
            const QRectF band(kMargin + from * m_charWidth, top, (to - from) * m_charWidth,
                              m_lineHeight);
            painter.fillRect(band, pal.color(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::HighlightedText));
            painter.drawText(QPointF(band.left(), baseline), line.mid(from, to - from));
        }
    }
}

void TrafficLogView::resizeEvent(QResizeEvent *event)
{
    const bool keepAtEnd = followsEnd();
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange(keepAtEnd);
}

void TrafficLogView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        const bool keepAtEnd = followsEnd();
        measureFont();
        updateScrollRange(keepAtEnd);
        viewport()->update();
    }
}

void TrafficLogView::scrollContentsBy(int, int)
{
    viewport()->update();
}

qsizetype TrafficLogView::indexAt(const QPoint &pos) const
{
    const int row = std::max(0, (pos.y() - kMargin) / m_lineHeight);
    const qsizetype columns = this->columns();
    const qsizetype column = std::clamp<qsizetype>(
        static_cast<qsizetype>(std::lround((pos.x() - kMargin) / m_charWidth)), 0, columns);
    const qsizetype index = static_cast<qsizetype>(firstVisibleLine() + row) * columns + column;
    return std::clamp<qsizetype>(index, 0, m_text.size());
}

void TrafficLogView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_anchor = m_cursor = indexAt(event->position().toPoint());
    viewport()->update();
}

void TrafficLogView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    m_cursor = indexAt(event->position().toPoint());
    viewport()->update();
}

void TrafficLogView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (event == QKeySequence::MoveToStartOfDocument) {
        verticalScrollBar()->setValue(0);
    } else if (event == QKeySequence::MoveToEndOfDocument) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TrafficLogView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(QStringLiteral("&Copy"), this, &TrafficLogView::copy);
    copyAction->setEnabled(m_anchor != m_cursor);
    menu.addAction(QStringLiteral("Select &All"), this, &TrafficLogView::selectAll);
    menu.exec(event->globalPos());
}
