#include "digitedit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

TDigitEdit::TDigitEdit(const QString &text, int maxDigits, QWidget *parent)
    : QLineEdit(text, parent), m_maxDigits(maxDigits)
{
    setAcceptDrops(false);
    // Composed input could bring any character; the field takes digits only.
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void TDigitEdit::insertFromOperator(const QString &text)
{
    const qsizetype room = m_maxDigits - (this->text().size() - selectedText().size());
    QString digits;
    for (const QChar c : text) {
        if (digits.size() >= room)
            break;
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits.append(c);
    }
    if (!digits.isEmpty())
        insert(digits);
}

void TDigitEdit::pasteFromClipboard()
{
    if (!isReadOnly())
        insertFromOperator(QGuiApplication::clipboard()->text());
}

void TDigitEdit::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Paste) {
        pasteFromClipboard();
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && std::all_of(typed.begin(), typed.end(),
                                                           [](QChar c) { return c.isPrint(); });
    if (printable && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        if (!isReadOnly())
            insertFromOperator(typed);
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TDigitEdit::mouseReleaseEvent(QMouseEvent *event)
{
    // The X11 selection paste goes through the same filter.
    if (event->button() == Qt::MiddleButton) {
        if (!isReadOnly() && QGuiApplication::clipboard()->supportsSelection())
            insertFromOperator(QGuiApplication::clipboard()->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TDigitEdit::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions) {
        if (action->objectName() == QLatin1String("edit-paste")) {
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this, &TDigitEdit::pasteFromClipboard);
        }
    }
    menu->popup(event->globalPos());
}
