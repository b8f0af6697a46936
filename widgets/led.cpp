#include "led.h"

#include <QMouseEvent>
#include <QPainter>

TLEDBitmap *TLEDBitmap::s_shared = nullptr;
int TLEDBitmap::s_loads = 0;

TLEDBitmap::TLEDBitmap()
{
    const QImage strip(QStringLiteral(":/ledstrip.png"));
    if (strip.isNull())
        qWarning("TLED: the picture strip :/ledstrip.png is missing; LEDs show blank");
    LED_Pics = strip.convertToFormat(QImage::Format_RGB32);
    if (!LED_Pics.isNull())
        Trans_Color = LED_Pics.pixel(0, LED_Pics.height() - 1);
    ++s_loads;
}

TLED::TLED(QWidget *parent) : QWidget(parent)
{
    if (!TLEDBitmap::s_shared)
        TLEDBitmap::s_shared = new TLEDBitmap;
    TLEDBitmap::s_shared->LED_List.append(this);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(CellWidth, CellHeight);
}

TLED::~TLED()
{
    TLEDBitmap *shared = TLEDBitmap::s_shared;
    shared->LED_List.removeOne(this);
    if (shared->LED_List.isEmpty()) {
        delete shared;
        TLEDBitmap::s_shared = nullptr;
    }
}

void TLED::setLit(bool value)
{
    if (value == FLit)
        return;
    FLit = value;
    repaint();
    emit OnChangeState(this);
}

void TLED::setColor(TLEDColor value)
{
    if (value == FColor)
        return;
    FColor = value;
    repaint();
    emit OnChangeState(this);
}

bool TLED::ChangeState()
{
    setLit(!FLit);
    return FLit;
}

TLEDColor TLED::ChangeColor()
{
    setColor(static_cast<TLEDColor>((FColor + 1) % 3));
    return FColor;
}

QColor TLED::backgroundColor() const
{
    const QWidget *from = parentWidget() ? parentWidget() : this;
    return from->palette().color(from->backgroundRole());
}

void TLED::DrawLED(QPainter &painter)
{
    int column = FLit ? 1 : 0;
    int row = FColor;
    if (!isEnabled()) {
        column = 0;
        row = 3;
    }
    const QRgb brush = backgroundColor().rgb();
    QImage cell(CellWidth, CellHeight, QImage::Format_RGB32);
    cell.fill(brush);
    const TLEDBitmap *shared = TLEDBitmap::s_shared;
    if (shared && !shared->LED_Pics.isNull()) {
        for (int y = 0; y < CellHeight; ++y) {
            for (int x = 0; x < CellWidth; ++x) {
                const QRgb pixel =
                    shared->LED_Pics.pixel(column * CellWidth + x, row * CellHeight + y);
                if (pixel != shared->Trans_Color)
                    cell.setPixel(x, y, pixel);
            }
        }
    }
    painter.drawImage(0, 0, cell);
}

void TLED::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    DrawLED(painter);
}

void TLED::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        emit OnChangeState(this);
    else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        update(); // the parent's colour shows through
    QWidget::changeEvent(event);
}

void TLED::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit OnClick();
}

void TLED::mouseDoubleClickEvent(QMouseEvent *event)
{
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit OnDblClick();
}
