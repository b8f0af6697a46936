#pragma once

#include <QLineEdit>

// An edit field for a number the operator types: typed or pasted characters other than digits
// are refused and the operator's input stops at maxDigits characters. Text the program sets
// with setText() is taken as it comes, as the settings file gives it (a longer or non-numeric
// value is shown, and written back, unchanged).
class TDigitEdit : public QLineEdit
{
    Q_OBJECT
public:
    TDigitEdit(const QString &text, int maxDigits, QWidget *parent = nullptr);

    int maxDigits() const { return m_maxDigits; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // Inserts the digits of text in place of the selection, as many as there is room for.
    void insertFromOperator(const QString &text);
    void pasteFromClipboard();

    int m_maxDigits;
};
