#include "hosttext.h"

#include "vorlakerror.h"

#include <limits>

namespace
{
bool isBlankOrControl(QChar c)
{
    return c.unicode() <= 0x20;
}
} // namespace

QString TrimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlankOrControl(text.at(first)))
        ++first;
    while (last > first && isBlankOrControl(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

QString TextBeforeAt(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    return at < 0 ? text : text.left(at);
}

QString TextAfterAt(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    return at < 0 ? text : text.mid(at + 1, 5);
}

QStringList SplitFieldLines(const QString &text)
{
    QStringList lines;
    const qsizetype nul = text.indexOf(QChar(0));
    const qsizetype end = nul < 0 ? text.size() : nul;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < end) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines.append(text.mid(start, i - start));
            ++i;
            if (c == QLatin1Char('\r') && i < end && text.at(i) == QLatin1Char('\n'))
                ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < end)
        lines.append(text.mid(start, end - start));
    return lines;
}

bool ParseHostInteger(const QString &text, int32_t &value)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        return false;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return false;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

QString ConversionErrorText(const QString &text)
{
    QString shown = text;
    shown.remove(QChar(0));
    return QStringLiteral("'%1' ist kein gültiger Integerwert").arg(shown);
}

int32_t HostStrToInt(const QString &text)
{
    int32_t value = 0;
    if (!ParseHostInteger(text, value))
        throw VorlakError(ConversionErrorText(text));
    return value;
}

int32_t HostStrToIntDef(const QString &text, int32_t fallback)
{
    int32_t value = 0;
    return ParseHostInteger(text, value) ? value : fallback;
}
