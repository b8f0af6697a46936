#include "ttyclass.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace
{

TtyClassEntry readEntry(const QDir &root, const QString &name)
{
    TtyClassEntry entry{name, false, false, false, QByteArray()};
    entry.hasDevice = QFileInfo::exists(root.filePath(name + QStringLiteral("/device")));
    entry.hasDriver = QFileInfo::exists(root.filePath(name + QStringLiteral("/device/driver")));
    QFile type(root.filePath(name + QStringLiteral("/type")));
    if (type.open(QIODevice::ReadOnly)) {
        entry.hasUartType = true;
        entry.uartType = type.readAll().trimmed();
    }
    return entry;
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

QList<TtyClassEntry> ttyClassEntries(const QString &ttyClassRoot, const TtyClassFilter &keep)
{
    const QDir root(ttyClassRoot);
    const QStringList names =
        root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
    QList<TtyClassEntry> entries;
    for (const QString &name : names) {
        TtyClassEntry entry = readEntry(root, name);
        if (keep(entry))
            entries.append(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const TtyClassEntry &a, const TtyClassEntry &b) {
        return naturalLess(a.name, b.name);
    });
    return entries;
}
