#pragma once

#include <QString>
#include <QStringList>

// The serial devices of this machine, as "/dev/<name>" paths, read from the kernel's tty class
// folder (normally /sys/class/tty): every tty with a device and driver behind it (USB adapters
// ttyUSB*, modems ttyACM*, on-board ports ttyAMA*, ...), except 8250-style ports ttyS* whose
// UART type is 0 ("unknown": the kernel reserves those names whether or not a port exists),
// plus Bluetooth ports rfcomm*, which have no driver link. Virtual consoles and pseudo-terminals
// have no device and are left out. The names are sorted by their stem, then by number
// (ttyS2 before ttyS10).
//
// ttyClassRoot lets tests describe a machine with a folder of their own.
QStringList SystemSerialDevices(const QString &ttyClassRoot = QStringLiteral("/sys/class/tty"));
