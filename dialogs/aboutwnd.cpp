#include "aboutwnd.h"

#include "aboutbox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

namespace
{

constexpr int kDesignWidth = 260;
constexpr int kDesignHeight = 326;
const QSize kPictureDesignSize(61, 250);

QLabel *label(const QString &text, QWidget *parent, int left, int top)
{
    auto *l = new QLabel(text, parent);
    l->move(left, top);
    l->adjustSize();
    return l;
}

void moveBy(QWidget *widget, int dx, int dy)
{
    widget->move(widget->pos() + QPoint(dx, dy));
}

// The override cursor for as long as the shell is asked to open something.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

TAboutWnd::TAboutWnd(TAboutBox &box, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_box(box)
{
    setObjectName(QStringLiteral("AboutWnd"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(210, 210, 210));
    setPalette(background);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("About %s\u00AE"));

    imgApp = new QLabel(this);
    imgApp->setObjectName(QStringLiteral("imgApp"));
    imgApp->setAlignment(Qt::AlignCenter);
    imgApp->setGeometry(QRect(QPoint(8, 10), kPictureDesignSize));

    lblAppName = label(QStringLiteral("%s\u00AE"), this, 75, 10);
    lblVersionInfo = label(tr("Version:"), this, 75, 25);
    lblVersion = label(QString(), this, 116, 25);
    QFont bold = lblVersion->font();
    bold.setBold(true);
    lblVersion->setFont(bold);

    lblCopyright = new QLabel(this);
    lblCopyright->setGeometry(75, 44, 178, 121);
    lblCopyright->setWordWrap(true);
    lblCopyright->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    lblUrl = label(QString(), this, 75, 170);
    lblUrl->setObjectName(QStringLiteral("lblUrl"));
    QPalette link = lblUrl->palette();
    link.setColor(QPalette::WindowText, Qt::blue);
    link.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    lblUrl->setPalette(link);
    lblUrl->setAutoFillBackground(true);
    lblUrl->setCursor(Qt::PointingHandCursor);
    lblUrl->installEventFilter(this);

    bvlLower = new QFrame(this);
    bvlLower->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    bvlLower->setGeometry(8, 271, 244, 6);

    btnSysInfo = new QPushButton(tr("System Info..."), this);
    btnSysInfo->setGeometry(100, 295, 73, 23);
    connect(btnSysInfo, &QPushButton::clicked, this, &TAboutWnd::btnSysInfoClick);
    btnOk = new QPushButton(tr("OK"), this);
    btnOk->setGeometry(179, 295, 73, 23);
    btnOk->setDefault(true); // Enter; Escape closes every dialog
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(kDesignWidth, kDesignHeight);
    FormCreate();

    // Filling the window from the box.
    setWindowTitle(windowTitle().replace(QLatin1String("%s"), m_box.AppName()));
    lblAppName->setText(lblAppName->text().replace(QLatin1String("%s"), m_box.AppName()));
    lblAppName->adjustSize();
    QString copyright = m_box.Copyright();
    copyright.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    lblCopyright->setText(copyright);
    lblUrl->setText(m_box.Url());
    lblUrl->setToolTip(m_box.Url());
    lblUrl->adjustSize();
    fitPicture();

    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - rect().center());
}

void TAboutWnd::FormCreate()
{
    lblVersion->setText(GetVersionString(m_box.fileVersion()));
    lblVersion->adjustSize();
    lblVersionInfo->setVisible(!lblVersion->text().isEmpty());
}

QString TAboutWnd::GetVersionString(const std::optional<FileVersion> &version)
{
    if (!version)
        return QString();
    return QStringLiteral("%1.%2 (%3: %4.%5)")
        .arg(version->major)
        .arg(version->minor)
        .arg(tr("Build"))
        .arg(version->release)
        .arg(version->build);
}

void TAboutWnd::fitPicture()
{
    const QImage picture = m_box.Picture();
    QSize noted(0, 0);
    QSize fitted(0, 0);
    if (!picture.isNull()) {
        noted = imgApp->size();
        imgApp->setPixmap(QPixmap::fromImage(picture));
        fitted = QSize(picture.width(), std::max(picture.height(), noted.height()));
    }
    imgApp->resize(fitted);
    const int dx = fitted.width() - noted.width();
    const int dy = fitted.height() - noted.height();
    if (dx == 0 && dy == 0)
        return;
    setFixedSize(width() + dx, height() + dy);
    // Anchored to the right edge: the labels. To the right and bottom: the buttons. The line
    // is anchored to both sides and the bottom.
    for (QWidget *widget : {lblAppName, lblVersionInfo, lblVersion, lblCopyright, lblUrl})
        moveBy(widget, dx, 0);
    moveBy(btnSysInfo, dx, dy);
    moveBy(btnOk, dx, dy);
    bvlLower->setGeometry(bvlLower->x(), bvlLower->y() + dy, bvlLower->width() + dx,
                          bvlLower->height());
}

const QList<QStringList> &TAboutWnd::systemInformationTools()
{
    // The desktops' own system-information programs, then general ones.
    static const QList<QStringList> tools{
        {QStringLiteral("hardinfo2")},
        {QStringLiteral("hardinfo")},
        {QStringLiteral("kinfocenter")},
        {QStringLiteral("gnome-control-center"), QStringLiteral("info-overview")},
        {QStringLiteral("xfce4-about")},
    };
    return tools;
}

void TAboutWnd::btnSysInfoClick()
{
    const TAboutBox::Launcher launch = m_box.launcher();
    if (launch) {
        for (const QStringList &tool : systemInformationTools()) {
            if (launch(tool.first(), tool.mid(1)))
                return;
        }
    }
    QMessageBox box(QMessageBox::Critical, tr("Error"), tr("Could not execute system information!"),
                    QMessageBox::Ok, this);
    box.exec();
}

void TAboutWnd::lblUrlClick()
{
    const BusyCursor busy;
    // A failure is not reported.
    (void)QDesktopServices::openUrl(QUrl(lblUrl->toolTip()));
}

bool TAboutWnd::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblUrl && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            lblUrl->rect().contains(mouse->position().toPoint())) {
            lblUrlClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
