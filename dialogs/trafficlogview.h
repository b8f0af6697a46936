#pragma once

#include <QAbstractScrollArea>

// A read-only view of a text that only grows: one side of the traffic monitor.
//
// Appending costs the same however long the text already is: the text is one string that grows
// at its end, and only the lines in view are laid out and painted. The text is shown in a
// fixed-pitch font and wraps at the view's width character by character (it has no line breaks
// of its own). While the last line is in view the view follows the end; once the operator has
// scrolled away it stays where it is until the operator scrolls back to the end. The operator
// can select with the mouse and copy (Ctrl+C, Ctrl+A, context menu).
class TrafficLogView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit TrafficLogView(QWidget *parent = nullptr);

    void append(const QString &text);
    void clear();
    const QString &text() const { return m_text; }

    // Characters per line at the view's current width.
    int columns() const;
    // Lines the text takes (at least 1).
    int lineCount() const;
    // Whole lines the view shows at once (at least 1).
    int visibleLines() const;
    int firstVisibleLine() const;
    // True when the view shows the end of the text.
    bool followsEnd() const;

    QString selectedText() const;
    void selectAll();
    void copy() const;

    static constexpr int kMargin = 2;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void measureFont();
    void updateScrollRange(bool keepAtEnd);
    qsizetype indexAt(const QPoint &viewportPos) const;

    QString m_text;
    qsizetype m_anchor = 0; // selection: where the mouse went down
    qsizetype m_cursor = 0; // and where it is now
    qreal m_charWidth = 1;
    int m_lineHeight = 1;
    int m_ascent = 0;
};
