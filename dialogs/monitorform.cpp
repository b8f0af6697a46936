#include "monitorform.h"

#include "trafficlogview.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

QFont pixelFont(const QStringList &families, int pixelSize)
{
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    return font;
}

TrafficLogView *logField(QGroupBox *group)
{
    auto *field = new TrafficLogView(group);
    // Courier New where it exists, else its metric twin.
    QFont font = pixelFont({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")}, 11);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    field->setFont(font);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::white);
    field->setPalette(palette);
    auto *layout = new QVBoxLayout(group);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(field);
    return field;
}

constexpr int kButtonStripHeight = 41;

} // namespace

TMonitorForm::TMonitorForm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("MonitorForm"));
    setWindowTitle(QStringLiteral("Monitor"));
    setFont(pixelFont({QStringLiteral("Tahoma")}, 11));

    gbRx = new QGroupBox(QStringLiteral("Rx"), this);
    RxLog = logField(gbRx);
    RxLog->setObjectName(QStringLiteral("RxLog"));
    gbTx = new QGroupBox(QStringLiteral("Tx"), this);
    TxLog = logField(gbTx);
    TxLog->setObjectName(QStringLiteral("TxLog"));

    paBottom = new QWidget(this);
    paBottom->setObjectName(QStringLiteral("paBottom"));
    btnClose = new QPushButton(QStringLiteral("Exit"), paBottom);
    btnClose->setGeometry(6, 6, 75, 25);
    connect(btnClose, &QPushButton::clicked, this, &TMonitorForm::btnCloseClick);
    btnCLR = new QPushButton(QStringLiteral("CLR"), paBottom);
    btnCLR->setGeometry(87, 6, 75, 25);
    connect(btnCLR, &QPushButton::clicked, this, &TMonitorForm::btnCLRClick);

    setMinimumSize(180, 120);
    resize(516, 346);
    move(0, 0);
    FormResize();
}

QString TMonitorForm::RenderTraffic(const QString &text)
{
    QString rendering;
    rendering.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 32 && code <= 127) {
            rendering.append(c);
        } else {
            rendering.append(QLatin1Char('#'));
            rendering.append(QString::number(code));
        }
    }
    return rendering;
}

void TMonitorForm::LogTraffic(quint8 direction, const QString &text)
{
    if (!isVisible())
        return;
    if (direction == 0)
        RxLog->append(RenderTraffic(text));
    else if (direction == 1)
        TxLog->append(RenderTraffic(text));
    if (m_processingEvents)
        return;
    m_processingEvents = true;
    struct Reset {
        bool &flag;
        ~Reset() { flag = false; }
    } reset{m_processingEvents};
    QCoreApplication::processEvents();
}

void TMonitorForm::btnCloseClick()
{
    close();
}

void TMonitorForm::btnCLRClick()
{
    clearTraffic();
}

QString TMonitorForm::receivedText() const
{
    return RxLog->text();
}

QString TMonitorForm::sentText() const
{
    return TxLog->text();
}

void TMonitorForm::clearTraffic()
{
    TxLog->clear();
    RxLog->clear();
}

void TMonitorForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TMonitorForm::FormResize()
{
    // "Rx" gets half of what the button strip leaves, rounded down; "Tx" the rest.
    const int clientWidth = width();
    const int clientHeight = height();
    const int rxHeight = (clientHeight - kButtonStripHeight) / 2;
    gbRx->setGeometry(0, 0, clientWidth, rxHeight);
    gbTx->setGeometry(0, rxHeight, clientWidth, clientHeight - kButtonStripHeight - rxHeight);
    paBottom->setGeometry(0, clientHeight - kButtonStripHeight, clientWidth, kButtonStripHeight);
}
