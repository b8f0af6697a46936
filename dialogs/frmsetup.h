#pragma once

#include "digitedit.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;

// "Maschinen Parameter": the operator's setup values. Created hidden at start and kept for the
// whole run, so its fields hold their values between uses (also after "Abbruch"); other parts
// read the fields at the moment of use. Enter and Escape do not close it; its close button
// gives the result Cancel.
class TfrmSetup : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmSetup(QWidget *parent = nullptr);

    // The setup values as the rest of the program reads them.
    QString portText() const;
    int font0Height() const;
    int font1Height() const;
    bool reverse() const;
    bool stayOnTop() const;
    QString serialPortName() const;

    // Rebuilds the serial port list: "NONE", then the system's devices; the previous choice
    // stays selected if it is still listed.
    void FillPortList();
    // Appends the system's serial devices (see SystemSerialDevices), then the extra devices;
    // true when the list is not empty afterwards.
    bool ListSerialPorts(QStringList &list) const;
    // Selects the entry equal to text without regard to case; with none, nothing is selected
    // and the list's text is empty.
    static void SelectComboText(const QString &text, QComboBox *comboBox);

    // Where the kernel's tty class lives (tests give a folder of their own).
    void setTtyClassRoot(const QString &root) { m_ttyClassRoot = root; }
    // Devices the system does not list, offered as well: a pseudo-terminal or a socat link
    // named on the command line.
    void setExtraSerialPorts(const QStringList &devices) { m_extraSerialPorts = devices; }

    QLabel *laPort = nullptr;
    TDigitEdit *ePort = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *cbCOM = nullptr;
    QLabel *Label1 = nullptr;
    QComboBox *cbProtocol = nullptr;
    QGroupBox *gbFont0 = nullptr;
    // The edit field and its up-down buttons in one control.
    QSpinBox *udFont0 = nullptr;
    QLabel *laFontmm0 = nullptr;
    QGroupBox *gbFont1 = nullptr;
    QSpinBox *udFont1 = nullptr;
    QLabel *laFontmm1 = nullptr;
    QCheckBox *cbStayOnTop = nullptr;
    QCheckBox *cbReverse = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();

    QString m_ttyClassRoot;
    QStringList m_extraSerialPorts;
};
