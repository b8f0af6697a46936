#pragma once

// The line configuration as termios, one small function per line setting. A setter changes only
// the bits of its own setting; one that returns false was given a value no tty can take and has
// left T as it was. TVaCustomComm::DCBToTermios and TermiosToDCB put them together.

#include "vadevice.h"
#include "vatypes.h"

// Raw mode: bytes pass unchanged, no echo, no signals, no line editing, no output processing;
// receiver on, modem control lines ignored for reading. VMIN and VTIME stay as they are.
void VaSetRawMode(TVaTermios &T);

// A standard rate becomes its Bnnn code, any other BOTHER; c_ispeed and c_ospeed hold the rate
// either way. False for 0 and for rates above 0x7FFFFFFF.
bool VaSetBaudRate(TVaTermios &T, quint32 Rate);
// The rate of a standard code, else c_ospeed.
quint32 VaBaudRateOf(const TVaTermios &T);

// 5 to 8 data bits (CS5 ... CS8).
bool VaSetDataBits(TVaTermios &T, quint8 DataBits);
quint8 VaDataBitsOf(const TVaTermios &T);

// 0 none, 1 odd, 2 even, 3 mark, 4 space (mark and space through CMSPAR).
bool VaSetParity(TVaTermios &T, quint8 Parity);
quint8 VaParityOf(const TVaTermios &T);
// Parity errors checked on input (INPCK), whatever the parity.
void VaSetParityCheck(TVaTermios &T, bool Check);
bool VaParityCheckOf(const TVaTermios &T);

// 0 one, 1 one and a half, 2 two stop bits. CSTOPB gives 1.5 stop bits with 5 data bits and 2
// with more, so 1.5 is refused unless T already has 5 data bits: set the data bits first.
bool VaSetStopBits(TVaTermios &T, quint8 StopBits);
quint8 VaStopBitsOf(const TVaTermios &T);

// Flow control from the control block's flags: CRTSCTS for CTS output flow or RTS handshake
// (Linux has the two only together), IXON for XON/XOFF output flow, IXOFF for input flow.
void VaSetFlowControl(TVaTermios &T, quint32 DcbFlags);
// The flags a tty's flow control stands for. Linux raises DTR and RTS when a tty is opened:
// DTR enabled, RTS enabled or, under CRTSCTS, handshake with CTS output flow.
quint32 VaFlowControlOf(const TVaTermios &T);

// The XON, XOFF and end-of-file characters (VSTART, VSTOP, VEOF).
void VaSetSpecialChars(TVaTermios &T, const TVaDCB &Dcb);
void VaGetSpecialChars(const TVaTermios &T, TVaDCB &Dcb);
