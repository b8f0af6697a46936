#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// "Maschinen Parameter": the operator's setup values. Created hidden at start and kept for the
// whole run, so its fields hold their values between uses; other parts read the fields at the
// moment of use.
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

    QLabel *laPort = nullptr;
    QLineEdit *ePort = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *cbCOM = nullptr;
    QLabel *Label1 = nullptr;
    QComboBox *cbProtocol = nullptr;
    QGroupBox *gbFont0 = nullptr;
    QSpinBox *udFont0 = nullptr;
    QLabel *laFontmm0 = nullptr;
    QGroupBox *gbFont1 = nullptr;
    QSpinBox *udFont1 = nullptr;
    QLabel *laFontmm1 = nullptr;
    QCheckBox *cbStayOnTop = nullptr;
    QCheckBox *cbReverse = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;
};
