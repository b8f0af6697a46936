#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// One tty as the kernel's tty class folder (normally /sys/class/tty) shows it.
struct TtyClassEntry {
    QString name;        // "ttyUSB0": the node under /dev
    bool hasDevice;      // a "device" behind it; virtual consoles and ptys have none
    bool hasDriver;      // a driver bound to that device ("device/driver")
    bool hasUartType;    // a "type" file: a UART slot of the serial core (8250-style ports)
    QByteArray uartType; // its contents without surrounding blanks; "0": no UART found there
};

using TtyClassFilter = std::function<bool(const TtyClassEntry &)>;

// The entries of ttyClassRoot that keep accepts, sorted by their stem, then by their trailing
// number (ttyS2 before ttyS10). Callers differ in what counts as a serial device, so the filter
// is theirs; a missing folder gives none.
QList<TtyClassEntry> ttyClassEntries(const QString &ttyClassRoot, const TtyClassFilter &keep);
