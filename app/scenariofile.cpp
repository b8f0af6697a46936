#include "scenariofile.h"

#include "controlcommands.h"
#include "controlrequest.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace
{

// Where a parse error is, as an editor shows it.
QString lineAndColumn(const QByteArray &text, qsizetype offset)
{
    const QByteArray before = text.left(offset);
    const qsizetype line = before.count('\n') + 1;
    const qsizetype column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

} // namespace

namespace ScenarioFile
{

bool arm(const QString &path, ControlCommands &commands, QString *problem)
{
    const auto fail = [&](const QString &why) {
        *problem = QStringLiteral("%1: %2").arg(path, why);
        return false;
    };
    QFile file(path);
    if (!file.exists())
        return fail(QStringLiteral("no such file"));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    const QByteArray text = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return fail(QStringLiteral("not JSON (%1 at %2)")
                        .arg(parseError.errorString(), lineAndColumn(text, parseError.offset)));
    }
    if (!document.isArray())
        return fail(QStringLiteral("must hold a JSON array of {\"cmd\":\"on\",...} objects"));
    // Read as strictly as a request line: a doubled key is no choice of one of the two.
    if (ControlRequest::hasDuplicateKey(text))
        return fail(QStringLiteral("a key appears twice in one object"));

    const QJsonArray entries = document.array();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString entry = QStringLiteral("entry %1: ").arg(i + 1);
        const QJsonObject request = entries.at(i).toObject();
        if (!entries.at(i).isObject() ||
            request.value(QStringLiteral("cmd")).toString() != QLatin1String("on")) {
            commands.run({{QStringLiteral("cmd"), QStringLiteral("clear_triggers")}}, nullptr, {});
            return fail(entry + QStringLiteral("must be an object with \"cmd\":\"on\""));
        }
        const ControlCommands::Result reply = commands.run(request, nullptr, {});
        if (!reply || !reply->value(QStringLiteral("ok")).toBool()) {
            commands.run({{QStringLiteral("cmd"), QStringLiteral("clear_triggers")}}, nullptr, {});
            return fail(entry + (reply ? reply->value(QStringLiteral("error")).toString()
                                       : QStringLiteral("no reply")));
        }
    }
    return true;
}

} // namespace ScenarioFile
