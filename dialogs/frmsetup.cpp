#include "frmsetup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>

TfrmSetup::TfrmSetup(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Maschinen Parameter"));
    setFixedSize(205, 219);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    setFont(tahoma);

    laPort = new QLabel(QStringLiteral("TCP Port"), this);
    laPort->setGeometry(8, 6, 42, 13);
    ePort = new QLineEdit(QStringLiteral("10001"), this);
    ePort->setGeometry(8, 25, 41, 21);
    ePort->setMaxLength(5);
    ePort->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), ePort));

    Label2 = new QLabel(QStringLiteral("TCP Port"), this);
    Label2->setGeometry(120, 6, 42, 13);
    cbCOM = new QComboBox(this);
    cbCOM->setGeometry(120, 25, 69, 21);
    cbCOM->addItem(QStringLiteral("NONE"));

    Label1 = new QLabel(QStringLiteral("Protokoll"), this);
    Label1->setGeometry(8, 53, 41, 13);
    cbProtocol = new QComboBox(this);
    cbProtocol->setGeometry(8, 72, 181, 21);
    cbProtocol->addItem(QStringLiteral("SEP"));

    gbFont0 = new QGroupBox(QStringLiteral("Font 0"), this);
    gbFont0->setGeometry(8, 101, 91, 51);
    udFont0 = new QSpinBox(gbFont0);
    udFont0->setGeometry(8, 19, 52, 21);
    udFont0->setRange(1, 99);
    udFont0->setValue(5);
    laFontmm0 = new QLabel(QStringLiteral("mm"), gbFont0);
    laFontmm0->setGeometry(66, 22, 16, 13);

    gbFont1 = new QGroupBox(QStringLiteral("Font 1"), this);
    gbFont1->setGeometry(105, 101, 89, 51);
    udFont1 = new QSpinBox(gbFont1);
    udFont1->setGeometry(7, 20, 52, 21);
    udFont1->setRange(1, 99);
    udFont1->setValue(5);
    laFontmm1 = new QLabel(QStringLiteral("mm"), gbFont1);
    laFontmm1->setGeometry(62, 23, 16, 13);

    cbStayOnTop = new QCheckBox(QStringLiteral("Immer im Vordergrund"), this);
    cbStayOnTop->setGeometry(8, 157, 181, 17);
    // Only the settings file can switch the 180-degree mode on.
    cbReverse = new QCheckBox(QStringLiteral("180° gedreht"), this);
    cbReverse->setGeometry(2, 191, 97, 17);
    cbReverse->hide();

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setGeometry(24, 187, 75, 25);
    btnOK->setAutoDefault(false);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel = new QPushButton(QStringLiteral("Abbruch"), this);
    btnCancel->setGeometry(105, 187, 75, 25);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TfrmSetup::portText() const
{
    return ePort->text();
}
int TfrmSetup::font0Height() const
{
    return udFont0->value();
}
int TfrmSetup::font1Height() const
{
    return udFont1->value();
}
bool TfrmSetup::reverse() const
{
    return cbReverse->isChecked();
}
bool TfrmSetup::stayOnTop() const
{
    return cbStayOnTop->isChecked();
}
QString TfrmSetup::serialPortName() const
{
    return cbCOM->currentText();
}
