#include "diagnosticslog.h"

#include "machine.h"

DiagnosticsLog::DiagnosticsLog(Machine &machine, QObject *parent) : QObject(parent)
{
    connect(&machine, &Machine::diagnosed, this, &DiagnosticsLog::add);
}

void DiagnosticsLog::add(const Diagnostic &diagnostic)
{
    m_entries.push_back(diagnostic);
    if (m_entries.size() > kMaxEntries)
        m_entries.pop_front();
    ++m_count;
    emit added(diagnostic);
}

void DiagnosticsLog::clear()
{
    m_entries.clear();
    m_count = 0;
    emit cleared();
}

QString DiagnosticsLog::line(const Diagnostic &d)
{
    QString text = QStringLiteral("diagnostic %1").arg(d.sequence);
    if (d.link.kind != HostLinkId::Kind::None)
        text += QLatin1Char(' ') + d.link.toString();
    if (d.job != 0)
        text += QStringLiteral(" job %1").arg(d.job);
    return text + QLatin1Char(' ') + d.code + QStringLiteral(": ") + d.message;
}
