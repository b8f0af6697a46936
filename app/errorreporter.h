#pragma once

#include "stderrlines.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>

class QMessageBox;

// Where the standard error box's messages go. Nothing may wait for a person: every message
// goes to stderr as one line (dropped rather than waited for when nobody reads the pipe) and
// into a list the test rig's control port reads. With a window the box shows as well, without
// a nested event loop (a job that runs meanwhile strikes on), and never more than one at a
// time: a message while a box is open is only listed.
class ErrorReporter : public QObject
{
    Q_OBJECT
public:
    struct Entry {
        QDateTime time;
        QString text;
    };

    // The list keeps the latest messages; older ones are counted, not kept.
    static constexpr std::size_t kMaxEntries = 10000;

    explicit ErrorReporter(bool headless, QObject *parent = nullptr);
    ~ErrorReporter() override;

    bool headless() const { return m_headless; }
    void setHeadless(bool headless) { m_headless = headless; }

    // The message as the box shows it (full-stop rule already applied).
    void report(const QString &text);

    const std::deque<Entry> &entries() const { return m_entries; }
    // Every message since the last clear(), the ones no longer kept included.
    qint64 count() const { return m_count; }
    void clear();

    // The text of the open box, or an empty text when none is open.
    QString openBoxText() const;
    // Closes the open box as its OK button would; false when none was open.
    bool dismissBox();
    // Runs `then` at once when no box is open, otherwise once the open box has closed.
    void whenNoBoxOpen(std::function<void()> then);

signals:
    void reported(const QString &text);
    void boxClosed();

private:
    void showBox(const QString &text);

    bool m_headless;
    std::deque<Entry> m_entries;
    qint64 m_count = 0;
    QPointer<QMessageBox> m_box;
    StderrLines m_stderr;
};
