#include "trafficlogview.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPaintEvent>
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
    m_scrollBarSync.setSingleShot(true);
    m_scrollBarSync.setInterval(kScrollBarDelayMs);
    connect(&m_scrollBarSync, &QTimer::timeout, this, &TrafficLogView::syncScrollBar);
    measureFont();
}

void TrafficLogView::measureFont()
{
    const QFontMetricsF metrics(font());
    m_charWidth = std::max<qreal>(1.0, metrics.horizontalAdvance(QLatin1Char('M')));
    m_rawFont = QRawFont::fromFont(font());
    QString ascii(128, QChar());
    for (int code = 0; code < 128; ++code)
        ascii[code] = QChar(code);
    const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(ascii);
    for (int code = 0; code < 128 && code < glyphs.size(); ++code)
        m_asciiGlyphs[code] = glyphs[code];
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

int TrafficLogView::lastFirstLine() const
{
    return std::max(0, lineCount() - visibleLines());
}

bool TrafficLogView::followsEnd() const
{
    return m_firstLine >= lastFirstLine();
}

void TrafficLogView::scrollToLine(int line)
{
    line = std::clamp(line, 0, lastFirstLine());
    if (line == m_firstLine)
        return;
    const int dy = m_firstLine - line;
    m_firstLine = line;
    // What stays in view is moved, not drawn again.
    if (std::abs(dy) < visibleLines())
        viewport()->scroll(0, dy * m_lineHeight);
    else
        viewport()->update();
    if (!m_syncingScrollBar && !m_scrollBarSync.isActive())
        m_scrollBarSync.start();
}

void TrafficLogView::syncScrollBar()
{
    m_scrollBarSync.stop();
    m_syncingScrollBar = true;
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, lastFirstLine());
    bar->setPageStep(visibleLines());
    bar->setSingleStep(1);
    bar->setValue(m_firstLine);
    m_syncingScrollBar = false;
}

void TrafficLogView::relayout(bool keepAtEnd)
{
    m_firstLine = keepAtEnd ? lastFirstLine() : std::min(m_firstLine, lastFirstLine());
    syncScrollBar();
    viewport()->update();
}

void TrafficLogView::append(const QString &text)
{
    if (text.isEmpty())
        return;
    if (m_text.size() + text.size() > m_maxCharacters) {
        cutToNewest(text);
        return;
    }
    const bool keepAtEnd = followsEnd();
    const int linesBefore = lineCount();
    const qsizetype sizeBefore = m_text.size();
    m_text.append(text);
    const int lines = lineCount();
    if (lines != linesBefore) {
        if (keepAtEnd)
            scrollToLine(lastFirstLine());
        if (!m_scrollBarSync.isActive())
            m_scrollBarSync.start();
    }
    // Only the line that held the old end and the new lines changed: repaint the part of them
    // in view.
    const int firstChanged = static_cast<int>(sizeBefore / columns()) - m_firstLine;
    const int lastChanged = lines - 1 - m_firstLine;
    const int lastRow = visibleLines(); // the partly visible line at the bottom
    if (lastChanged < 0 || firstChanged > lastRow)
        return;
    const int top = kMargin + std::max(0, firstChanged) * m_lineHeight;
    const int bottom = kMargin + (std::min(lastChanged, lastRow) + 1) * m_lineHeight;
    viewport()->update(0, top, viewport()->width(), bottom - top);
}

void TrafficLogView::cutToNewest(const QString &text)
{
    const bool keepAtEnd = followsEnd();
    const QString mark = QLatin1String(kCutMark);
    const qsizetype keep = std::max<qsizetype>(0, m_maxCharacters * 3 / 4 - mark.size());
    QString newest =
        text.size() >= keep ? text.right(keep) : m_text.right(keep - text.size()) + text;
    m_text = mark + newest;
    m_anchor = m_cursor = 0;
    relayout(keepAtEnd);
}

