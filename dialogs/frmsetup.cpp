#include "frmsetup.h"

#include "digitedit.h"
#include "serialdevices.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace
{

QFont pixelFont(const QString &family, int pixelSize)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

QSpinBox *fontHeightField(QGroupBox *group, int left, int top)
{
    // The edit field (36 wide, up to 3 digits) and its up-down buttons (16 wide) side by side.
    auto *field = new QSpinBox(group);
    field->setGeometry(left, top, 36 + 16, 21);
    field->setRange(1, 99);
    field->setValue(5);
    field->setFont(pixelFont(QStringLiteral("MS Sans Serif"), 11));
    return field;
}

// Labels size themselves to their text (16 x 13 for "mm" in the design font).
QLabel *label(const QString &text, QWidget *parent, int left, int top)
{
    auto *label = new QLabel(text, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLabel *mmLabel(QGroupBox *group, int left, int top)
{
    auto *mm = new QLabel(QStringLiteral("mm"), group);
    mm->setFont(pixelFont(QStringLiteral("MS Sans Serif"), 11));
    mm->move(left, top);
    mm->adjustSize();
    return mm;
}

} // namespace

TfrmSetup::TfrmSetup(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_ttyClassRoot(QStringLiteral("/sys/class/tty"))
{
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(QStringLiteral("Maschinen Parameter"));
    setFixedSize(205, 219);
    setFont(pixelFont(QStringLiteral("Tahoma"), 11));

    laPort = label(QStringLiteral("TCP Port"), this, 8, 6);
    ePort = new TDigitEdit(QStringLiteral("10001"), 5, this);
    ePort->setObjectName(QStringLiteral("ePort"));
    ePort->setGeometry(8, 25, 41, 21);

    Label2 = label(QStringLiteral("TCP Port"), this, 120, 6);
    cbCOM = new QComboBox(this);
    cbCOM->setObjectName(QStringLiteral("cbCOM"));
    cbCOM->setGeometry(120, 25, 69, 21);
    cbCOM->addItem(QStringLiteral("NONE"));

    Label1 = label(QStringLiteral("Protokoll"), this, 8, 53);
    cbProtocol = new QComboBox(this);
    cbProtocol->setObjectName(QStringLiteral("cbProtocol"));
    cbProtocol->setGeometry(8, 72, 181, 21);
    cbProtocol->addItem(QStringLiteral("SEP"));

    gbFont0 = new QGroupBox(QStringLiteral("Font 0"), this);
    gbFont0->setGeometry(8, 101, 91, 51);
    udFont0 = fontHeightField(gbFont0, 8, 19);
    udFont0->setObjectName(QStringLiteral("udFont0"));
    laFontmm0 = mmLabel(gbFont0, 66, 22);

    gbFont1 = new QGroupBox(QStringLiteral("Font 1"), this);
    gbFont1->setGeometry(105, 101, 89, 51);
    udFont1 = fontHeightField(gbFont1, 7, 20);
    udFont1->setObjectName(QStringLiteral("udFont1"));
    laFontmm1 = mmLabel(gbFont1, 62, 23);

    cbStayOnTop = new QCheckBox(QStringLiteral("Immer im Vordergrund"), this);
    cbStayOnTop->setObjectName(QStringLiteral("cbStayOnTop"));
    cbStayOnTop->setGeometry(8, 157, 181, 17);
    // Only the settings file can switch the 180-degree mode on.
    cbReverse = new QCheckBox(QStringLiteral("180° gedreht"), this);
    cbReverse->setObjectName(QStringLiteral("cbReverse"));
    cbReverse->setGeometry(2, 191, 97, 17);
    cbReverse->setFont(pixelFont(QStringLiteral("MS Sans Serif"), 11));
    cbReverse->hide();

    // Neither button is a default button: Enter closes nothing.
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(24, 187, 75, 25);
    btnOK->setAutoDefault(false);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel = new QPushButton(QStringLiteral("Abbruch"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(105, 187, 75, 25);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The keyboard visits the fonts first, then the buttons, then the port, protocol,
    // stay-on-top and serial port.
    QWidget *const order[] = {cbReverse, udFont0,    udFont1,     btnOK, btnCancel,
                              ePort,     cbProtocol, cbStayOnTop, cbCOM};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
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

void TfrmSetup::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmSetup::FormShow()
{
    FillPortList();
    // Each time it opens, the dialog starts in the first control the keyboard visits (the
    // hidden "180° gedreht" comes first in that order, so Font 0), not in the one the operator
    // left last time.
    for (QWidget *widget = cbReverse->nextInFocusChain(); widget != cbReverse;
         widget = widget->nextInFocusChain()) {
        if (widget->isVisibleTo(this) && widget->isEnabled() &&
            (widget->focusPolicy() & Qt::TabFocus) && widget->window() == this) {
            widget->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

void TfrmSetup::keyPressEvent(QKeyEvent *event)
{
    // Escape does not cancel this dialog (only "Abbruch" and the close button do).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmSetup::FillPortList()
{
    QString previous = cbCOM->currentText();
    if (previous.isEmpty())
        previous = QStringLiteral("NONE");
    QStringList entries{QStringLiteral("NONE")};
    ListSerialPorts(entries);
    cbCOM->clear();
    cbCOM->addItems(entries);
    SelectComboText(previous, cbCOM);
    // Device paths are longer than the closed list is wide; the open list shows them whole.
    int widest = 0;
    const QFontMetrics metrics(cbCOM->view()->font());
    for (const QString &entry : std::as_const(entries))
        widest = std::max(widest, metrics.horizontalAdvance(entry));
    cbCOM->view()->setMinimumWidth(widest + 24);
}

bool TfrmSetup::ListSerialPorts(QStringList &list) const
{
    list.append(SystemSerialDevices(m_ttyClassRoot));
    list.append(m_extraSerialPorts);
    return !list.isEmpty();
}

void TfrmSetup::SelectComboText(const QString &text, QComboBox *comboBox)
{
    for (int i = 0; i < comboBox->count(); ++i) {
        if (comboBox->itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
            comboBox->setCurrentIndex(i);
            return;
        }
    }
    comboBox->setCurrentIndex(-1);
}
