#pragma once

#include <QAbstractScrollArea>
#include <QRawFont>
#include <QTimer>

#include <array>

// A read-only view of a text that only grows: one side of the traffic monitor.
//
// Appending costs the same however long the text already is: the text is one string that grows
// at its end; only the changed lines in view are painted, and a view that follows the end
// scrolls by moving what it already shows. The text is shown in a fixed-pitch font and wraps at
// the view's width character by character (it has no line breaks of its own); each character is
// drawn in its cell of that grid, without shaping the text anew on every paint. The scroll bar
// follows the view at most every kScrollBarDelayMs (drawing it costs more than a line of text).
//
// While the last line is in view the view follows the end; once the operator has scrolled away
// it stays where it is until the operator scrolls back to the end. The operator can select with
// the mouse and copy (Ctrl+C, Ctrl+A, context menu).
class TrafficLogView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit TrafficLogView(QWidget *parent = nullptr);

    void append(const QString &text);
    // For tests: a smaller bound.
    void setMaxCharacters(qsizetype maxCharacters) { m_maxCharacters = maxCharacters; }
    void clear();
    const QString &text() const { return m_text; }

    // Characters per line at the view's current width.
    int columns() const;
    // Lines the text takes (at least 1).
    int lineCount() const;
    // Whole lines the view shows at once (at least 1).
    int visibleLines() const;
    int firstVisibleLine() const { return m_firstLine; }
    // Shows the given line at the top (bounded to the text).
    void scrollToLine(int line);
    // True when the view shows the end of the text.
    bool followsEnd() const;

    QString selectedText() const;
    void selectAll();
    void copy() const;

    // The text keeps only its newest part: past kMaxCharacters the oldest characters go, down to
    // three quarters of the bound (so a flood costs constant time per character), and the text
    // then starts with kCutMark.
    static constexpr qsizetype kMaxCharacters = 16 * 1024 * 1024;
    static constexpr const char *kCutMark = "[... older traffic cut ...]";

    static constexpr int kMargin = 2;
    static constexpr int kScrollBarDelayMs = 40;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void measureFont();
    void cutToNewest(const QString &text);
    void drawRun(QPainter &painter, QPointF origin, QStringView text);
    quint32 glyphFor(QChar c) const;
    int lastFirstLine() const;
    // Brings the scroll bar up to the view's state.
    void syncScrollBar();
    // Keeps the view at the end if it was there, else within the text; syncs at once.
    void relayout(bool keepAtEnd);
    qsizetype indexAt(const QPoint &viewportPos) const;

    QString m_text;
    qsizetype m_maxCharacters = kMaxCharacters;
    int m_firstLine = 0;
    bool m_syncingScrollBar = false;
    QTimer m_scrollBarSync;
    qsizetype m_anchor = 0; // selection: where the mouse went down
    qsizetype m_cursor = 0; // and where it is now
    QRawFont m_rawFont;
    std::array<quint32, 128> m_asciiGlyphs{};
    qreal m_charWidth = 1;
    int m_lineHeight = 1;
    int m_ascent = 0;
};
