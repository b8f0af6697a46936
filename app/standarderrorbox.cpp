#include "standarderrorbox.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

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
    const QString title = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void setHandler(Handler newHandler)
{
    handler() = std::move(newHandler);
}

} // namespace StandardErrorBox
