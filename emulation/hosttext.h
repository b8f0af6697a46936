#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Text helpers for the bodies of the host's messages: trimming, the "@" separator, the field
// lines, and the integer conversions of the numbers the host sends as text.

// Removes blanks and control characters (everything up to and including 0x20) from both ends.
QString TrimBlanks(const QString &text);

// The text before the first "@"; the whole text when there is none.
QString TextBeforeAt(const QString &text);
// The (at most) 5 characters after the first "@"; the whole text when there is none.
QString TextAfterAt(const QString &text);

// Splits emboss field text into lines: a line ends at CR, LF or CR LF; a break at the very end
// starts no further line; a NUL ends the text. Empty text has no lines.
QStringList SplitFieldLines(const QString &text);

// The machine's integer syntax: leading blanks, an optional sign, decimal digits, nothing after,
// within 32 bits. Returns false (and leaves `value` alone) for anything else.
bool ParseHostInteger(const QString &text, int32_t &value);
// Converts or fails with "'%s' ist kein gültiger Integerwert".
int32_t HostStrToInt(const QString &text);
// Converts, or gives `fallback` for text that is not an integer.
int32_t HostStrToIntDef(const QString &text, int32_t fallback);
// The conversion error's text for `text`. NUL characters are left out: a NUL would cut the
// message short in the error box.
QString ConversionErrorText(const QString &text);
