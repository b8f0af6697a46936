#include "qtsoundplayer.h"

#include "soundfolders.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include <utility>

QString resolveFileCaseInsensitive(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return info.absoluteFilePath();
    const QDir dir = info.absoluteDir();
    const QStringList entries = dir.entryList(QDir::Files);
    for (const QString &entry : entries) {
        if (entry.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return dir.absoluteFilePath(entry);
    }
    return {};
}

QtSoundPlayer::QtSoundPlayer(QStringList fallbackFolders, QObject *parent)
    : QObject(parent), m_fallbackFolders(std::move(fallbackFolders))
{
}

QSoundEffect *QtSoundPlayer::effectFor(const QString &path)
{
    auto it = m_effects.find(path);
    if (it != m_effects.end())
        return it.value();
    auto *effect = new QSoundEffect(this);
    effect->setSource(QUrl::fromLocalFile(path));
    connect(effect, &QSoundEffect::statusChanged, this, [effect] {
        // Decoding failed or no audio device: the platform's default sound stands in.
        if (effect->status() == QSoundEffect::Error)
            QApplication::beep();
    });
    m_effects.insert(path, effect);
    return effect;
}

void QtSoundPlayer::PlaySoundFile(const QString &path)
{
    if (m_playing)
        m_playing->stop();
    QString file = resolveFileCaseInsensitive(path);
    if (file.isEmpty())
        file = findSoundFile(m_fallbackFolders, QFileInfo(path).fileName());
    if (file.isEmpty()) {
        QApplication::beep();
        return;
    }
    QSoundEffect *effect = effectFor(file);
    if (effect->status() == QSoundEffect::Error) {
        QApplication::beep();
        return;
    }
    m_playing = effect;
    effect->play();
}
