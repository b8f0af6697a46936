#include "frmvorlak.h"

#include "aboutbox.h"
#include "abouttexts.h"
#include "cardpanel.h"
#include "diagnosticslog.h"
#include "diagnosticswindow.h"
#include "frmsetup.h"
#include "lcdscreen.h"
#include "led.h"
#include "machine.h"
#include "menubarstyle.h"
#include "messagedecoder.h"
#include "monitorform.h"
#include "qtsoundplayer.h"
#include "seriallink.h"
#include "settingsfile.h"
#include "soundfolders.h"
#include "standarderrorbox.h"
#include "tcpserverlink.h"
#include "trafficlogview.h"
#include "vacomm.h"
#include "vorlakerror.h"
#include "windowicon.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QImageWriter>
#include <QLabel>
#include <QMenuBar>
#include <QNetworkInterface>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>

namespace
{

constexpr int kMenuHeight = 27;
constexpr int kMenuItemHeight = 20;
constexpr int kHeaderHeight = 41;
constexpr int kBottomHeight = 67;
constexpr int kStatusHeight = 19;
constexpr int kStatusPanelHeight = 14; // what the status bar's layout gives its panels
constexpr int kMinimumOuterWidth = 540;
constexpr int kMinimumOuterHeight = 512;

QColor fromColorValue(quint32 value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

QFont tahoma(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QWidget *whitePanel(QWidget *parent, int height)
{
    auto *panel = new QWidget(parent);
    panel->setFixedHeight(height);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::white);
    panel->setPalette(palette);
    return panel;
}

// A menu action's handler whose failure is reported where it happens. Qt's widget and GUI
// libraries are built without exception support: an error unwinding through QAction's
// signal would skip their clean-ups (and leak the action's guard) before the application's
// catch-all saw it.
template <typename Handler> auto reported(Handler handler)
{
    return [handler] {
        try {
            handler();
        } catch (const std::exception &error) {
            StandardErrorBox::show(QString::fromUtf8(error.what()));
        }
    };
}

// The frame's border drawn once more above the frame's children: a card larger than the
// workspace ends inside the border instead of painting over it. Covers only the border's
// pixels and takes no mouse input.
class FrameBorderOverlay : public QWidget
{
public:
    explicit FrameBorderOverlay(QFrame *frame) : QWidget(frame), m_frame(frame)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->installEventFilter(this);
        followFrame();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            followFrame();
        return false;
    }
    void paintEvent(QPaintEvent *) override
    {
        QStyleOptionFrame option;
        option.initFrom(m_frame);
        option.rect = m_frame->frameRect();
        option.frameShape = m_frame->frameShape();
        option.lineWidth = m_frame->lineWidth();
        option.midLineWidth = m_frame->midLineWidth();
        if (m_frame->frameShadow() == QFrame::Sunken)
            option.state |= QStyle::State_Sunken;
        else if (m_frame->frameShadow() == QFrame::Raised)
            option.state |= QStyle::State_Raised;
        QPainter painter(this);
        m_frame->style()->drawControl(QStyle::CE_ShapedFrame, &option, &painter, m_frame);
    }

private:
    void followFrame()
    {
        setGeometry(m_frame->rect());
        const int w = m_frame->frameWidth();
        setMask(QRegion(rect()).subtracted(QRegion(rect().adjusted(w, w, -w, -w))));
        raise();
    }

    QFrame *m_frame;
};

QString withTrailingSeparator(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

} // namespace

TfrmVorlak::TfrmVorlak(const AppOptions &options, QWidget *parent) : QMainWindow(parent)
{
    FormCreate(options);

    setWindowTitle(QStringLiteral("Corvane Embosser Simulator"));
    setWindowIcon(vorlakWindowIcon());
    setFont(tahoma(11));
    buildMenu();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildHeader(central);
    buildWorkSpace(central);
    buildBottom(central);
    layout->addWidget(paHeader);
    layout->addWidget(paWorkSpace, 1);
    layout->addWidget(paBottom);
    setCentralWidget(central);
    buildStatusBar();
    m_statusRepaint.setSingleShot(true);
    m_statusRepaint.setInterval(kStatusRepaintMs);
    connect(&m_statusRepaint, &QTimer::timeout, this, [this] {
        for (QLabel *panel : statusPanels) {
            if (!panel->updatesEnabled())
                panel->setUpdatesEnabled(true); // repaints it
        }
    });
    FormConstrainedResize();
    resize(525, 516);
    move(0, 0);

    m_frmSetup = new TfrmSetup(this);
    createDecoder();
    m_frmSetup->setExtraSerialPorts(options.extraSerialPorts);
    m_monitorForm = new TMonitorForm(this);
    m_diagnostics = new DiagnosticsLog(*m_machine, this);
    m_aboutBox = new TAboutBox(this);
    m_aboutBox->setAppName(QStringLiteral("Vorlak"));
    showMachine();

    // Shown from the event loop, not from inside the handler that announced them.
    connect(m_machine, &Machine::messageDropped, this, &StandardErrorBox::show,
            Qt::QueuedConnection);
    connect(m_serverSocket, &TcpServerLink::acceptFailed, this, &StandardErrorBox::show,
            Qt::QueuedConnection);
    connect(m_serialLink, &SerialLink::lineLost, this, [this](const QString &message) {
        setStatusPanelText(LinkPanel, QStringLiteral("Line lost"));
        QTimer::singleShot(0, this, [message] { StandardErrorBox::show(message); });
    });
    connect(m_machine, &Machine::longActionsEnded, this, [this] {
        // A close that came during a job or a reset sequence takes effect now.
        if (m_closePending)
            QTimer::singleShot(0, this, &QWidget::close);
    });
}

TfrmVorlak::~TfrmVorlak()
{
    // The links refer to the machine: they go first (children die in creation order).
    delete m_serialLink;
    m_serialLink = nullptr;
    delete m_serverSocket;
    m_serverSocket = nullptr;
}

// The machine announces, the window shows: each of its announcements goes to the widget or
// status panel that shows it, and the fault check boxes feed the machine's switches.
void TfrmVorlak::showMachine()
{
    connect(m_machine, &Machine::displayTextChanged, this, &TfrmVorlak::showDisplayText);
    connect(m_machine, &Machine::activityChanged, this, [this](bool on) {
        setStatusPanelText(ActivityPanel, on ? QStringLiteral("SEL") : QString());
    });
    connect(m_machine, &Machine::jobTagChanged, this,
            [this](const QString &tag) { setStatusPanelText(JobTagPanel, tag); });
    connect(m_machine, &Machine::linkStateChanged, this, [this](Machine::LinkState state) {
        setStatusPanelText(LinkPanel, state == Machine::LinkState::HostConnected
                                          ? QStringLiteral("Host connected")
                                          : QStringLiteral("Waiting"));
    });
    connect(m_machine, &Machine::traffic, this, &TfrmVorlak::logTraffic);
    connect(m_machine, &Machine::cardErased, cardPanel, &CardPanel::invalidateCard);
    for (QCheckBox *box : {cbFeederEmpty, cbCardMisfeed, cbYMotorError, cbXMotorError}) {
        connect(box, &QCheckBox::toggled, m_machine,
                [this] { m_machine->setFaultSwitches(faultSwitches()); });
    }
    m_machine->setFaultSwitches(faultSwitches());
}

void TfrmVorlak::createDecoder()
{
    // Jobs read the setup values at the moment of use.
    SetupValues setup;
    setup.font0Height = [this] { return m_frmSetup->font0Height(); };
    setup.font1Height = [this] { return m_frmSetup->font1Height(); };
    setup.reverse = [this] { return m_frmSetup->reverse(); };
    m_decoder = std::make_unique<MessageDecoder>(*m_machine, *cardPanel, std::move(setup));
    m_machine->setInterpreter(m_decoder.get());
    connect(acBackGround, &QAction::triggered, cardPanel,
            reported([this] { cardPanel->acBackGroundExecute(); }));
}

void TfrmVorlak::FormCreate(const AppOptions &options)
{
    QString base = options.dataFolder;
    if (base.isEmpty()) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        base = withTrailingSeparator(base) + QStringLiteral("Vorlak");
    }
    m_dataFolder = withTrailingSeparator(QDir::cleanPath(base));
    // A folder that cannot be created shows later, as a settings file that cannot be written.
    QDir().mkpath(m_dataFolder);
    m_programFolder = withTrailingSeparator(QCoreApplication::applicationDirPath());

