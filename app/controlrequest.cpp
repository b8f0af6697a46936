#include "controlrequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <vector>

namespace
{

struct Level {
    bool isObject = false;
    bool expectKey = false;
    QSet<QString> keys;
};

// A key as the JSON reader sees it: escapes such as \u0063 decoded.
QString decodedKey(const QByteArray &quoted)
{
    if (!quoted.contains('\\'))
        return QString::fromUtf8(quoted.mid(1, quoted.size() - 2));
    const QJsonDocument document = QJsonDocument::fromJson('[' + quoted + ']');
    return document.array().at(0).toString();
}

} // namespace

namespace ControlRequest
{

bool hasDuplicateKey(const QByteArray &json)
{
    std::vector<Level> levels;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '{') {
            levels.push_back({true, true, {}});
        } else if (c == '[') {
            levels.push_back({false, false, {}});
        } else if (c == '}' || c == ']') {
            if (!levels.empty())
                levels.pop_back();
        } else if (c == ',') {
            if (!levels.empty() && levels.back().isObject)
                levels.back().expectKey = true;
        } else if (c == ':') {
            if (!levels.empty())
                levels.back().expectKey = false;
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            if (levels.empty() || !levels.back().isObject || !levels.back().expectKey)
                continue;
            const QString key = decodedKey(json.mid(start, i - start + 1));
            if (levels.back().keys.contains(key))
                return true;
            levels.back().keys.insert(key);
        }
    }
    return false;
}

bool parse(const QByteArray &line, QJsonObject *request, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("malformed request: one JSON object per line");
        return false;
    }
    if (hasDuplicateKey(line)) {
        *error = QStringLiteral("malformed request: a key appears twice in one object");
        return false;
    }
    *request = document.object();
    return true;
}

} // namespace ControlRequest
