// The port list: the serial ports of this machine, read from the kernel's tty class folder.

#include "vacomm.h"

#include "ttyclass.h"

#include <algorithm>

namespace
{

// A tty with a device behind it, except a UART slot of the serial core that holds no UART
// (type 0). Hidden entries are no ttys.
bool isSerialPort(const TtyClassEntry &entry)
{
    return entry.hasDevice && !entry.name.startsWith(QLatin1Char('.')) &&
           !(entry.hasUartType && entry.uartType == "0");
}

} // namespace

QStringList TVaCustomComm::ListSerialPorts(const QString &SysClassTty)
{
    QList<TtyClassEntry> entries = ttyClassEntries(SysClassTty, isSerialPort);
    // UART slots first; both groups stay in their natural order.
    std::stable_partition(entries.begin(), entries.end(),
                          [](const TtyClassEntry &entry) { return entry.hasUartType; });
    QStringList names;
    for (const TtyClassEntry &entry : entries)
        names.append(entry.name);
    return names;
}

void TVaCustomComm::GetComPortNames(QStringList &Value)
{
    Value.clear();
    Value.append(ListSerialPorts(QStringLiteral("/sys/class/tty")));
}