    SoundPlayer *sound = options.sound;
    if (!sound) {
        const QStringList folders = soundFolders(m_programFolder);
        const QStringList missing = missingSoundFiles(folders);
        if (!missing.isEmpty()) {
            std::fprintf(stderr,
                         "vorlak: sound files %s found in none of %s; the system beep "
                         "stands in for them\n",
                         qPrintable(missing.join(QStringLiteral(", "))),
                         qPrintable(folders.join(QStringLiteral(", "))));
        }
        sound = new QtSoundPlayer(folders, this);
    }
    m_machine = new Machine(*sound, m_programFolder, this);
    m_machine->clock().setSpeed(options.speed);
    m_serverSocket = new TcpServerLink(*m_machine, this);
    m_serialLink = new SerialLink(*m_machine, this);
}

void TfrmVorlak::buildMenu()
{
    QMenuBar *bar = menuBar();
    bar->setFixedHeight(kMenuHeight);
    QFont menuFont(QStringLiteral("Segoe UI"));
    menuFont.setPixelSize(13);
    bar->setFont(menuFont);
    auto *barStyle = new MenuBarStyle(kMenuHeight, kMenuItemHeight);
    barStyle->setParent(this);
    bar->setStyle(barStyle);
    bar->setPalette(MenuBarStyle::barPalette(bar->palette()));

    QMenu *datei = bar->addMenu(QStringLiteral("&Datei"));
    // A drop-down is a window of its own: it takes neither the bar's font nor its colours.
    datei->setFont(menuFont);
    QPalette dropDown = datei->palette();
    for (const QPalette::ColorRole role :
         {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        dropDown.setColor(QPalette::Disabled, role, QColor(109, 109, 109));
    datei->setPalette(dropDown);
    acSetup = datei->addAction(QStringLiteral("&Maschinen Parameter"));
    acSetup->setObjectName(QStringLiteral("acSetup"));
    connect(acSetup, &QAction::triggered, this, reported([this] { acSetupExecute(); }));
    acBackGround = datei->addAction(QStringLiteral("&Hintergrundbild laden"));
    acBackGround->setObjectName(QStringLiteral("acBackGround"));
    acLog = datei->addAction(QStringLiteral("M&onitor"));
    acLog->setObjectName(QStringLiteral("acLog"));
    connect(acLog, &QAction::triggered, this, reported([this] { acLogExecute(); }));
    // Beyond the machine's own menu: keep what a test or a bug report needs.
    datei->addSeparator();
    acSaveCard = datei->addAction(QStringLiteral("&Kartenbild speichern..."));
    acSaveCard->setObjectName(QStringLiteral("acSaveCard"));
    connect(acSaveCard, &QAction::triggered, this, reported([this] { acSaveCardExecute(); }));
    acSaveLog = datei->addAction(QStringLiteral("Monitor-&Protokoll speichern..."));
    acSaveLog->setObjectName(QStringLiteral("acSaveLog"));
    connect(acSaveLog, &QAction::triggered, this, reported([this] { acSaveLogExecute(); }));
    acDiagnostics = datei->addAction(QStringLiteral("&Host-Diagnose..."));
    acDiagnostics->setObjectName(QStringLiteral("acDiagnostics"));
    connect(acDiagnostics, &QAction::triggered, this, reported([this] { acDiagnosticsExecute(); }));
    datei->addSeparator();
    FileExit1 = datei->addAction(QStringLiteral("&Beenden"));
    FileExit1->setObjectName(QStringLiteral("FileExit1"));
    FileExit1->setToolTip(QStringLiteral("Beenden"));
    FileExit1->setStatusTip(QStringLiteral("Anwendung beenden"));
    connect(FileExit1, &QAction::triggered, this, &QWidget::close);

    acInfo = bar->addAction(QStringLiteral("&Info"));
    acInfo->setObjectName(QStringLiteral("acInfo"));
    connect(acInfo, &QAction::triggered, this, reported([this] { acInfoExecute(); }));
}

void TfrmVorlak::buildHeader(QWidget *parent)
{
    paHeader = whitePanel(parent, kHeaderHeight);
    paHeader->setObjectName(QStringLiteral("paHeader"));
    Label1 = new QLabel(QStringLiteral("M830"), paHeader);
    Label1->setFont(tahoma(21, true));
    QPalette red = Label1->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label1->setPalette(red);
    Label1->move(11, 8);
    Label1->adjustSize();
    Label2 = new QLabel(QStringLiteral("Simulator"), paHeader);
    Label2->setFont(tahoma(21, true));
    Label2->move(70, 8);
    Label2->adjustSize();

    imgDelvor = new QLabel(paHeader);
    imgDelvor->setObjectName(QStringLiteral("imgDelvor"));
    imgDelvor->setAlignment(Qt::AlignCenter);
    const QPixmap logo(QStringLiteral(":/logo.png"));
    if (!logo.isNull())
        imgDelvor->setPixmap(logo.scaled(157, 37, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    imgDelvor->resize(157, 37);
    paHeader->installEventFilter(this);
}

void TfrmVorlak::placeLogo()
{
    // Aligned to the header's right edge with a right margin of 10 and a top margin of 1.
    imgDelvor->move(paHeader->width() - 10 - imgDelvor->width(), 1);
}

void TfrmVorlak::buildWorkSpace(QWidget *parent)
{
    paWorkSpace = new QFrame(parent);
    paWorkSpace->setObjectName(QStringLiteral("paWorkSpace"));
    paWorkSpace->setFrameStyle(QFrame::Box | QFrame::Plain);
    paWorkSpace->setLineWidth(1);
    paWorkSpace->setAutoFillBackground(true);
    QPalette palette = paWorkSpace->palette();
    palette.setColor(QPalette::Window, fromColorValue(5723991));
    palette.setColor(QPalette::WindowText, Qt::black);
    paWorkSpace->setPalette(palette);

    cardPanel = new CardPanel(paWorkSpace);
    cardPanel->setObjectName(QStringLiteral("CardPanel"));
    cardPanel->move(10, 11);
    new FrameBorderOverlay(paWorkSpace);
}

void TfrmVorlak::buildBottom(QWidget *parent)
{
    paBottom = whitePanel(parent, kBottomHeight);
    paBottom->setObjectName(QStringLiteral("paBottom"));

    LCDScreen = new TLCDScreen(paBottom);
    LCDScreen->setObjectName(QStringLiteral("LCDScreen"));
    LCDScreen->setNoOfLines(1);
    LCDScreen->setNoOfChars(20);
    LCDScreen->setPixelSize(pix2x2);
    LCDScreen->setPixelSpacing(1);
    LCDScreen->setCharSpacing(1);
    LCDScreen->setLineSpacing(1);
    LCDScreen->setBorderSpace(3);
    LCDScreen->setColor(9367726);
    LCDScreen->setPixelOff(14869218);
    LCDScreen->setIntensity(255);
    LCDScreen->setGeometry(5, 6, 307, 28);
    LCDScreen->setLines({QStringLiteral("POWERED ON")});

    auto button = [this](const QString &caption, int left) {
        auto *b = new QPushButton(caption, paBottom);
        b->setGeometry(left, 6, 43, 28);
        return b;
    };
    btnReset = button(QStringLiteral("&Reset"), 318);
    btnPause = button(QStringLiteral("&Pause"), 365);
    btnClear = button(QStringLiteral("&Clear"), 412);
    connect(btnReset, &QPushButton::clicked, m_machine, &Machine::btnResetClick);
    connect(btnPause, &QPushButton::clicked, m_machine, &Machine::btnPauseClick);
    connect(btnClear, &QPushButton::clicked, m_machine, &Machine::btnClearClick);

    LED1 = new TLED(paBottom);
    LED1->setObjectName(QStringLiteral("LED1"));
    LED1->move(461, 14);
    LED1->setColor(lcGreen);
    LED1->hide();

    auto checkBox = [this](const QString &caption, int left, int width) {
        auto *box = new QCheckBox(caption, paBottom);
        box->setGeometry(left, 40, width, 17);
        return box;
    };
    cbFeederEmpty = checkBox(QStringLiteral("Feeder Empty"), 5, 92);
    cbCardMisfeed = checkBox(QStringLiteral("Card Misfeed"), 108, 92);
    cbYMotorError = checkBox(QStringLiteral("Y Motor Emboss Error"), 206, 132);
    cbXMotorError = checkBox(QStringLiteral("X Motor Mov Error"), 338, 132);
}

void TfrmVorlak::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setFixedHeight(kStatusHeight);
    bar->setSizeGripEnabled(true);
    const int widths[StatusPanelCount] = {120, 50, 120, 120, 50};
    int left = 0;
    for (int i = 0; i < StatusPanelCount; ++i) {
        // Side by side from the left edge: placed by hand, since the status bar's own layout
        // keeps a margin and gaps between its widgets.
        auto *panel = new QLabel(bar);
        // Fixed in both directions: a new text then only repaints the panel. (A label whose
        // size may change has the whole status bar laid out again at every text, which is
        // every poll for panel 1.)
        panel->setFixedSize(widths[i], kStatusPanelHeight);
        panel->move(left, (kStatusHeight - kStatusPanelHeight) / 2 + 1);
        left += widths[i];
        panel->setAlignment((i == SparePanel ? Qt::AlignLeft : Qt::AlignHCenter) |
                            Qt::AlignVCenter);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // The job tag is the host's text: shown as it came, never read as rich text.
        panel->setTextFormat(Qt::PlainText);
        statusPanels[i] = panel;
    }
}

void TfrmVorlak::FormConstrainedResize()
{
    // The limits are on the outer size; the frame's extents are known once the window shows.
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    setMinimumSize(kMinimumOuterWidth - frame.left() - frame.right(),
                   kMinimumOuterHeight - frame.top() - frame.bottom());
}

void TfrmVorlak::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    FormConstrainedResize();
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    try {
        FormShow();
    } catch (const std::exception &error) {
        // The window shows all the same; the failure is reported once it is on screen.
        const QString message = QString::fromUtf8(error.what());
        QTimer::singleShot(0, this, [message] { StandardErrorBox::show(message); });
    }
}

void TfrmVorlak::FormShow()
{
    ReadSettingsFile();
    bool isNumber = false;
    const int port = m_frmSetup->portText().toInt(&isNumber, 10);
    m_serverSocket->setPort(isNumber ? port : 10001);
    m_serverSocket->Open();
    setStatusPanelText(AddressPanel,
                       GetFirstLocalIPv4() + QLatin1Char(':') + m_frmSetup->portText());
}

void TfrmVorlak::FormCloseQuery()
{
    // From now on the receive dispatcher ignores all host input.
    m_machine->state().Closing = true;
}

void TfrmVorlak::FormClose()
{
    try {
        WriteSettingsFile();
    } catch (const std::exception &error) {
        // Reported, and the TCP server closes all the same; the program's exit status says so.
        m_settingsWriteFailed = true;
        StandardErrorBox::show(QString::fromUtf8(error.what()));
    }
    m_serverSocket->Close();
}

void TfrmVorlak::closeEvent(QCloseEvent *event)
{
    if (!m_closeHandled) {
        m_closeHandled = true;
        FormCloseQuery();
        try {
            FormClose();
        } catch (const std::exception &error) {
            StandardErrorBox::show(QString::fromUtf8(error.what()));
        }
    }
    // A job or a reset sequence still on the stack runs to its end with the window shown; the
    // window closes when it returns.
    if (m_machine->longActionRunning()) {
        m_closePending = true;
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

bool TfrmVorlak::event(QEvent *event)
{
    // The window shows no hints: a highlighted menu entry's status tip would replace the
    // status panels with a temporary message.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

bool TfrmVorlak::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == paHeader && event->type() == QEvent::Resize)
        placeLogo();
    return QMainWindow::eventFilter(watched, event);
}

void TfrmVorlak::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    // A window manager that frames the window moves it.
    applyOuterSizeOnceFramed();
}

QString TfrmVorlak::SettingsFileName() const
{
    return m_dataFolder + SettingsFile::kFileName;
}

void TfrmVorlak::ReadSettingsFile()
{
    const QSize outer = SettingsFile::read(SettingsFileName(), *this, *m_frmSetup);
    // Before the window manager has framed the window its outer size is its inner size; the
    // size the file asked for is applied again once the frame is known, so the window does
    // not grow by its frame on every run.
    if (!windowHandle() || windowHandle()->frameMargins().isNull())
        m_outerSizeToApply = outer;
    setStayOnTop(m_frmSetup->stayOnTop());
}

void TfrmVorlak::applyOuterSizeOnceFramed()
{
    if (!m_outerSizeToApply.isValid() || !windowHandle())
        return;
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull())
        return;
    const QSize outer = m_outerSizeToApply;
    m_outerSizeToApply = QSize();
    FormConstrainedResize();
    resize(outer - QSize(frame.left() + frame.right(), frame.top() + frame.bottom()));
}

void TfrmVorlak::WriteSettingsFile()
{
    SettingsFile::write(SettingsFileName(), *this, *m_frmSetup);
}

void TfrmVorlak::acSetupExecute()
{
    // Outer frame centred on outer frame (move() places a window by its frame).
    const QRect dialogFrame = m_frmSetup->frameGeometry();
    m_frmSetup->move(frameGeometry().center() - (dialogFrame.center() - dialogFrame.topLeft()));
    if (m_frmSetup->exec() == QDialog::Accepted) {
        // A file that cannot be written ends the action here: the serial port is not touched
        // and the stay-on-top style is not applied.
        WriteSettingsFile();
        chooseSerialPort(m_frmSetup->serialPortName());
    }
    // The fonts took effect at once; the stay-on-top choice takes effect now, however the
    // dialog was closed.
    setStayOnTop(m_frmSetup->stayOnTop());
}

void TfrmVorlak::acInfoExecute()
{
    // The box must not hide behind its own main window: the main window is an ordinary window
    // while it shows, and gets its style back afterwards, also when showing fails.
    const bool wasOnTop = windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    setStayOnTop(false);
    const auto restore = qScopeGuard([this, wasOnTop] { setStayOnTop(wasOnTop); });
    m_aboutBox->setCopyright(aboutCopyright());
    m_aboutBox->setUrl(aboutUrl());
    m_aboutBox->setWarning(aboutWarning());
    m_aboutBox->Execute();
}

void TfrmVorlak::acLogExecute()
{
    if (m_monitorForm->isMinimized())
        m_monitorForm->showNormal();
    else
        m_monitorForm->show();
    m_monitorForm->raise();
    m_monitorForm->activateWindow();
}

void TfrmVorlak::setStayOnTop(bool onTop)
{
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (QWindow *handle = windowHandle()) {
        // Changed on the live window: setWindowFlags() would hide and re-create it, which is
        // not safe while it is being shown.
        overrideWindowFlags(flags);
        handle->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

void TfrmVorlak::showDisplayText(const QString &text)
{
    // The machine sets its display text at every poll, nearly always to the text already
    // shown. The display draws every new text synchronously, so what it shows is its text:
    // the same text again would redraw the same pixels, at most of the cost of a poll.
    if (LCDScreen->Lines().size() == 1 && LCDScreen->Lines().first() == text)
        return;
    LCDScreen->setLines({text});
}

QString TfrmVorlak::statusPanelText(int panel) const
{
    return statusPanels[panel]->text();
}

void TfrmVorlak::setStatusPanelText(int panel, const QString &text)
{
    QLabel *label = statusPanels[panel];
    if (label->text() == text)
        return;
    // A host that polls without pause changes panel 1 thousands of times a second. The text
    // is exact at once; the picture of a change that follows another within kStatusRepaintMs
    // is drawn when that time is up, so a burst costs one repaint, not one per poll.
    if (m_statusRepaint.isActive()) {
        label->setUpdatesEnabled(false);
        label->setText(text);
        return;
    }
    label->setText(text);
    m_statusRepaint.start();
}

FaultSwitches TfrmVorlak::faultSwitches() const
{
    return {cbFeederEmpty->isChecked(), cbCardMisfeed->isChecked(), cbYMotorError->isChecked(),
            cbXMotorError->isChecked()};
}

void TfrmVorlak::logTraffic(Machine::Direction direction, const QString &text)
{
    // The monitor numbers the directions: 0 received, 1 sent.
    m_monitorForm->LogTraffic(direction == Machine::Direction::Received ? 0 : 1, text);
}

QString TfrmVorlak::GetFirstLocalIPv4()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (flags.testFlag(QNetworkInterface::IsLoopBack) ||
            !flags.testFlag(QNetworkInterface::IsUp) ||
            interface.type() == QNetworkInterface::Loopback)
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
        }
    }
    return {};
}

