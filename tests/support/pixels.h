#pragma once

// Looking at pictures in tests.

#include <QImage>
#include <QRect>

// The smallest rectangle holding every pixel that is not fully transparent.
inline QRect inkBounds(const QImage &image, const QRect &within = QRect())
{
    const QRect area = within.isNull() ? image.rect() : within.intersected(image.rect());
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

inline bool hasInk(const QImage &image)
{
    return !inkBounds(image).isNull();
}
