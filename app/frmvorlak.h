#pragma once

#include "appoptions.h"
#include "machine.h"
#include "statuspanels.h"

#include <memory>
#include <QMainWindow>
#include <QSize>
#include <QStringList>
#include <QTimer>

class CardPanel;
class DiagnosticsLog;
class DiagnosticsWindow;
class MessageDecoder;
class QAction;
class QCheckBox;
class QFrame;
class QImage;
class QLabel;
class QPushButton;
class QWidget;
class TAboutBox;
class SerialLink;
class TcpServerLink;
class TfrmSetup;
class TLCDScreen;
class TLED;
class TMonitorForm;

// The main window: the whole visible machine, and the owner of every component.
class TfrmVorlak : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmVorlak(const AppOptions &options = {}, QWidget *parent = nullptr);
    ~TfrmVorlak() override;

    QString DataFolder() const { return m_dataFolder; }
    QString ProgramFolder() const { return m_programFolder; }

    Machine &machine() { return *m_machine; }
    TcpServerLink &ServerSocket() { return *m_serverSocket; }
    SerialLink &serialLink() { return *m_serialLink; }
    TfrmSetup &frmSetup() { return *m_frmSetup; }
    MessageDecoder &decoder() { return *m_decoder; }
    TMonitorForm &MonitorForm() { return *m_monitorForm; }
    TAboutBox &AboutBox() { return *m_aboutBox; }
    // What the machine diagnosed in the host's data, and its window (made when first shown).
    DiagnosticsLog &diagnostics() { return *m_diagnostics; }
    DiagnosticsWindow *diagnosticsWindow() const { return m_diagnosticsWindow; }

    // The settings file: DataFolder + "Vorlak.ini". Reading applies the window's placement,
    // the setup dialog's values and the stay-on-top style; writing fails with "In <path> kann
    // nicht geschrieben werden".
    QString SettingsFileName() const;
    void ReadSettingsFile();
    void WriteSettingsFile();
    // Whether the close could not write the settings file (the program then ends with 1).
    bool settingsWriteFailed() const { return m_settingsWriteFailed; }
    // The serial device last confirmed with "OK" in the setup dialog ("NONE": no serial link).
    QString SerialDeviceName() const { return m_serialDeviceName; }

    // What the window shows of the machine (StatusPanel numbers the status bar's panels).
    void showDisplayText(const QString &text);
    QString statusPanelText(int panel) const;
    void setStatusPanelText(int panel, const QString &text);
    // The fault check boxes; the machine follows every change.
    FaultSwitches faultSwitches() const;

    static QString GetFirstLocalIPv4();

    // The serial link takes a device, as after the setup dialog's "OK".
    void chooseSerialPort(const QString &deviceName);

    // The card picture as PNG, and the monitor's traffic as text; both fail with a message.
    void saveCardPicture(const QString &fileName);
    void saveMonitorTraffic(const QString &fileName);
    QString monitorTrafficText() const;

    // ---- Operations the rig's command table uses ----
    // The control port and its later fronts reach the window only through these, never through
    // its widgets.
    enum class OperatorButton { Reset, Pause, Clear };
    enum class FaultSwitch { FeederEmpty, CardMisfeed, YMotorError, XMotorError };
    // Clicks the real button, so whatever is connected to it runs as for the operator's click.
    void clickButton(OperatorButton button);
    // Checks or unchecks the fault check box, as the operator would.
    void setFaultSwitch(FaultSwitch fault, bool on);
    // The text the display shows, one string per display line.
    QStringList displayLines() const;
    // The card as drawn (transparent outside its rounded outline), and its size in pixels.
    QImage cardPicture();
    QSize cardSize() const;
    // ---- end of the operations the rig's command table uses ----

    // Components, named as the machine's layout names them.
    QWidget *paHeader = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *imgDelvor = nullptr;
    QFrame *paWorkSpace = nullptr;
    CardPanel *cardPanel = nullptr;
    QWidget *paBottom = nullptr;
    TLCDScreen *LCDScreen = nullptr;
    TLED *LED1 = nullptr;
    QPushButton *btnReset = nullptr;
    QPushButton *btnPause = nullptr;
    QPushButton *btnClear = nullptr;
    QCheckBox *cbFeederEmpty = nullptr;
    QCheckBox *cbCardMisfeed = nullptr;
    QCheckBox *cbYMotorError = nullptr;
    QCheckBox *cbXMotorError = nullptr;
    QLabel *statusPanels[StatusPanelCount] = {};
    QAction *acSetup = nullptr;
    QAction *acBackGround = nullptr;
    QAction *acLog = nullptr;
    QAction *acSaveCard = nullptr;
    QAction *acSaveLog = nullptr;
    QAction *acDiagnostics = nullptr;
    QAction *FileExit1 = nullptr;
    QAction *acInfo = nullptr;

signals:
    // The window has closed for good; the program ends.
    void closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void FormCreate(const AppOptions &options);
    void FormShow();
    void FormCloseQuery();
    void FormClose();
    void FormConstrainedResize();
    void acSetupExecute();
    void acInfoExecute();
    void acLogExecute();
    void acSaveCardExecute();
    void acSaveLogExecute();
    void acDiagnosticsExecute();
    void setStayOnTop(bool onTop);
    void applyOuterSizeOnceFramed();

    void createDecoder();
    void showMachine();
    void logTraffic(Machine::Direction direction, const QString &text);
    void buildMenu();
    void buildHeader(QWidget *parent);
    void buildWorkSpace(QWidget *parent);
    void buildBottom(QWidget *parent);
    void buildStatusBar();
    void placeLogo();

    QString m_dataFolder;
    QString m_programFolder;
    std::unique_ptr<SoundPlayer> m_ownSound;
    Machine *m_machine = nullptr;
    TcpServerLink *m_serverSocket = nullptr;
    SerialLink *m_serialLink = nullptr;
    TfrmSetup *m_frmSetup = nullptr;
    std::unique_ptr<MessageDecoder> m_decoder;
    TMonitorForm *m_monitorForm = nullptr;
    TAboutBox *m_aboutBox = nullptr;
    DiagnosticsLog *m_diagnostics = nullptr;
    DiagnosticsWindow *m_diagnosticsWindow = nullptr;
    QString m_serialDeviceName = QStringLiteral("NONE");
    // The outer size the settings file asked for, until the window manager's frame is known.
    QSize m_outerSizeToApply;
    bool m_shownOnce = false;
    bool m_closeHandled = false;
    bool m_closePending = false;
    bool m_settingsWriteFailed = false;
    // The status panels' pictures follow their texts at most this often (see
    // setStatusPanelText).
    static constexpr int kStatusRepaintMs = 20;
    QTimer m_statusRepaint;
};
