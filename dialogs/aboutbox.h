#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// A program's file version: major.minor.release.build.
struct FileVersion {
    int major = 0;
    int minor = 0;
    int release = 0;
    int build = 0;
};

// The About box: holds the texts and the picture, and shows a fresh TAboutWnd built from them
// on every Execute().
class TAboutBox : public QObject
{
    Q_OBJECT
public:
    explicit TAboutBox(QObject *owner = nullptr);
    ~TAboutBox() override;

    QString AppName() const { return m_appName; }
    void setAppName(const QString &appName) { m_appName = appName; }
    // Lines may be separated by CR, LF or both.
    QString Copyright() const { return m_copyright; }
    void setCopyright(const QString &copyright) { m_copyright = copyright; }
    QString Url() const { return m_url; }
    void setUrl(const QString &url) { m_url = url; }
    // Kept with the box; the window does not show it.
    QString Warning() const { return m_warning; }
    void setWarning(const QString &warning) { m_warning = warning; }
    // The box keeps its own copy.
    QImage Picture() const { return m_picture; }
    void setPicture(const QImage &picture) { m_picture = picture.copy(); }

    // Shows the window modally; the window is destroyed when it closes, also when showing
    // fails.
    void Execute();

    // The version shown: the program's own (set once in the build) unless a test gives
    // another, or none.
    std::optional<FileVersion> fileVersion() const { return m_fileVersion; }
    void setFileVersion(const std::optional<FileVersion> &version) { m_fileVersion = version; }
    static FileVersion programVersion();

    // Starts a program detached; false when it could not be started. Tests replace it.
    using Launcher = std::function<bool(const QString &program, const QStringList &arguments)>;
    Launcher launcher() const { return m_launcher; }
    void setLauncher(Launcher launcher) { m_launcher = std::move(launcher); }

    static QString defaultCopyright();
    static QString defaultUrl();
    static QString defaultWarning();

private:
    QString m_appName;
    QString m_copyright;
    QString m_url;
    QString m_warning;
    QImage m_picture;
    std::optional<FileVersion> m_fileVersion;
    Launcher m_launcher;
};
