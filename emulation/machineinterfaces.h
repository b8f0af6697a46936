#pragma once

#include "statustable.h"

#include <QString>

// What the machine needs of the main window: the display, the status bar, the fault check
// boxes, the card view and the traffic monitor. Kept narrow so tests can drive the machine
// through the real window or through a stand-in.
class MachinePanel
{
public:
    virtual ~MachinePanel() = default;
    virtual void showDisplayText(const QString &text) = 0;
    virtual QString statusPanelText(int panel) const = 0;
    virtual void setStatusPanelText(int panel, const QString &text) = 0;
    virtual FaultSwitches faultSwitches() const = 0;
    virtual void invalidateCardView() = 0;
    // Direction 0: received, 1: sent.
    virtual void logTraffic(int direction, const QString &text) = 0;
};

// A carrier of replies to the host (the TCP server, the serial port).
class HostLink
{
public:
    virtual ~HostLink() = default;
    virtual void sendReply(const QString &text) = 0;
};

// Decodes a complete message (a format definition or emboss data); returns when it has been
// processed, for emboss data after the whole job.
class MessageInterpreter
{
public:
    virtual ~MessageInterpreter() = default;
    virtual void InterpretMessage(const QString &message) = 0;
};

// Starts playing a WAV file and returns at once; a new sound cuts off the one playing.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void PlaySoundFile(const QString &path) = 0;
};
