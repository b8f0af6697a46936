#pragma once

#include <QString>

#include <functional>

// The application's standard error message box: the failure's message, with a full stop
// appended when its last character comes after "." in character code order, under the
// program's name, with an error icon and one OK button. show() never waits for a person: the
// application's ErrorReporter lists the message and, with a window, opens the box.
namespace StandardErrorBox
{

QString formatMessage(const QString &message);
void show(const QString &message);

// Tests replace the reporter with a recorder; an empty handler restores the reporter.
using Handler = std::function<void(const QString &formattedMessage)>;
void setHandler(Handler handler);

} // namespace StandardErrorBox
