#pragma once

#include <QDialog>

#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class TAboutBox;
struct FileVersion;

// The About window, built anew for every showing from the TAboutBox that owns it. Its design
// size is 260 x 326; a picture wider than 61 or taller than 250 pixels grows it, and the
// elements on the right and at the bottom move with those edges.
class TAboutWnd : public QDialog
{
    Q_OBJECT
public:
    // CreateAboutBox: builds the window from its layout and fills it from box.
    TAboutWnd(TAboutBox &box, QWidget *parent = nullptr);

    // "1.2 (Build: 0.3)" for 1.2.0.3; empty without a version.
    static QString GetVersionString(const std::optional<FileVersion> &version);

    QLabel *imgApp = nullptr;
    QLabel *lblAppName = nullptr;
    QLabel *lblVersionInfo = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *lblUrl = nullptr;
    QFrame *bvlLower = nullptr;
    QPushButton *btnSysInfo = nullptr;
    QPushButton *btnOk = nullptr;

    // The programs tried, in order, for "System Info...".
    static const QList<QStringList> &systemInformationTools();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void fitPicture();
    void btnSysInfoClick();
    void lblUrlClick();

    TAboutBox &m_box;
};
