#pragma once

#include "machineinterfaces.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QSoundEffect;

// Plays WAV files asynchronously with QSoundEffect. Starting a sound cuts off the one playing.
// A file that is missing or cannot be played gives the system's beep instead, as does a
// machine without an audio device (then the program simply goes on). A file missing from the
// folder it is asked for is looked for in the fallback folders, in order.
class QtSoundPlayer : public QObject, public SoundPlayer
{
    Q_OBJECT
public:
    explicit QtSoundPlayer(QStringList fallbackFolders = {}, QObject *parent = nullptr);
    void PlaySoundFile(const QString &path) override;

private:
    QSoundEffect *effectFor(const QString &path);

    QStringList m_fallbackFolders;
    QHash<QString, QSoundEffect *> m_effects;
    QPointer<QSoundEffect> m_playing;
};

// Resolves a file name case-insensitively inside its folder ("Reset.wav" finds "reset.wav"),
// as the machine's sound names were chosen on a case-insensitive file system. Gives the path of
// the existing file, or an empty text.
QString resolveFileCaseInsensitive(const QString &path);