void TrafficLogView::clear()
{
    m_text = QString();
    m_anchor = m_cursor = 0;
    relayout(true);
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

void TrafficLogView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette &pal = palette();
    const qsizetype columns = this->columns();
    const qsizetype selectionFrom = std::min(m_anchor, m_cursor);
    const qsizetype selectionTo = std::max(m_anchor, m_cursor);
    // Only the rows the update asks for; the partly visible one at the bottom too.
    const QRect area = event->rect();
    const int fromRow = std::max(0, (area.top() - kMargin) / m_lineHeight);
    const int toRow = std::min(visibleLines(), (area.bottom() - kMargin) / m_lineHeight);
    for (int row = fromRow; row <= toRow; ++row) {
        const qsizetype start = static_cast<qsizetype>(m_firstLine + row) * columns;
        if (start >= m_text.size())
            break;
        const QStringView line = QStringView(m_text).mid(start, columns);
        const int top = kMargin + row * m_lineHeight;
        const int baseline = top + m_ascent;
        painter.setPen(pal.color(QPalette::Text));
        drawRun(painter, QPointF(kMargin, baseline), line);

        const qsizetype from = std::max(selectionFrom, start) - start;
        const qsizetype to = std::min(selectionTo, start + line.size()) - start;
        if (from < to) {
            const QRectF band(kMargin + from * m_charWidth, top, (to - from) * m_charWidth,
                              m_lineHeight);
            painter.fillRect(band, pal.color(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::HighlightedText));
            drawRun(painter, QPointF(band.left(), baseline), line.mid(from, to - from));
        }
    }
}

quint32 TrafficLogView::glyphFor(QChar c) const
{
    if (c.unicode() < 128)
        return m_asciiGlyphs[c.unicode()];
    const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(QString(c));
    return glyphs.isEmpty() ? 0 : glyphs.first();
}

// Places every character in its cell: no shaping, and the cells match the hit test.
void TrafficLogView::drawRun(QPainter &painter, QPointF origin, QStringView text)
{
    if (text.isEmpty() || !m_rawFont.isValid())
        return;
    QList<quint32> glyphs(text.size());
    QList<QPointF> positions(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        glyphs[i] = glyphFor(text[i]);
        positions[i] = QPointF(origin.x() + i * m_charWidth, origin.y());
    }
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

void TrafficLogView::resizeEvent(QResizeEvent *event)
{
    // Whether the view was at the end is judged with the old width's lines.
    const bool keepAtEnd = followsEnd();
    QAbstractScrollArea::resizeEvent(event);
    relayout(keepAtEnd);
}

void TrafficLogView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        const bool keepAtEnd = followsEnd();
        measureFont();
        relayout(keepAtEnd);
    }
}

void TrafficLogView::scrollContentsBy(int, int)
{
    if (m_syncingScrollBar)
        return;
    // The operator moved the scroll bar. Its end is the text's end, even if lines came after
    // the bar was last brought up to date.
    const QScrollBar *bar = verticalScrollBar();
    scrollToLine(bar->value() >= bar->maximum() ? lastFirstLine() : bar->value());
}

qsizetype TrafficLogView::indexAt(const QPoint &pos) const
{
    const int row = std::max(0, (pos.y() - kMargin) / m_lineHeight);
    const qsizetype columns = this->columns();
    const qsizetype column = std::clamp<qsizetype>(
        static_cast<qsizetype>(std::lround((pos.x() - kMargin) / m_charWidth)), 0, columns);
    const qsizetype index = static_cast<qsizetype>(m_firstLine + row) * columns + column;
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
        scrollToLine(0);
    } else if (event == QKeySequence::MoveToEndOfDocument) {
        scrollToLine(lastFirstLine());
    } else {
        // Steps from where the view really is.
        syncScrollBar();
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TrafficLogView::wheelEvent(QWheelEvent *event)
{
    syncScrollBar();
    QAbstractScrollArea::wheelEvent(event);
}

void TrafficLogView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(QStringLiteral("&Copy"), this, &TrafficLogView::copy);
    copyAction->setEnabled(m_anchor != m_cursor);
    menu.addAction(QStringLiteral("Select &All"), this, &TrafficLogView::selectAll);
    menu.exec(event->globalPos());
}
