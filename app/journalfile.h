#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// An append-only file of lines that the GUI thread fills without waiting for the disk: lines
// are collected in memory and a writer thread of its own writes them out at least every
// kFlushMs, and everything at close(). Past `maxBytes` the file is renamed to <path>.1
// (replacing an older one) and a new file is begun. Should the disk fall behind by more than
// kMaxPendingBytes, further lines are left out and counted, and a line says how many.
//
// append() may be called from any thread; open() and close() from the owner's.
class JournalFile
{
public:
    static constexpr int kFlushMs = 100;
    static constexpr qint64 kMaxPendingBytes = 32 * 1024 * 1024;

    JournalFile() = default;
    ~JournalFile();
    JournalFile(const JournalFile &) = delete;
    JournalFile &operator=(const JournalFile &) = delete;

    // Opens (creating, appending to) a regular file; false with the reason in *error.
    bool open(const QString &path, qint64 maxBytes, QString *error);
    bool isOpen() const { return m_writer.joinable(); }
    // Queues one line (without its newline).
    void append(const QByteArray &line);
    // Writes what is queued and stops the writer; the file is closed.
    void close();

private:
    void run();
    void write(const QByteArray &batch);
    void rotate();

    QString m_path;
    qint64 m_maxBytes = 0;
    int m_fd = -1;     // only the writer touches these two once it runs
    qint64 m_size = 0; // of the current file
    std::thread m_writer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QByteArray m_pending;     // under m_mutex
    qint64 m_dropped = 0;     // under m_mutex
    bool m_accepting = false; // under m_mutex: open and not yet closing
};
