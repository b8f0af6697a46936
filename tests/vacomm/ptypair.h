#pragma once

// A pseudo-terminal pair for tests: the port opens the slave by its path, the test plays the
// other end on the master.

#include <QByteArray>
#include <QString>

#include <cstdint>

class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_path; }
    int master() const { return m_master; }
    int slave() const { return m_slave; }

    void send(const QByteArray &bytes);
    // Reads what the port sent, until `count` bytes came or `timeoutMs` passed without more.
    QByteArray receive(int count, int timeoutMs = 2000);
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// The slave's speeds and CBAUD bits as the kernel's termios2 has them.
bool ptyReadSpeed(int fd, uint32_t &cbaud, uint32_t &ispeed, uint32_t &ospeed);
// CPU time (user + system) the process used so far, in milliseconds.
double processCpuMs();
