#pragma once

#include "diagnostic.h"
#include "journalfile.h"
#include "machine.h"

#include <QObject>

class TfrmVorlak;

// The traffic journal: one JSON line per received chunk and per reply, whatever the monitor
// does, and one per diagnostic, operator action and job end ("dir":"event"), each with the
// milliseconds since start. The lines go to a JournalFile, which never holds the GUI up.
class TrafficJournal : public QObject
{
    Q_OBJECT
public:
    explicit TrafficJournal(TfrmVorlak &window, QObject *parent = nullptr);
    ~TrafficJournal() override;

    // Opens the file and starts recording; false with the reason in *error.
    bool open(const QString &path, qint64 maxBytes, QString *error);
    // Writes what is pending and stops recording.
    void close();

    // A JSON string literal (quotes included) of `text`.
    static QByteArray quoted(const QString &text);

private:
    void traffic(Machine::Direction direction, const QString &text);
    void diagnosed(const Diagnostic &diagnostic);
    void operatorAction(const QString &action);
    void jobFinished(const FinishedJob &job);
    QByteArray begin(const char *dir) const;

    TfrmVorlak &m_window;
    Machine &m_machine;
    JournalFile m_file;
};
