// The port list: the serial ports of this machine, read from the kernel's tty class folder.

#include "vacomm.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace
{
// "ttyUSB10" after "ttyUSB9".
bool naturalLess(const QString &a, const QString &b)
{
    auto split = [](const QString &s) {
        int i = s.size();
        while (i > 0 && s.at(i - 1).isDigit())
            --i;
        return std::make_pair(s.left(i), s.mid(i).toLongLong());
    };
    return split(a) < split(b);
}
} // namespace

QStringList TVaCustomComm::ListSerialPorts(const QString &SysClassTty)
{
    QDir dir(SysClassTty);
    QStringList uarts, others;
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names) {
        const QString entry = dir.filePath(name);
        // Virtual terminals, ptys and the console have no device behind them.
        if (!QFileInfo::exists(entry + QStringLiteral("/device")))
            continue;
        QFile type(entry + QStringLiteral("/type"));
        if (type.open(QIODevice::ReadOnly)) {
            // A UART slot of the serial core: type 0 means no UART was found there.
            if (type.readAll().trimmed() == "0")
                continue;
            uarts.append(name);
        } else {
            others.append(name);
        }
    }
    std::sort(uarts.begin(), uarts.end(), naturalLess);
    std::sort(others.begin(), others.end(), naturalLess);
    QStringList result = uarts;
    for (const QString &o : others)
        if (!result.contains(o))
            result.append(o);
    return result;
}

void TVaCustomComm::GetComPortNames(QStringList &Value)
{
    Value.clear();
    Value.append(ListSerialPorts(QStringLiteral("/sys/class/tty")));
}
