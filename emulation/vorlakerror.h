#pragma once

#include <QString>

#include <stdexcept>

// A failure of a handler: it ends the handler's remaining steps and reaches the application's
// standard error box (the program goes on with the next event). what() is UTF-8.
class VorlakError : public std::runtime_error
{
public:
    explicit VorlakError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
