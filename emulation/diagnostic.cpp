#include "diagnostic.h"

QString HostLinkId::toString() const
{
    switch (kind) {
    case Kind::Tcp:
        return QStringLiteral("tcp:%1").arg(connection);
    case Kind::Serial:
        return QStringLiteral("serial");
    case Kind::None:
        break;
    }
    return {};
}

QString describeHostText(const QString &text, qsizetype maxCharacters)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == maxCharacters) {
            shown += QStringLiteral("...");
            break;
        }
        const char16_t code = text.at(i).unicode();
        if (code >= 32 && code <= 127)
            shown += text.at(i);
        else
            shown += QLatin1Char('#') + QString::number(code);
    }
    return shown;
}
