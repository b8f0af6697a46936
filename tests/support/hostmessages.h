#pragma once

// Builds the host's messages byte for byte: the poll, the reset request, format definitions and
// emboss data.

#include <QByteArray>
#include <QList>

// EOT "31" ENQ: what is the machine's status?
inline const QByteArray kPoll("\x04"
                              "31\x05");
// EOT "31r": reset the machine.
inline const QByteArray kResetRequest("\x04"
                                      "31r");

namespace HostMessages
{

// A field record as the host writes it: 14 characters ("Y085X120F0P014": Y at 2-4, X at 6-8,
// the font selector at 10, the pitch at 13-14) padded with one blank to 15.
inline QByteArray record(const QByteArray &y, const QByteArray &x, char font,
                         const QByteArray &pitch, bool blankInFront = false)
{
    const QByteArray body = "Y" + y + "X" + x + "F" + font + "P0" + pitch;
    return blankInFront ? " " + body : body + " ";
}

// The card block: height at positions 3-6, width at 9-12.
inline QByteArray cardBlock(const QByteArray &height, const QByteArray &width)
{
    return "H:" + height + "W:" + width;
}

inline QByteArray formatDefinition(const QByteArray &block, const QList<QByteArray> &records)
{
    QByteArray message("\x01"
                       "31\x02"
                       "F]00 U0 ");
    message += block;
    for (const QByteArray &r : records)
        message += r;
    return message + '\x03';
}

inline QByteArray formatDefinition(const QList<QByteArray> &records)
{
    return formatDefinition(cardBlock("0540", "0856"), records);
}

// Emboss data: the field text, then "@", the tag and ETX.
inline QByteArray embossData(const QByteArray &fieldText, const QByteArray &tag = "12345")
{
    return QByteArray("\x01"
                      "31\x02"
                      "T]00") +
           fieldText + '@' + tag + '\x03';
}

} // namespace HostMessages
