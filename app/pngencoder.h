#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>

#include <functional>

// Encodes pictures as PNG on a worker thread, so that a client asking for the card picture at
// every strike never holds up the machine (an encode takes several milliseconds). At most
// kMaxInFlight encodes run or wait at once; a further one is refused at once.
class PngEncoder : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxInFlight = 4;

    using Done = std::function<void(const QByteArray &png)>;

    explicit PngEncoder(QObject *parent = nullptr);
    ~PngEncoder() override;

    // `done` runs on this object's thread with the PNG (empty when encoding failed), unless
    // `context` is destroyed first. False, and `done` never runs, when kMaxInFlight are busy.
    bool encode(const QImage &picture, QObject *context, Done done);

    // A PNG quick to write and still small: little compression.
    static QByteArray toPng(const QImage &picture);

private:
    int m_inFlight = 0;
};
