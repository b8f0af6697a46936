#include "vaprst.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString VaRegistryFileName()
{
    const QByteArray env = qgetenv("VACOMM_REGISTRY_FILE");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VaComm/registry.ini");
}

namespace
{
// "[name]" -> name, else a null string.
QString sectionName(const QString &line)
{
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return QString();
}

bool keyMatches(const QString &line, const QString &key, QString *value = nullptr)
{
    const int eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
        return false;
    if (value) {
        QString v = line.mid(eq + 1).trimmed();
        if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                              (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
            v = v.mid(1, v.size() - 2);
        *value = v;
    }
    return true;
}
} // namespace

QStringList TVaIniFile::lines() const
{
    QFile f(FFileName);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(f.readAll());
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QStringList l = text.split(QLatin1Char('\n'));
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

QString TVaIniFile::ReadString(const QString &Section, const QString &Key,
                               const QString &Default) const
{
    bool inSection = false;
    for (const QString &line : lines()) {
        const QString s = sectionName(line);
        if (!s.isNull()) {
            inSection = s.compare(Section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString v;
        if (inSection && keyMatches(line, Key, &v))
            return v;
    }
    return Default;
}

qint32 TVaIniFile::ReadInteger(const QString &Section, const QString &Key, qint32 Default) const
{
    const QString s = ReadString(Section, Key, QString());
    bool ok = false;
    const qint32 v = s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                         ? qint32(s.mid(2).toUInt(&ok, 16))
                         : s.toInt(&ok);
    return ok ? v : Default;
}

bool TVaIniFile::WriteString(const QString &Section, const QString &Key, const QString &Value)
{
    QStringList l = lines();
    const QString entry = Key + QLatin1Char('=') + Value;
    int sectionLine = -1;
    int lastInSection = -1;
    bool done = false;
    for (int i = 0; i < l.size() && !done; ++i) {
        const QString s = sectionName(l.at(i));
        if (!s.isNull()) {
            if (sectionLine >= 0)
                break; // end of our section
            if (s.compare(Section, Qt::CaseInsensitive) == 0) {
                sectionLine = i;
                lastInSection = i;
            }
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (keyMatches(l.at(i), Key)) {
            l[i] = entry;
            done = true;
        } else if (!l.at(i).trimmed().isEmpty()) {
            lastInSection = i;
        }
    }
    if (!done) {
        if (sectionLine >= 0) {
            l.insert(lastInSection + 1, entry);
        } else {
            if (!l.isEmpty() && !l.last().trimmed().isEmpty())
                l.append(QString());
            l.append(QLatin1Char('[') + Section + QLatin1Char(']'));
            l.append(entry);
        }
    }
    QDir().mkpath(QFileInfo(FFileName).absolutePath());
    QSaveFile f(FFileName);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(l.join(QLatin1Char('\n')).toUtf8());
    f.write("\n");
    return f.commit();
}

bool TVaIniFile::WriteInteger(const QString &Section, const QString &Key, qint32 Value)
{
    return WriteString(Section, Key, QString::number(Value));
}
