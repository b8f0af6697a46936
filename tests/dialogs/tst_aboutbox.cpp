// The About box: its texts, the version line, the picture sizing rule, the system-information
// button's failure message and the web link.

#include "aboutbox.h"
#include "aboutwnd.h"
#include "modalwindows.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace
{

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
    Qt::CursorShape cursorWhileOpening = Qt::ArrowCursor;
public slots:
    void open(const QUrl &url)
    {
        opened.append(url);
        if (const QCursor *cursor = QApplication::overrideCursor())
            cursorWhileOpening = cursor->shape();
    }
};

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void captionAndNameCarryAppName();
    void versionLine_data();
    void versionLine();
    void programVersionComesFromTheBuild();
    void copyrightLinesAreSeparateLines();
    void pictureSizesTheWindow_data();
    void pictureSizesTheWindow();
    void systemInformationFailureIsReported();
    void systemInformationTriesToolsUntilOneStarts();
    void linkOpensTheTooltipAddress();
    void executeShowsModallyAndReleasesTheWindow();

private:
    std::unique_ptr<TAboutBox> m_box;
};

void TestAboutBox::init()
{
    m_box = std::make_unique<TAboutBox>();
    m_box->setAppName(QStringLiteral("Vorlak"));
}

void TestAboutBox::captionAndNameCarryAppName()
{
    TAboutWnd window(*m_box);
    QCOMPARE(window.windowTitle(), QStringLiteral("About Vorlak\u00AE"));
    QCOMPARE(window.lblAppName->text(), QStringLiteral("Vorlak\u00AE"));
    QCOMPARE(window.btnSysInfo->text(), QStringLiteral("System Info..."));
    QCOMPARE(window.size(), QSize(260, 326));

    // A fresh box: no name yet, the default texts.
    TAboutBox fresh;
    TAboutWnd plain(fresh);
    QCOMPARE(plain.windowTitle(), QStringLiteral("About \u00AE"));
    QCOMPARE(plain.lblCopyright->text(), TAboutBox::defaultCopyright());
    QCOMPARE(plain.lblUrl->text(), TAboutBox::defaultUrl());
    QCOMPARE(plain.lblUrl->toolTip(), TAboutBox::defaultUrl());
}

void TestAboutBox::versionLine_data()
{
    QTest::addColumn<bool>("hasVersion");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("release");
    QTest::addColumn<int>("build");
    QTest::addColumn<QString>("text");
    QTest::newRow("1.2.0.3") << true << 1 << 2 << 0 << 3 << QStringLiteral("1.2 (Build: 0.3)");
    QTest::newRow("large parts") << true << 65535 << 10 << 400 << 12
                                 << QStringLiteral("65535.10 (Build: 400.12)");
    QTest::newRow("none") << false << 0 << 0 << 0 << 0 << QString();
}

void TestAboutBox::versionLine()
{
    QFETCH(bool, hasVersion);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, release);
    QFETCH(int, build);
    QFETCH(QString, text);
    m_box->setFileVersion(
        hasVersion ? std::optional<FileVersion>(FileVersion{major, minor, release, build})
                   : std::nullopt);
    TAboutWnd window(*m_box);
    window.show();
    QCOMPARE(window.lblVersion->text(), text);
    QCOMPARE(window.lblVersionInfo->isVisible(), hasVersion);
    QCOMPARE(window.lblVersionInfo->text(), QStringLiteral("Version:"));
    QCOMPARE(window.lblVersion->pos(), QPoint(116, 25));
    QVERIFY(window.lblVersion->font().bold());
}

void TestAboutBox::programVersionComesFromTheBuild()
{
    const FileVersion version = TAboutBox::programVersion();
    QCOMPARE(version.major, VORLAK_VERSION_MAJOR);
    QCOMPARE(version.minor, VORLAK_VERSION_MINOR);
    QCOMPARE(version.release, VORLAK_VERSION_PATCH);
    QCOMPARE(version.build, VORLAK_VERSION_TWEAK);
    TAboutWnd window(*m_box);
    QCOMPARE(window.lblVersion->text(), QStringLiteral("%1.%2 (Build: %3.%4)")
                                            .arg(VORLAK_VERSION_MAJOR)
                                            .arg(VORLAK_VERSION_MINOR)
                                            .arg(VORLAK_VERSION_PATCH)
                                            .arg(VORLAK_VERSION_TWEAK));
}

