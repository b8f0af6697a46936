#pragma once

#include <QWidget>

class DiagnosticsLog;
class QPlainTextEdit;
struct Diagnostic;

// "Host-Diagnose": the diagnostics of what the host sent, one line each, newest last. While the
// last line is in view the list follows the end, as the traffic monitor does; once the operator
// has scrolled away it stays there.
class DiagnosticsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit DiagnosticsWindow(DiagnosticsLog &log, QWidget *parent = nullptr);

    QString text() const;

private:
    void append(const Diagnostic &diagnostic);
    void showAll();

    DiagnosticsLog &m_log;
    QPlainTextEdit *m_list = nullptr;
};
