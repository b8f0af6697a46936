#pragma once

// Where the port keeps its saved settings, and the small INI file reader/writer behind it.

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

// An INI file handled line by line: sections and keys match case-insensitively, a key that
// exists is rewritten in place, every other line stays as it was, and a missing file, section or
// key is created.
class TVaIniFile
{
public:
    explicit TVaIniFile(const QString &FileName) : FFileName(FileName) {}

    QString ReadString(const QString &Section, const QString &Key, const QString &Default) const;
    qint32 ReadInteger(const QString &Section, const QString &Key, qint32 Default) const;
    // Returns false when the file cannot be written.
    bool WriteString(const QString &Section, const QString &Key, const QString &Value);
    bool WriteInteger(const QString &Section, const QString &Key, qint32 Value);

private:
    QStringList lines() const;
    QString FFileName;
};
