#include "pngencoder.h"

#include <QBuffer>
#include <QFutureWatcher>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

PngEncoder::PngEncoder(QObject *parent) : QObject(parent) {}

PngEncoder::~PngEncoder() = default;

QByteArray PngEncoder::toPng(const QImage &picture)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG", 80))
        return {};
    return png;
}

bool PngEncoder::encode(const QImage &picture, QObject *context, Done done)
{
    if (m_inFlight >= kMaxInFlight)
        return false;
    ++m_inFlight;
    // The watcher lives on this thread; the count is given back whether or not `context` is
    // still there when the encode ends.
    auto *watcher = new QFutureWatcher<QByteArray>(this);
    QPointer<QObject> requester(context);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, requester, done = std::move(done)] {
                --m_inFlight;
                if (requester)
                    done(watcher->result());
                watcher->deleteLater();
            });
    watcher->setFuture(QtConcurrent::run([picture] { return toPng(picture); }));
    return true;
}