void TfrmVorlak::chooseSerialPort(const QString &deviceName)
{
    // Closed, renamed, and opened unless "NONE". An open failure raises the component's
    // message; panel 0 keeps its text.
    m_serialDeviceName = deviceName;
    m_serialLink->choosePort(deviceName);
    if (deviceName != QLatin1String("NONE"))
        setStatusPanelText(LinkPanel, m_serialLink->VaComm().DeviceName());
}

void TfrmVorlak::saveCardPicture(const QString &fileName)
{
    QImageWriter writer(fileName, "png");
    if (!writer.write(cardPanel->cardPicture()))
        throw VorlakError(QStringLiteral("%1: %2").arg(fileName, writer.errorString()));
}

QString TfrmVorlak::monitorTrafficText() const
{
    return QStringLiteral("Rx:\n%1\n\nTx:\n%2\n")
        .arg(m_monitorForm->RxLog->text(), m_monitorForm->TxLog->text());
}

void TfrmVorlak::saveMonitorTraffic(const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) ||
        file.write(monitorTrafficText().toUtf8()) < 0 || !file.commit())
        throw VorlakError(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
}

void TfrmVorlak::acSaveCardExecute()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, QStringLiteral("Kartenbild speichern"), m_dataFolder + QStringLiteral("card.png"),
        QStringLiteral("PNG (*.png)"));
    if (!fileName.isEmpty())
        saveCardPicture(fileName);
}

