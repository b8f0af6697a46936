#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// An initialisation file: "[Section]" lines and "key=value" lines under them.
//
// Section and key names match without regard to case; of several equal names the first counts.
// Blanks around names and values are ignored, and a value wholly enclosed in double or single
// quotes loses them. Lines before the first section, comment lines (";" or "#") and lines
// without "=" are never keys.
//
// The file is read once, when the object is made; a missing or unreadable file reads as empty,
// so every read gives its default. Writes change the lines in memory: a key that exists is
// rewritten in place (see KeyRewrite), a missing key is added after the last line of its
// section, a missing section at the end of the file. save() then replaces the file
// in one step (a temporary file beside it, flushed to disk and renamed over it): a crash never
// leaves a half-written file, and every other line keeps its exact bytes and line end.
//
// The text is UTF-8. New lines take the line end the file already uses ("\n" for a new file).
class IniFile
{
public:
    // What a rewritten key line looks like. KeepsFileSpelling: the name as the file spells it,
    // blanks before it included ("  tOP = 5" becomes "  tOP=42"), so a hand-written file keeps
    // its look. TakesWrittenSpelling: the whole line becomes "Key=value" as the writer names the
    // key (the serial port's settings have always been written so).
    enum class KeyRewrite { KeepsFileSpelling, TakesWrittenSpelling };

    explicit IniFile(const QString &path, KeyRewrite keyRewrite = KeyRewrite::KeepsFileSpelling);

    QString path() const { return m_path; }

    QString readString(const QString &section, const QString &key, const QString &defaultValue,
                       int maxLength = kMaxValueLength) const;
    // The value converted as a whole by parseInteger(); a missing or invalid value gives the
    // default.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;
    // Read as an integer with 1 or 0 as the default; any integer but 0 is on.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);

    // Replaces the file with the lines in memory. False when the file cannot be written, or
    // when it exists but could not be read (writing it would lose its other lines).
    bool save(QString *errorText = nullptr);

    // Integer syntax of the file: leading blanks, an optional sign, then decimal digits, or
    // hexadecimal digits after "$", "x" or "0x" (the x in either case); nothing may follow.
    // Decimal values must fit 32 bits signed; hexadecimal ones 32 bits, taken as two's
    // complement ("$FFFFFFFF" is -1).
    static bool parseInteger(const QString &text, int *value);

    // Values are read up to this many characters.
    static constexpr int kMaxValueLength = 2047;
    // A larger file is not a settings file: it reads as empty and is never overwritten.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

private:
    struct Line {
        QByteArray text; // without its line end
        // "\n", "\r\n", or for the last line of a file without a final LF: "\r" or empty
        QByteArray end;
    };
    struct Range {
        int begin = -1; // the section's header line
        int end = -1;   // one past its last line
    };

    void load();
    Range findSection(const QString &section) const;
    int findKey(const Range &range, const QString &key) const;
    QByteArray newLineEnd() const;
    // Gives a line that ends the file a line end, before a line is written after it.
    void endLine(Line &line) const;

    QString m_path;
    KeyRewrite m_keyRewrite;
    std::vector<Line> m_lines;
    bool m_unreadable = false;
    bool m_hasBom = false;
};
