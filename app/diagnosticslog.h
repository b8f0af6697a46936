#pragma once

#include "diagnostic.h"

#include <QObject>

#include <deque>

class Machine;

// The list of the machine's host-data diagnostics: the newest kMaxEntries are kept, older ones
// only counted. It listens for the whole run, so the list is there when a rig or the operator
// asks for it.
class DiagnosticsLog : public QObject
{
    Q_OBJECT
public:
    static constexpr std::size_t kMaxEntries = 10000;

    explicit DiagnosticsLog(Machine &machine, QObject *parent = nullptr);

    const std::deque<Diagnostic> &entries() const { return m_entries; }
    // Every diagnostic since the last clear(), those no longer kept included.
    qint64 count() const { return m_count; }
    void clear();

    // One line for a log: "diagnostic <seq> [<link>] [job <n>] <code>: <message>".
    static QString line(const Diagnostic &diagnostic);

signals:
    void added(const Diagnostic &diagnostic);
    void cleared();

private:
    void add(const Diagnostic &diagnostic);

    std::deque<Diagnostic> m_entries;
    qint64 m_count = 0;
};
