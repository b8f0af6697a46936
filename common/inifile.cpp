#include "inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace
{

const QByteArray kBom("\xEF\xBB\xBF");

// UTF-8 to text, keeping a U+FEFF at the start (QString::fromUtf8 drops it as a byte order
// mark): a value that begins with it reads back as it was written. The file's own byte order
// mark is taken off when the file is read.
QString decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

bool isBlankChar(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimmedBlanks(const QByteArray &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankChar(text[begin]))
        ++begin;
    while (end > begin && isBlankChar(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

bool isBlankLine(const QByteArray &text)
{
    return trimmedBlanks(text).isEmpty();
}

// The section name of a header line "[name]"; false for any other line.
bool sectionOf(const QByteArray &line, QString *name)
{
    const QByteArray text = trimmedBlanks(line);
    if (!text.startsWith('['))
        return false;
    qsizetype close = text.indexOf(']');
    if (close < 0)
        close = text.size();
    *name = decodeUtf8(trimmedBlanks(text.mid(1, close - 1)));
    return true;
}

// The key name of a "key=value" line and where its "=" stands; false for any other line.
bool keyOf(const QByteArray &line, QString *name, qsizetype *equals)
{
    const QByteArray text = trimmedBlanks(line);
    if (text.isEmpty() || text.startsWith(';') || text.startsWith('#') || text.startsWith('['))
        return false;
    const qsizetype at = line.indexOf('=');
    if (at < 0)
        return false;
    *name = decodeUtf8(trimmedBlanks(line.left(at)));
    *equals = at;
    return true;
}

// The value of an ASCII digit in the given base, or -1.
int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (base == 16 && u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (base == 16 && u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Makes the rename itself durable: the folder's entry is on disk when save() returns.
void syncFolder(const QString &filePath)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)::fsync(fd);
    ::close(fd);
}

} // namespace

IniFile::IniFile(const QString &path, KeyRewrite keyRewrite)
    : m_path(path), m_keyRewrite(keyRewrite)
{
    load();
}

void IniFile::load()
{
    const QFileInfo info(m_path);
    if (!info.exists())
        return;
    if (!info.isFile() || info.size() > kMaxFileSize) {
        m_unreadable = true;
        return;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_unreadable = true;
        return;
    }
    // Read as large as the file is (a buffer of the largest size allowed would be reserved at
    // every read); a file that grew since it was measured is read on up to the limit.
    QByteArray data = file.read(std::min(info.size(), kMaxFileSize) + 1);
    if (data.size() > info.size() && data.size() <= kMaxFileSize)
        data += file.read(kMaxFileSize + 1 - data.size());
    if (data.size() > kMaxFileSize || file.error() != QFileDevice::NoError) {
        m_unreadable = true;
        return;
    }
    if (data.startsWith(kBom)) {
        m_hasBom = true;
        data.remove(0, kBom.size());
    }
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype newline = data.indexOf('\n', start);
        if (newline < 0) {
            // A last line that ends with a lone CR: the CR is its line end, as it would be
            // once a line is written after it (CR LF). Otherwise the same line would read as
            // another section or key before and after a save.
            QByteArray text = data.mid(start);
            QByteArray end;
            if (text.endsWith('\r')) {
                text.chop(1);
                end = "\r";
            }
            m_lines.push_back({text, end});
            break;
        }
        qsizetype textEnd = newline;
        QByteArray end("\n");
        if (textEnd > start && data[textEnd - 1] == '\r') {
            --textEnd;
            end = "\r\n";
        }
        m_lines.push_back({data.mid(start, textEnd - start), end});
        start = newline + 1;
    }
}

IniFile::Range IniFile::findSection(const QString &section) const
{
    Range range;
    QString name;
    for (int i = 0; i < static_cast<int>(m_lines.size()); ++i) {
        if (!sectionOf(m_lines[i].text, &name))
            continue;
        if (range.begin >= 0) {
            range.end = i;
            return range;
        }
        if (sameName(name, section))
            range.begin = i;
    }
    if (range.begin >= 0)
        range.end = static_cast<int>(m_lines.size());
    return range;
}

int IniFile::findKey(const Range &range, const QString &key) const
{
    QString name;
    qsizetype equals = 0;
    for (int i = range.begin + 1; i < range.end; ++i) {
        if (keyOf(m_lines[i].text, &name, &equals) && sameName(name, key))
            return i;
    }
    return -1;
}

void IniFile::endLine(Line &line) const
{
    if (line.end.isEmpty())
        line.end = newLineEnd();
    else if (line.end == "\r")
        line.end = "\r\n";
}

QByteArray IniFile::newLineEnd() const
{
    for (const Line &line : m_lines) {
        if (line.end.endsWith('\n'))
            return line.end;
    }
    return QByteArrayLiteral("\n");
}

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue,
                            int maxLength) const
{
    const Range range = findSection(section);
    if (range.begin < 0)
        return defaultValue;
    const int at = findKey(range, key);
    if (at < 0)
        return defaultValue;
    const QByteArray &line = m_lines[at].text;
    QByteArray value = trimmedBlanks(line.mid(line.indexOf('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return decodeUtf8(value).left(maxLength);
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const
{
    int value = 0;
    return parseInteger(readString(section, key, QString()), &value) ? value : defaultValue;
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    // A line end inside a value would start a line of its own.
    QString oneLine = value;
    oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray valueBytes = oneLine.toUtf8();
    const QByteArray nl = newLineEnd();

    const Range range = findSection(section);
    if (range.begin < 0) {
        if (!m_lines.empty()) {
            endLine(m_lines.back());
            if (!isBlankLine(m_lines.back().text))
                m_lines.push_back({QByteArray(), nl});
        }
        m_lines.push_back({'[' + section.toUtf8() + ']', nl});
        m_lines.push_back({key.toUtf8() + '=' + valueBytes, nl});
        return;
    }
    const int at = findKey(range, key);
    if (at >= 0) {
        QByteArray &line = m_lines[at].text;
        QByteArray name = key.toUtf8();
        if (m_keyRewrite == KeyRewrite::KeepsFileSpelling) {
            name = line.left(line.indexOf('='));
            while (!name.isEmpty() && isBlankChar(name.back()))
                name.chop(1);
        }
        line = name + '=' + valueBytes;
        return;
    }
    // After the section's last line that is not blank, so a blank line before the next
    // section stays where it is.
    int insertAt = range.end;
    while (insertAt - 1 > range.begin && isBlankLine(m_lines[insertAt - 1].text))
        --insertAt;
    endLine(m_lines[insertAt - 1]);
    m_lines.insert(m_lines.begin() + insertAt, Line{key.toUtf8() + '=' + valueBytes, nl});
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool IniFile::save(QString *errorText)
{
    if (m_unreadable) {
        if (errorText)
            *errorText = QStringLiteral("the existing file cannot be read");
        return false;
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (errorText)
            *errorText = file.errorString();
        return false;
    }
    if (m_hasBom)
        file.write(kBom);
    for (const Line &line : m_lines) {
        file.write(line.text);
        file.write(line.end);
    }
    // The new file's contents reach the disk before it replaces the old one.
    if (!file.flush() || ::fsync(file.handle()) != 0 || !file.commit()) {
        if (errorText)
            *errorText = file.errorString();
        file.cancelWriting();
        return false;
    }
    syncFolder(m_path);
    return true;
}

bool IniFile::parseInteger(const QString &text, int *value)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
               (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return false;
    const quint64 limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    quint64 magnitude = 0;
    for (; i < n; ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0)
            return false;
        magnitude = magnitude * base + static_cast<quint64>(digit);
        if (magnitude > limit)
            return false;
    }
    // Hexadecimal digits give the 32-bit pattern; the sign then negates it.
    const quint32 bits = static_cast<quint32>(magnitude);
    const quint32 result = negative ? 0u - bits : bits;
    *value = static_cast<int>(result);
    return true;
}
