// Saved settings: SaveSettings / LoadSettings and where the settings file is.

#include "vacomm.h"

#include <QCoreApplication>
#include <QFileInfo>

QString TVaCustomComm::settingsFile(QString &Section)
{
    TSettingsStore &s = *FSettingsStore;
    if (s.Location() == slINIFile) {
        if (s.Key().isEmpty()) {
            const QFileInfo exe(QCoreApplication::applicationFilePath());
            s.setKey(exe.absolutePath() + QLatin1Char('/') +
                     (exe.suffix().isEmpty() ? exe.fileName() : exe.completeBaseName()) +
                     QStringLiteral(".INI"));
        }
        if (s.Section().isEmpty())
            s.setSection(Name());
        Section = s.Section();
        return s.Key();
    }
    Section = (s.RegRoot() == rrCURRENTUSER ? QStringLiteral("HKEY_CURRENT_USER")
                                            : QStringLiteral("HKEY_LOCAL_MACHINE")) +
              QLatin1Char('\\') + s.Key() + QLatin1Char('\\') + s.Section();
    return VaRegistryFileName();
}

void TVaCustomComm::SaveSettings()
{
    QString section;
    const QString file = settingsFile(section);
    TVaIniFile ini(file);
    int flow = 0;
    if (FFlowControl->XonXoffOut() || FFlowControl->XonXoffIn())
        flow = 2;
    if (FFlowControl->ControlDtr() == dtrEnabled || FFlowControl->ControlRts() == rtsEnabled)
        flow = 1;
    const bool ok = ini.WriteInteger(section, QStringLiteral("BAUDRATE"), FBaudrate) &&
                    ini.WriteInteger(section, QStringLiteral("PARITY"), FParity) &&
                    ini.WriteInteger(section, QStringLiteral("DATABITS"), FDatabits) &&
                    ini.WriteInteger(section, QStringLiteral("PORTNUM"), FPortNum) &&
                    ini.WriteInteger(section, QStringLiteral("STOPBITS"), FStopbits) &&
                    ini.WriteString(section, QStringLiteral("COMNAME"),
                                    QStringLiteral("COM") + QString::number(FPortNum)) &&
                    ini.WriteInteger(section, QStringLiteral("FLOWCONTROL"), flow) &&
                    ini.WriteInteger(section, QStringLiteral("FLAG"), 1);
    if (!ok)
        throw EVaCommError(QStringLiteral("Can't write settings file %1").arg(file));
}

bool TVaCustomComm::LoadSettings()
{
    QString section;
    TVaIniFile ini(settingsFile(section));
    if (ini.ReadInteger(section, QStringLiteral("FLAG"), 0) != 1)
        return false;
    // A stored ordinal outside its enumeration leaves that setting as it is.
    const qint32 baud = ini.ReadInteger(section, QStringLiteral("BAUDRATE"), 0);
    if (baud >= brUser && baud <= br256000)
        setBaudrate(TVaBaudrate(baud));
    const qint32 parity = ini.ReadInteger(section, QStringLiteral("PARITY"), 0);
    if (parity >= paNone && parity <= paSpace)
        setParity(TVaParity(parity));
    const qint32 bits = ini.ReadInteger(section, QStringLiteral("DATABITS"), 0);
    if (bits >= db4 && bits <= db8)
        setDatabits(TVaDatabits(bits));
    const qint32 port = ini.ReadInteger(section, QStringLiteral("PORTNUM"), 0);
    if (port >= 0)
        setPortNum(port);
    const qint32 stop = ini.ReadInteger(section, QStringLiteral("STOPBITS"), 0);
    if (stop >= sb1 && stop <= sb2)
        setStopbits(TVaStopbits(stop));
    const qint32 flow = ini.ReadInteger(section, QStringLiteral("FLOWCONTROL"), 0);
    if (flow >= 0 && flow <= 2) {
        FFlowControl->setControlDtr(flow == 1 ? dtrEnabled : dtrDisabled);
        FFlowControl->setControlRts(flow == 1 ? rtsEnabled : rtsDisabled);
        FFlowControl->setXonXoffOut(flow == 2);
        FFlowControl->setXonXoffIn(flow == 2);
    }
    return true;
}
