#include "serialdevices.h"

#include "ttyclass.h"

namespace
{

bool isRealDevice(const TtyClassEntry &entry)
{
    if (entry.name.startsWith(QLatin1String("rfcomm")))
        return true;
    if (!entry.hasDriver)
        return false;
    if (entry.name.startsWith(QLatin1String("ttyS")) && entry.hasUartType) {
        bool isNumber = false;
        const int uart = entry.uartType.toInt(&isNumber);
        return !isNumber || uart != 0;
    }
    return true;
}

} // namespace

QStringList SystemSerialDevices(const QString &ttyClassRoot)
{
    QStringList devices;
    for (const TtyClassEntry &entry : ttyClassEntries(ttyClassRoot, isRealDevice))
        devices.append(QStringLiteral("/dev/") + entry.name);
    return devices;
}