void TestAboutBox::copyrightLinesAreSeparateLines()
{
    m_box->setCopyright(QStringLiteral("one\rtwo\r\nthree\nfour"));
    TAboutWnd window(*m_box);
    QCOMPARE(window.lblCopyright->text(), QStringLiteral("one\ntwo\nthree\nfour"));
    QCOMPARE(window.lblCopyright->geometry(), QRect(75, 44, 178, 121));
    QVERIFY(window.lblCopyright->wordWrap());
}

void TestAboutBox::pictureSizesTheWindow_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QSize>("element");
    QTest::newRow("no picture") << QSize() << QSize(260, 326) << QSize(0, 0);
    QTest::newRow("100 x 300") << QSize(100, 300) << QSize(299, 376) << QSize(100, 300);
    QTest::newRow("design size") << QSize(61, 250) << QSize(260, 326) << QSize(61, 250);
    QTest::newRow("narrow and short") << QSize(20, 40) << QSize(219, 326) << QSize(20, 250);
}

void TestAboutBox::pictureSizesTheWindow()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, window);
    QFETCH(QSize, element);
    if (picture.isValid()) {
        QImage image(picture, QImage::Format_RGB32);
        image.fill(Qt::red);
        m_box->setPicture(image);
    }
    TAboutWnd about(*m_box);
    QCOMPARE(about.size(), window);
    QCOMPARE(about.imgApp->geometry(), QRect(QPoint(8, 10), element));
    const int dx = window.width() - 260;
    const int dy = window.height() - 326;
    // Right and bottom elements keep their distance to those edges.
    QCOMPARE(about.btnOk->geometry(), QRect(179 + dx, 295 + dy, 73, 23));
    QCOMPARE(about.btnSysInfo->geometry(), QRect(100 + dx, 295 + dy, 73, 23));
    QCOMPARE(about.bvlLower->geometry(), QRect(8, 271 + dy, 244 + dx, 6));
    QCOMPARE(about.lblCopyright->geometry(), QRect(75 + dx, 44, 178, 121));
    QCOMPARE(about.lblAppName->pos(), QPoint(75 + dx, 10));
    QCOMPARE(about.lblUrl->pos(), QPoint(75 + dx, 170));
}

void TestAboutBox::systemInformationFailureIsReported()
{
    QStringList tried;
    m_box->setLauncher([&](const QString &program, const QStringList &) {
        tried.append(program);
        return false;
    });
    TAboutWnd window(*m_box);
    window.show();
    QString message;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenModalShows([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        message = box->text();
        buttons = box->standardButtons();
        icon = box->icon();
        box->accept();
    });
    window.btnSysInfo->click();
    QCOMPARE(message, QStringLiteral("Could not execute system information!"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(tried.size(), TAboutWnd::systemInformationTools().size());
    QVERIFY(window.isVisible());
}

void TestAboutBox::systemInformationTriesToolsUntilOneStarts()
{
    QStringList tried;
    m_box->setLauncher([&](const QString &program, const QStringList &) {
        tried.append(program);
        return tried.size() == 2;
    });
    TAboutWnd window(*m_box);
    window.show();
    window.btnSysInfo->click();
    QCOMPARE(tried.size(), 2);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestAboutBox::linkOpensTheTooltipAddress()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    m_box->setUrl(QStringLiteral("https://support.example/contact"));
    TAboutWnd window(*m_box);
    window.show();
    QCOMPARE(window.lblUrl->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(window.lblUrl, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl(QStringLiteral("https://support.example/contact"))});
    QCOMPARE(catcher.cursorWhileOpening, Qt::WaitCursor);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestAboutBox::executeShowsModallyAndReleasesTheWindow()
{
    QPointer<QWidget> shown;
    bool wasModal = false;
    whenModalShows([&](QWidget *modal) {
        shown = modal;
        wasModal = modal->isModal() && qobject_cast<TAboutWnd *>(modal);
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    m_box->Execute();
    QVERIFY(wasModal);
    QVERIFY(shown.isNull());

    whenModalShows([&](QWidget *modal) {
        shown = modal;
        QTest::keyClick(modal, Qt::Key_Return);
    });
    m_box->Execute();
    QVERIFY(shown.isNull());
}

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
