#pragma once

#include <QString>
#include <QStringList>

class SoundPlayer;

// How the program was started: from the command line, or by a test.
struct AppOptions {
    QString dataFolder;           // empty: the default XDG location + "Vorlak/"
    double speed = 1.0;           // divides every machine wait; 1 is the machine's own pace
    SoundPlayer *sound = nullptr; // null: play through the audio device
    QStringList extraSerialPorts; // devices offered in the setup dialog besides the system's
};
