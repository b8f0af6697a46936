#include "soundfolders.h"

#include "qtsoundplayer.h"

#include <QDir>

namespace
{

QString withSeparator(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

QStringList soundFolders(const QString &programFolder)
{
    const QString installed = QDir::cleanPath(withSeparator(programFolder) +
                                              QStringLiteral(VORLAK_DATA_DIR_FROM_BIN_DIR));
    QStringList folders{withSeparator(programFolder)};
    if (withSeparator(installed) != folders.first())
        folders.append(withSeparator(installed));
    return folders;
}

QString findSoundFile(const QStringList &folders, const QString &name)
{
    for (const QString &folder : folders) {
        const QString file = resolveFileCaseInsensitive(withSeparator(folder) + name);
        if (!file.isEmpty())
            return file;
    }
    return {};
}

QStringList missingSoundFiles(const QStringList &folders)
{
    QStringList missing;
    for (const QString &name :
         {QStringLiteral("reset.wav"), QStringLiteral("Emboss.wav"), QStringLiteral("Reset.wav")}) {
        if (findSoundFile(folders, name).isEmpty())
            missing.append(name);
    }
    return missing;
}
