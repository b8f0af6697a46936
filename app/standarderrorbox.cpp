#include "standarderrorbox.h"

#include "errorreporter.h"
#include "vorlakapplication.h"

#include <QCoreApplication>

#include <cstdio>

namespace
{
StandardErrorBox::Handler &handler()
{
    static StandardErrorBox::Handler instance;
    return instance;
}
} // namespace

namespace StandardErrorBox
{

QString formatMessage(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void show(const QString &message)
{
    const QString text = formatMessage(message);
    if (handler()) {
        handler()(text);
        return;
    }
    if (auto *app = qobject_cast<VorlakApplication *>(QCoreApplication::instance())) {
        app->errorReporter().report(text);
        return;
    }
    // Without the program's application object there is no one to show a box to.
    std::fprintf(stderr, "vorlak: error: %s\n", qPrintable(text));
}

void setHandler(Handler newHandler)
{
    handler() = std::move(newHandler);
}

} // namespace StandardErrorBox
