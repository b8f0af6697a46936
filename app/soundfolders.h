#pragma once

#include <QString>
#include <QStringList>

// Where the sound files are looked for, in this order: the program's own folder (a build tree
// keeps them beside the executable), then the data folder of an installed program (share/vorlak
// beside the bin folder it was installed into, wherever the prefix is). Both end with a
// separator.
QStringList soundFolders(const QString &programFolder);

// The first existing file of that name (case-insensitively) in the folders, or an empty text.
QString findSoundFile(const QStringList &folders, const QString &name);

// The sound file names the machine plays that none of the folders holds.
QStringList missingSoundFiles(const QStringList &folders);
