#pragma once

// A device for the port's logic where a pty cannot show it: modem lines, line counters, write
// failures. Thread-safe (the port's threads call it). signal() wakes the event thread the way an
// arriving byte or a line change wakes it on a real tty.

#include "vadevice.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <mutex>

class FakeDevice : public TVaDevice
{
public:
    FakeDevice();
    ~FakeDevice() override;

    int Open(const QByteArray &Path, bool Exclusive) override;
    void Close() override;
    int Descriptor() const override { return m_fd; }
    int GetAttr(TVaTermios &T) override;
    int SetAttr(const TVaTermios &T) override;
    long Read(char *Buf, size_t Count) override;
    long Write(const char *Buf, size_t Count) override;
    int InQueue(int &Count) override;
    int OutQueue(int &Count) override;
    int GetModemLines(int &Bits) override;
    int SetModemLines(int Bits, bool On) override;
    int SetBreak(bool On) override;
    int Flow(int Action) override;
    int Flush(int Queue) override;
    int GetCounters(TVaLineCounters &C) override;

    // Test side.
    void signal();
    void receive(const QByteArray &bytes, bool wake = true);
    // Raises or drops a modem input line (TIOCM_* bit) and counts the change like a UART.
    void setLine(int bit, bool on, bool wake = true);
    void frameError(bool wake = true);
    void breakReceived(bool wake = true);
    void setWriteErrors(int error, int count);
    QByteArray written() const;
    TVaTermios termios() const;
    int setAttrCalls() const;
    int getAttrCalls() const;
    void clearLog();
    QList<QString> log() const; // "dtr=1", "rts=0", "break=1", "flow=0", "flush=2", ...

    bool hasModemLines = true;
    bool hasCounters = true;
    int openError = 0;
    QByteArray openedPath;

private:
    int m_fd;
    mutable std::mutex m_mutex;
    bool m_open = false;
    TVaTermios m_termios;
    QByteArray m_input;
    QByteArray m_output;
    int m_modem = 0;
    TVaLineCounters m_counters;
    int m_writeError = 0;
    int m_writeErrorsLeft = 0;
    int m_setAttrCalls = 0;
    int m_getAttrCalls = 0;
    QList<QString> m_log;
};
