#include "eventdispatcherchoice.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

namespace
{

bool isPlatformOption(const char *argument)
{
    return std::strcmp(argument, "-platform") == 0 || std::strcmp(argument, "--platform") == 0;
}

bool namesOffscreen(const QByteArray &platform)
{
    const qsizetype colon = platform.indexOf(':');
    return (colon < 0 ? platform : platform.left(colon)) == "offscreen";
}

} // namespace

bool offscreenPlatformChosen(int argc, char **argv)
{
    // The last one given counts, as for the application object.
    for (int i = argc - 2; i >= 1; --i) {
        if (isPlatformOption(argv[i]))
            return namesOffscreen(QByteArray(argv[i + 1]));
    }
    return namesOffscreen(qgetenv("QT_QPA_PLATFORM"));
}

bool preferQtEventDispatcher(bool offscreen)
{
    if (!offscreen || qEnvironmentVariableIsSet("QT_NO_GLIB"))
        return false;
    qputenv("QT_NO_GLIB", "1");
    return true;
}
