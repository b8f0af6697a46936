#pragma once

// Looking at what widgets paint, in tests.

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QScreen>
#include <QString>
#include <QTest>
#include <QWidget>

// The widget painted afresh.
inline QImage shot(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What the window system holds for the widget now, without painting anything.
inline QImage onScreen(QWidget &widget)
{
    const QPoint at = widget.mapTo(widget.window(), QPoint(0, 0));
    return widget.screen()
        ->grabWindow(widget.window()->winId(), at.x(), at.y(), widget.width(), widget.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Pixel by pixel, naming the first pixel that differs.
inline void compareImages(const QImage &actual, const QImage &expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            QVERIFY2(actual.pixel(x, y) == expected.pixel(x, y),
                     qPrintable(QStringLiteral("pixel %1, %2: %3, expected %4")
                                    .arg(x)
                                    .arg(y)
                                    .arg(actual.pixel(x, y), 8, 16)
                                    .arg(expected.pixel(x, y), 8, 16)));
}

// Counts the events of one type (paint events unless told) an object receives.
class EventCounter : public QObject
{
public:
    explicit EventCounter(QObject *watched, QEvent::Type type = QEvent::Paint) : m_type(type)
    {
        watched->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == m_type;
        return false;
    }

private:
    QEvent::Type m_type;
};
