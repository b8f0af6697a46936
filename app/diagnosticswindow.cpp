#include "diagnosticswindow.h"

#include "diagnosticslog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

DiagnosticsWindow::DiagnosticsWindow(DiagnosticsLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_list(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("Host-Diagnose"));
    resize(720, 320);
    m_list->setReadOnly(true);
    m_list->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_list->setMaximumBlockCount(static_cast<int>(DiagnosticsLog::kMaxEntries));
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto *clear = new QPushButton(QStringLiteral("CLR"), this);
    auto *close = new QPushButton(QStringLiteral("Exit"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(clear);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    connect(clear, &QPushButton::clicked, &m_log, &DiagnosticsLog::clear);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_log, &DiagnosticsLog::added, this, &DiagnosticsWindow::append);
    connect(&m_log, &DiagnosticsLog::cleared, m_list, &QPlainTextEdit::clear);
    showAll();
}

QString DiagnosticsWindow::text() const
{
    return m_list->toPlainText();
}

void DiagnosticsWindow::showAll()
{
    m_list->clear();
    for (const Diagnostic &diagnostic : m_log.entries())
        append(diagnostic);
}

void DiagnosticsWindow::append(const Diagnostic &diagnostic)
{
    QScrollBar *bar = m_list->verticalScrollBar();
    const bool followsEnd = bar->value() == bar->maximum();
    m_list->appendPlainText(DiagnosticsLog::line(diagnostic));
    if (followsEnd)
        bar->setValue(bar->maximum());
}
