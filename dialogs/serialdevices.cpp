#include "serialdevices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace
{

bool isRealDevice(const QDir &root, const QString &name)
{
    if (name.startsWith(QLatin1String("rfcomm")))
        return true;
    if (!QFileInfo::exists(root.filePath(name + QStringLiteral("/device/driver"))))
        return false;
    if (name.startsWith(QLatin1String("ttyS"))) {
        QFile type(root.filePath(name + QStringLiteral("/type")));
        if (type.open(QIODevice::ReadOnly)) {
            bool isNumber = false;
            const int uart = QString::fromLatin1(type.readAll()).trimmed().toInt(&isNumber);
            return !isNumber || uart != 0;
        }
    }
    return true;
}

// "ttyUSB10" -> ("ttyUSB", 10); a name without a trailing number sorts by its text alone.
bool naturalLess(const QString &a, const QString &b)
{
    auto split = [](const QString &name, QString *stem, qlonglong *number) {
        qsizetype digits = name.size();
        while (digits > 0 && name[digits - 1].isDigit())
            --digits;
        *stem = name.left(digits);
        *number = digits < name.size() ? name.mid(digits).toLongLong() : -1;
    };
    QString stemA, stemB;
    qlonglong numberA = 0, numberB = 0;
    split(a, &stemA, &numberA);
    split(b, &stemB, &numberB);
    if (stemA != stemB)
        return stemA < stemB;
    if (numberA != numberB)
        return numberA < numberB;
    return a < b;
}

} // namespace

QStringList SystemSerialDevices(const QString &ttyClassRoot)
{
    const QDir root(ttyClassRoot);
    QStringList names =
        root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const QString &name) { return !isRealDevice(root, name); }),
                names.end());
    std::sort(names.begin(), names.end(), naturalLess);
    QStringList devices;
    devices.reserve(names.size());
    for (const QString &name : names)
        devices.append(QStringLiteral("/dev/") + name);
    return devices;
}
