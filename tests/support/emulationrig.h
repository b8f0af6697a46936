#pragma once

// The emulation alone, as a host and the operator see it: a machine with the real decoder, a
// recording card surface, the stand-in panel, a link that keeps the replies and waits shrunk to
// nothing. Host bytes go straight into the machine's receive entry; an error the program would
// show in its error box is kept instead.

#include "machine.h"
#include "messagedecoder.h"
#include "recordingcardsurface.h"
#include "standinpanel.h"
#include "vorlakerror.h"

#include <QByteArray>
#include <QStringList>

// Setup values with fixed font heights in millimetres and Reverse as given.
inline SetupValues fixedSetup(int font0, int font1, bool reverse = false)
{
    SetupValues setup;
    setup.font0Height = [font0] { return font0; };
    setup.font1Height = [font1] { return font1; };
    setup.reverse = [reverse] { return reverse; };
    return setup;
}

class EmulationRig
{
public:
    explicit EmulationRig(SetupValues setup = fixedSetup(5, 8))
        : decoder(machine, card, std::move(setup))
    {
        machine.clock().setSpeed(1e6);
        machine.addLink(&link);
        machine.setInterpreter(&decoder);
    }
    ~EmulationRig() { machine.removeLink(&link); }

    // One chunk of host bytes (ASCII), as a link's read step hands it over; returns the replies
    // it caused.
    QStringList send(const QByteArray &bytes)
    {
        const qsizetype before = link.replies.size();
        try {
            machine.receive(QString::fromLatin1(bytes));
        } catch (const VorlakError &error) {
            errors.append(QString::fromUtf8(error.what()));
        }
        return link.replies.mid(before);
    }

    QString struck() const
    {
        QString out;
        for (const StruckGlyph &g : decoder.lastJobStrikes())
            out += g.character;
        return out;
    }

    RecordingSound sound;
    Machine machine{sound, QString()};
    StandInPanel panel{machine};
    RecordingLink link;
    RecordingCardSurface card;
    MessageDecoder decoder;
    QStringList errors;
};
