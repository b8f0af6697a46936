#pragma once

#include <QByteArray>
#include <QString>

// The fixed 8-bit code page of the host links: Windows-1252, the code page of the protocol's
// hosts. Every received byte becomes one character and back; bytes below 128 are unchanged.
namespace CodePage
{
QString toText(const QByteArray &bytes);
// A character the code page cannot represent becomes "?", the code page's default character.
QByteArray toBytes(const QString &text);
} // namespace CodePage
