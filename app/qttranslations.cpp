#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

bool installGermanQtTranslations(QCoreApplication &app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(&app);
    // By file name, not by QLocale: the user's locale must not choose the language.
    if (!translator->load(QStringLiteral("qtbase_de"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        std::fprintf(stderr,
                     "vorlak: Qt's German texts (qtbase_de.qm) are not in %s; file dialogs and "
                     "message boxes show Qt's English texts (Debian package "
                     "qt6-translations-l10n)\n",
                     qPrintable(folder));
        return false;
    }
    return true;
}
