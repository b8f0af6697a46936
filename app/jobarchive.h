#pragma once

#include "diagnostic.h"
#include "exportfolder.h"
#include "stderrlines.h"

#include <QJsonObject>
#include <QObject>

#include <deque>
#include <map>
#include <vector>

class TfrmVorlak;

// The job archive: when a job ends (done, stopped by Reset, or failed), its card picture and a
// description go into one folder as <6-digit job number>-<tag>.png and .json. The files are
// written as the control port's save_card writes: below the folder only, never through a link.
// A file that cannot be written is said on stderr and in the job's entry; the machine goes on.
class JobArchive : public QObject
{
    Q_OBJECT
public:
    struct Entry {
        int job = 0;
        QString tag;
        QString outcome; // "done", "reset" or "error"
        QString png;     // the files written (full paths)
        QString json;
        QString problem; // why a file is missing; empty when both were written
    };
    // The list keeps the latest entries; the files stay however many there are.
    static constexpr std::size_t kMaxEntries = 10000;

    JobArchive(TfrmVorlak &window, const QString &folder, QObject *parent = nullptr);

    QString folder() const { return m_folder.folder(); }
    const std::deque<Entry> &entries() const { return m_entries; }

    // The tag as part of a file name: letters, digits, "-" and "_" stay, anything else
    // (a path separator, a dot, a control character, a blank) becomes "_".
    static QString safeTag(const QString &tag);
    static QString outcomeName(FinishedJob::Outcome outcome);

private:
    void collect(const Diagnostic &diagnostic);
    void archive(const FinishedJob &job);
    QJsonObject description(const FinishedJob &job) const;

    TfrmVorlak &m_window;
    ExportFolder m_folder;
    std::map<int, std::vector<Diagnostic>> m_diagnostics; // of the jobs still running
    std::deque<Entry> m_entries;
    StderrLines m_stderr;
};
