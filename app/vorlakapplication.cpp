#include "vorlakapplication.h"

#include "standarderrorbox.h"

#include <exception>

VorlakApplication::VorlakApplication(int &argc, char **argv) : QApplication(argc, argv) {}

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
