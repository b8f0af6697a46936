#include "vorlakapplication.h"

#include "qttranslations.h"
#include "standarderrorbox.h"
#include "vaclasses.h"

#include <QFont>

#include <exception>

VorlakApplication::VorlakApplication(int &argc, char **argv)
    : QApplication(argc, argv),
      m_errors(QGuiApplication::platformName() == QLatin1String("offscreen"))
{
    // The layout is in pixels for the narrow Windows UI fonts; Liberation Sans (metric
    // compatible with Arial) keeps captions inside their boxes where those fonts are missing,
    // and Liberation Mono stands for Courier New.
    for (const char *family : {"Tahoma", "Segoe UI", "MS Sans Serif"})
        QFont::insertSubstitution(QString::fromLatin1(family), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    installGermanQtTranslations(*this);
    // Failures inside the serial port's event handlers (a reply that cannot be queued, say)
    // reach the same error box as every other handler's.
    VaSetExceptionHandler([](const std::exception &error) {
        StandardErrorBox::show(QString::fromUtf8(error.what()));
    });
}

bool VorlakApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        StandardErrorBox::show(QString::fromUtf8(error.what()));
    } catch (...) {
        StandardErrorBox::show(QStringLiteral("Unknown error"));
    }
    return false;
}
