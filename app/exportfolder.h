#pragma once

#include <QString>

#include <memory>

class QFile;

// The one folder the control port may write into (card pictures, and whatever a rig asks it
// to save later). A local user who can reach the loopback port must not be able to make the
// program write anywhere else with the program's rights: a path is checked after resolving
// its links, and only a regular file is written, opened without following a final link and
// without blocking (a FIFO nobody reads would otherwise hold the whole program in open()).
class ExportFolder
{
public:
    explicit ExportFolder(QString folder = {}) : m_folder(std::move(folder)) {}

    QString folder() const { return m_folder; }
    void setFolder(const QString &folder) { m_folder = folder; }

    // Opens `path` (a relative path counts from the folder) for writing, emptied, creating it
    // when missing. Throws VorlakError with the reason when the path lies outside the folder,
    // is a link, a FIFO, a device or a folder, has other hard links, or cannot be opened.
    // *resolved receives the file's full path inside the folder.
    std::unique_ptr<QFile> openForWriting(const QString &path, QString *resolved = nullptr) const;

private:
    QString m_folder;
};
