#pragma once

#include <QString>

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
