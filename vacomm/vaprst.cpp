#include "vaprst.h"

#include "inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <limits>

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
IniFile openIni(const QString &FileName)
{
    return IniFile(FileName, IniFile::KeyRewrite::TakesWrittenSpelling);
}
} // namespace

QString TVaIniFile::ReadString(const QString &Section, const QString &Key,
                               const QString &Default) const
{
    return openIni(FFileName).readString(Section, Key, Default, std::numeric_limits<int>::max());
}

qint32 TVaIniFile::ReadInteger(const QString &Section, const QString &Key, qint32 Default) const
{
    return openIni(FFileName).readInteger(Section, Key, Default);
}

bool TVaIniFile::WriteString(const QString &Section, const QString &Key, const QString &Value)
{
    IniFile ini = openIni(FFileName);
    ini.writeString(Section, Key, Value);
    QDir().mkpath(QFileInfo(FFileName).absolutePath());
    return ini.save();
}

bool TVaIniFile::WriteInteger(const QString &Section, const QString &Key, qint32 Value)
{
    return WriteString(Section, Key, QString::number(Value));
}
