#pragma once

// Stand-ins for what surrounds the machine in the program, for tests and fuzz targets that run
// the emulation alone: the window's side (what the machine announces, the fault switches), the
// sound and a link that keeps the replies.

#include "machine.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// Records what the machine announces, as the main window would show it.
class StandInPanel : public QObject
{
public:
    explicit StandInPanel(Machine &machine) : m_machine(machine)
    {
        connect(&machine, &Machine::displayTextChanged, this,
                [this](const QString &text) { display = text; });
        connect(&machine, &Machine::activityChanged, this, [this](bool on) {
            activity = on;
            ++activityChanges;
        });
        connect(&machine, &Machine::jobTagChanged, this,
                [this](const QString &tag) { jobTag = tag; });
        connect(&machine, &Machine::linkStateChanged, this,
                [this](Machine::LinkState state) { linkState = state; });
        connect(&machine, &Machine::cardErased, this, [this] { ++cardErasures; });
        connect(&machine, &Machine::traffic, this,
                [this](Machine::Direction direction, const QString &text) {
                    (direction == Machine::Direction::Received ? received : sent).append(text);
                });
    }

    // The operator's fault check boxes.
    void setFaults(const FaultSwitches &faults) { m_machine.setFaultSwitches(faults); }

    QString display;
    bool activity = false;
    int activityChanges = 0;
    QString jobTag;
    Machine::LinkState linkState = Machine::LinkState::Waiting;
    int cardErasures = 0;
    // The traffic in each direction, as the monitor would log it.
    QStringList received;
    QStringList sent;

private:
    Machine &m_machine;
};

// Keeps the names of the sound files played, in order, and tells each one to onPlay.
class RecordingSound : public SoundPlayer
{
public:
    void PlaySoundFile(const QString &path) override
    {
        played.append(path.section('/', -1));
        if (onPlay)
            onPlay(played.last());
    }
    QStringList played;
    std::function<void(const QString &)> onPlay;
};

class RecordingLink : public HostLink
{
public:
    void sendReply(const QString &text) override { replies.append(text); }
    QStringList replies;
};
