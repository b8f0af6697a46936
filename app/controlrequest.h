#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One request line of the control port: a JSON object. A key that appears twice in one object
// is refused: JSON readers disagree on which of the two counts (Qt takes the last), so a
// request like {"cmd":"state","cmd":"quit"} must not be read as either.
namespace ControlRequest
{

// True with the object in *request; false with the reason in *error.
bool parse(const QByteArray &line, QJsonObject *request, QString *error);

// Whether some object in the (well-formed) JSON text has the same key twice.
bool hasDuplicateKey(const QByteArray &json);

} // namespace ControlRequest
