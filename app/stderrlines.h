#pragma once

#include <QByteArray>

// Lines for a rig's log on a descriptor (stderr) that must never hold the machine up: a rig
// that never reads the pipe behind it would otherwise stop every handler once the pipe fills.
// A line the descriptor cannot take at once is dropped and counted; once it takes lines again,
// the next line is preceded by one saying how many were dropped.
class StderrLines
{
public:
    explicit StderrLines(int fd = 2) : m_fd(fd) {}

    // Writes `line` and a newline, or drops it; true when written.
    bool write(const QByteArray &line);
    qint64 dropped() const { return m_dropped; }

private:
    bool writeWhole(const QByteArray &bytes);

    int m_fd;
    qint64 m_dropped = 0;
};
