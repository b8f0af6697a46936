#pragma once

#include <QChar>
#include <QString>

// Control characters and fixed texts of the host line protocol (station address "31").
namespace Protocol
{
constexpr char16_t SOH = 0x01;
constexpr char16_t STX = 0x02;
constexpr char16_t ETX = 0x03;
constexpr char16_t EOT = 0x04;
constexpr char16_t ENQ = 0x05;
constexpr char16_t ACK = 0x06;

inline QString poll()
{
    return QString(QChar(EOT)) + QStringLiteral("31") + QChar(ENQ);
}
inline QString resetRequest()
{
    return QString(QChar(EOT)) + QStringLiteral("31r");
}
inline QString ack(char status)
{
    return QString(QChar(ACK)) + QChar::fromLatin1(status);
}
} // namespace Protocol
