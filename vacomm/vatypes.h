#pragma once

// Value types of the serial port component: enumerations with their device values, event and
// error bits, and the device control block the settings are turned into.

#include <QtGlobal>

#include <cstdint>
#include <functional>

class QObject;

using TVaIntW = qint32;    // 0..2147483647
using TVaPortInt = qint32; // 0..2147483647

enum TVaBaudrate : quint8 {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity : quint8 { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits : quint8 { db4, db5, db6, db7, db8 };
enum TVaStopbits : quint8 { sb1, sb15, sb2 };
enum TVaControlDtr : quint8 { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts : quint8 { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TVaCommOption : quint8 { coErrorChar, coNullStrip, coParityCheck };
enum TVaCommEvent : quint8 {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TSettingsLocation : quint8 { slINIFile, slRegistry };
enum TRegRootKey : quint8 { rrCURRENTUSER, rrLOCALMACHINE };
enum TThreadPriority : quint8 {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// Sets as bit sets over the enumeration's ordinals (bit n = ordinal n).
using TVaCommOptions = quint8;
using TVaCommEvents = quint16;
constexpr TVaCommOptions vaOption(TVaCommOption o)
{
    return TVaCommOptions(1u << o);
}
constexpr TVaCommEvents vaEvent(TVaCommEvent e)
{
    return TVaCommEvents(1u << e);
}

// Device values of the enumerations.
qint32 VaBaudrateValue(TVaBaudrate b);
quint8 VaParityValue(TVaParity p);
quint8 VaDatabitsValue(TVaDatabits d);
quint8 VaStopbitsValue(TVaStopbits s);
quint32 VaCommOptionFlag(TVaCommOption o);
quint32 VaCommEventBit(TVaCommEvent e);
// OR of the event bits of the members of a set.
quint32 VaEventMaskOf(TVaCommEvents events);

// Event mask bits as the event thread reports them.
enum : quint32 {
    EV_RXCHAR = 0x0001,
    EV_RXFLAG = 0x0002,
    EV_TXEMPTY = 0x0004,
    EV_CTS = 0x0008,
    EV_DSR = 0x0010,
    EV_RLSD = 0x0020,
    EV_BREAK = 0x0040,
    EV_ERR = 0x0080,
    EV_RING = 0x0100,
    EV_PERR = 0x0200,
    EV_RX80FULL = 0x0400,
    EV_EVENT1 = 0x0800,
    EV_EVENT2 = 0x1000
};

// Error flags handed to OnError (the first group comes from the driver's line counters; CE_IOE
// means the device is gone: its other end hung up or the adapter was unplugged).
enum : quint32 {
    CE_RXOVER = 0x0001,
    CE_OVERRUN = 0x0002,
    CE_RXPARITY = 0x0004,
    CE_FRAME = 0x0008,
    CE_BREAK = 0x0010,
    CE_IOE = 0x0400
};

// Hold flags of the status record.
enum : quint32 {
    HOLD_CTS = 0x01,
    HOLD_DSR = 0x02,
    HOLD_RLSD = 0x04,
    HOLD_XOFF = 0x08,
    HOLD_XOFFSENT = 0x10
};

// Modem status bits as the line reads report them.
enum : quint32 { MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80 };

// Line function codes of EscapeFunction.
enum : quint32 {
    SETXOFF = 1,
    SETXON = 2,
    SETRTS = 3,
    CLRRTS = 4,
    SETDTR = 5,
    CLRDTR = 6,
    RESETDEV = 7,
    SETBREAK = 8,
    CLRBREAK = 9
};

// Purge codes.
enum : quint32 {
    PURGE_TXABORT = 0x1,
    PURGE_RXABORT = 0x2,
    PURGE_TXCLEAR = 0x4,
    PURGE_RXCLEAR = 0x8
};

// Flag word bits of the device control block.
enum : quint32 {
    DCB_BINARY = 0x1,
    DCB_PARITY = 0x2,
    DCB_OUTXCTSFLOW = 0x4,
    DCB_OUTXDSRFLOW = 0x8,
    DCB_DTRCONTROL_SHIFT = 4,
    DCB_DSRSENSITIVITY = 0x40,
    DCB_TXCONTINUEONXOFF = 0x80,
    DCB_OUTX = 0x100,
    DCB_INX = 0x200,
    DCB_ERRORCHAR = 0x400,
    DCB_NULL = 0x800,
    DCB_RTSCONTROL_SHIFT = 12,
    DCB_ABORTONERROR = 0x4000
};

// The device control block: the line configuration the settings become. The fields a Linux tty
// has no place for (limits, DSR sensitivity, DTR handshake, ...) are kept by the port beside the
// termios it installs and read back from there.
struct TVaDCB {
    quint32 DCBlength = 28;
    quint32 BaudRate = 0;
    quint32 Flags = 0;
    quint16 wReserved = 0;
    quint16 XonLim = 0;
    quint16 XoffLim = 0;
    quint8 ByteSize = 8;
    quint8 Parity = 0;
    quint8 StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    quint16 wReserved1 = 0;

    bool operator==(const TVaDCB &o) const;
    bool operator!=(const TVaDCB &o) const { return !(*this == o); }
};

// Timeouts record: a read interval timeout of 0xFFFFFFFF with the rest 0 makes every read return
// at once with what is waiting.
struct TVaCommTimeouts {
    quint32 ReadIntervalTimeout = 0;
    quint32 ReadTotalTimeoutMultiplier = 0;
    quint32 ReadTotalTimeoutConstant = 0;
    quint32 WriteTotalTimeoutMultiplier = 0;
    quint32 WriteTotalTimeoutConstant = 0;
};

// The 64-byte capability record of the device.
struct TVaCommProp {
    quint16 wPacketLength;
    quint16 wPacketVersion;
    quint32 dwServiceMask;
    quint32 dwReserved1;
    quint32 dwMaxTxQueue;
    quint32 dwMaxRxQueue;
    quint32 dwMaxBaud;
    quint32 dwProvSubType;
    quint32 dwProvCapabilities;
    quint32 dwSettableParams;
    quint32 dwSettableBaud;
    quint16 wSettableData;
    quint16 wSettableStopParity;
    quint32 dwCurrentTxQueue;
    quint32 dwCurrentRxQueue;
    quint32 dwProvSpec1;
    quint32 dwProvSpec2;
    quint16 wcProvChar[1];
};

// Status record filled by GetStatus: error flags, then the queue status.
struct TVaCommStatus {
    quint32 Errors = 0;
    quint32 Flags = 0; // hold flags
    quint32 cbInQue = 0;
    quint32 cbOutQue = 0;
};

using PVaData = const char *;

// Callbacks. Events are plain std::function values; Sender is the port.
using TNotifyEvent = std::function<void(QObject *Sender)>;
using TVaCommErrorEvent = std::function<void(QObject *Sender, qint32 Errors)>;
using TVaCommRxCharEvent = std::function<void(QObject *Sender, qint32 Count)>;
using TVaCommRxBufEvent = std::function<void(QObject *Sender, PVaData Data, qint32 Count)>;