void TfrmVorlak::acSaveLogExecute()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, QStringLiteral("Monitor-Protokoll speichern"),
        m_dataFolder + QStringLiteral("traffic.txt"), QStringLiteral("Text (*.txt)"));
    if (!fileName.isEmpty())
        saveMonitorTraffic(fileName);
}

void TfrmVorlak::acDiagnosticsExecute()
{
    if (!m_diagnosticsWindow)
        m_diagnosticsWindow = new DiagnosticsWindow(*m_diagnostics, this);
    if (m_diagnosticsWindow->isMinimized())
        m_diagnosticsWindow->showNormal();
    else
        m_diagnosticsWindow->show();
    m_diagnosticsWindow->raise();
    m_diagnosticsWindow->activateWindow();
}

// ---- Operations the rig's command table uses ----

void TfrmVorlak::clickButton(OperatorButton button)
{
    switch (button) {
    case OperatorButton::Reset:
        btnReset->click();
        break;
    case OperatorButton::Pause:
        btnPause->click();
        break;
    case OperatorButton::Clear:
        btnClear->click();
        break;
    }
}

void TfrmVorlak::setFaultSwitch(FaultSwitch fault, bool on)
{
    QCheckBox *const boxes[] = {cbFeederEmpty, cbCardMisfeed, cbYMotorError, cbXMotorError};
    boxes[static_cast<int>(fault)]->setChecked(on);
}

QStringList TfrmVorlak::displayLines() const
{
    return LCDScreen->Lines();
}

QImage TfrmVorlak::cardPicture()
{
    return cardPanel->cardPicture();
}

QSize TfrmVorlak::cardSize() const
{
    return cardPanel->size();
}
