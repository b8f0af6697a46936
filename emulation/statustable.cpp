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
    if (state.Paused)
        return {Protocol::ack('W'), QStringLiteral("PAUSE")};
    if (state.InReset)
        return {Protocol::ack('R'), QStringLiteral("IN RESET")};
    if (state.Busy)
        return {Protocol::ack('2'), QStringLiteral("BUSY")};
    if (state.PoweredOn)
        return {Protocol::ack('P'), QStringLiteral("POWERED ON")};
    if (faults.feederEmpty)
        return {faultReply('3', "E82", "FEEDER EMPTY"), QStringLiteral("FEEDER EMPTY")};
    // The display spells it "MISSFEED" while the reply says "MISFEED"; both are the machine's.
    if (faults.cardMisfeed)
        return {faultReply('3', "E00005E74", "CARD MISFEED"), QStringLiteral("CARD MISSFEED")};
    if (faults.yMotorError)
        return {faultReply('5', "E00053E71", "Y MOTOR EMBOSS ERROR"),
                QStringLiteral("Y MOTOR EMBOSS ERROR")};
    if (faults.xMotorError)
        return {faultReply('3', "E79", "X MOTOR MOV ERROR"), QStringLiteral("X MOTOR MOV ERROR")};
    return {Protocol::ack('1'), QStringLiteral("READY")};
}
