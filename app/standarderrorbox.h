#pragma once

#include <QString>

#include <functional>

// The application's standard error message box: the failure's message, with a full stop
// appended when its last character comes after "." in character code order, under the
// program's name, with an error icon and one OK button.
namespace StandardErrorBox
{

QString formatMessage(const QString &message);
void show(const QString &message);

// Tests replace the modal box with a recorder; an empty handler restores the box.
using Handler = std::function<void(const QString &formattedMessage)>;
void setHandler(Handler handler);

} // namespace StandardErrorBox
