#include "statustable.h"

#include "protocol.h"

namespace
{

// ACK, the status character, then STX, an 11-character code field, the fault text and ETX.
QString faultReply(char status, const char *code, const char *text)
{
    return Protocol::ack(status) + QChar(Protocol::STX) +
           QString::fromLatin1(code).leftJustified(11, QLatin1Char(' ')) +
           QString::fromLatin1(text) + QChar(Protocol::ETX);
}

} // namespace

StatusRow currentStatus(const EmulatorState &state, const FaultSwitches &faults)
{
    // Built once: a host polls thousands of times a second, and the rows never change.
    static const StatusRow paused{Protocol::ack('W'), QStringLiteral("PAUSE")};
    static const StatusRow inReset{Protocol::ack('R'), QStringLiteral("IN RESET")};
    static const StatusRow busy{Protocol::ack('2'), QStringLiteral("BUSY")};
    static const StatusRow poweredOn{Protocol::ack('P'), QStringLiteral("POWERED ON")};
    static const StatusRow feederEmpty{faultReply('3', "E82", "FEEDER EMPTY"),
                                       QStringLiteral("FEEDER EMPTY")};
    // The display spells it "MISSFEED" while the reply says "MISFEED"; both are the machine's.
    static const StatusRow cardMisfeed{faultReply('3', "E00005E74", "CARD MISFEED"),
                                       QStringLiteral("CARD MISSFEED")};
    static const StatusRow yMotorError{faultReply('5', "E00053E71", "Y MOTOR EMBOSS ERROR"),
                                       QStringLiteral("Y MOTOR EMBOSS ERROR")};
    static const StatusRow xMotorError{faultReply('3', "E79", "X MOTOR MOV ERROR"),
                                       QStringLiteral("X MOTOR MOV ERROR")};
    static const StatusRow ready{Protocol::ack('1'), QStringLiteral("READY")};

    if (state.Paused)
        return paused;
    if (state.InReset)
        return inReset;
    if (state.Busy)
        return busy;
    if (state.PoweredOn)
        return poweredOn;
    if (faults.feederEmpty)
        return feederEmpty;
    if (faults.cardMisfeed)
        return cardMisfeed;
    if (faults.yMotorError)
        return yMotorError;
    if (faults.xMotorError)
        return xMotorError;
    return ready;
}
