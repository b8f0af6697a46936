#include "aboutbox.h"

#include "aboutwnd.h"

#include <QPointer>
#include <QProcess>
#include <QWidget>

namespace
{

bool startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace

TAboutBox::TAboutBox(QObject *owner)
    : QObject(owner), m_copyright(defaultCopyright()), m_url(defaultUrl()),
      m_warning(defaultWarning()), m_fileVersion(programVersion()), m_launcher(startDetached)
{
}

TAboutBox::~TAboutBox() = default;

FileVersion TAboutBox::programVersion()
{
    return {VORLAK_VERSION_MAJOR, VORLAK_VERSION_MINOR, VORLAK_VERSION_PATCH, VORLAK_VERSION_TWEAK};
}

QString TAboutBox::defaultCopyright()
{
    return tr("Copyright \u00A9 2024 Corvane Systems GmbH. All rights reserved.");
}

QString TAboutBox::defaultUrl()
{
    return QStringLiteral("https://www.corvane.example/");
}

QString TAboutBox::defaultWarning()
{
    return tr("Warning: this computer program is protected by copyright law and international "
              "treaties. Unauthorised reproduction or distribution of this program, or of any "
              "part of it, may result in severe civil and criminal penalties.");
}

void TAboutBox::Execute()
{
    QWidget *ownerWindow = qobject_cast<QWidget *>(parent());
    QPointer<TAboutWnd> window =
        new TAboutWnd(*this, ownerWindow ? ownerWindow->window() : nullptr);
    // The window goes when it closes, and also when showing it fails.
    struct Release {
        QPointer<TAboutWnd> &window;
        ~Release() { delete window.data(); }
    } release{window};
    window->exec();
}
