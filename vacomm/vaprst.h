#pragma once

// Where the port keeps its saved settings, and its access to the INI file behind them.

#include "vatypes.h"

#include <QString>
#include <QStringList>

// Saved-settings location of a port. slINIFile: the INI file named Key (default: the program's
// path + ".INI"), section Section (default: the component's Name). slRegistry: Linux has no
// registry, so the key Key\Section under the chosen root is kept as a section of the INI file
// VaRegistryFileName() in the user's configuration folder.
class TSettingsStore
{
public:
    void Assign(const TSettingsStore &Source) { *this = Source; }

    QString Key() const { return FKey; }
    void setKey(const QString &Value) { FKey = Value; }
    TSettingsLocation Location() const { return FLocation; }
    void setLocation(TSettingsLocation Value) { FLocation = Value; }
    TRegRootKey RegRoot() const { return FRegRoot; }
    void setRegRoot(TRegRootKey Value) { FRegRoot = Value; }
    QString Section() const { return FSection; }
    void setSection(const QString &Value) { FSection = Value; }

private:
    QString FKey;
    TSettingsLocation FLocation = slINIFile;
    TRegRootKey FRegRoot = rrCURRENTUSER;
    QString FSection;
};

// "<generic config folder>/VaComm/registry.ini", or the file named by the environment variable
// VACOMM_REGISTRY_FILE when it is set.
QString VaRegistryFileName();

// The port's view of an INI file (the shared IniFile underneath): every call reads the file
// afresh and every write saves it at once, creating its folder. A key that exists is rewritten
// as "Key=value" with the name as given here; every other line stays as it was, and a missing
// file, section or key is created. Values are read whole, without IniFile's length limit.
class TVaIniFile
{
public:
    explicit TVaIniFile(const QString &FileName) : FFileName(FileName) {}

    QString ReadString(const QString &Section, const QString &Key, const QString &Default) const;
    qint32 ReadInteger(const QString &Section, const QString &Key, qint32 Default) const;
    // Returns false when the file cannot be written (or exists but cannot be read, as writing
    // it would lose its other lines).
    bool WriteString(const QString &Section, const QString &Key, const QString &Value);
    bool WriteInteger(const QString &Section, const QString &Key, qint32 Value);

private:
    QString FFileName;
};
