// Appending to the traffic monitor: 100,000 chunks through LogTraffic with the window shown
// (each call also processes pending events and paints), timed in buckets of 10,000. The cost
// per append stays flat as the text grows. For contrast, the same appends made by setting a
// text field's whole text, as a plain multi-line field would need, for far fewer chunks.
//
// Usage: bench_trafficlog [chunks]   (runs on the offscreen platform unless told otherwise)

#include "monitorform.h"
#include "trafficlogview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <cstdio>

namespace
{

const QString kPoll = QStringLiteral("\x04"
                                     "31\x05");
const QString kFeederEmpty = QStringLiteral("\x06"
                                            "3\x02"
                                            "E82        FEEDER EMPTY\x03 ");

void monitorBench(int chunks)
{
    TMonitorForm monitor;
    monitor.show();
    QCoreApplication::processEvents();
    const int bucket = std::max(1, chunks / 10);
    std::printf("TMonitorForm::LogTraffic, window shown, %d chunks (Rx: poll, Tx: 27-byte reply)\n",
                chunks);
    std::printf("%10s %12s %12s %14s\n", "chunks", "Rx chars", "Tx chars", "us per append");
    QElapsedTimer total;
    total.start();
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= chunks; ++i) {
        if (i % 2)
            monitor.LogTraffic(0, kPoll);
        else
            monitor.LogTraffic(1, kFeederEmpty);
        if (i % bucket == 0) {
            const double us = timer.nsecsElapsed() / 1000.0 / bucket;
            std::printf("%10d %12lld %12lld %14.2f\n", i,
                        static_cast<long long>(monitor.RxLog->text().size()),
                        static_cast<long long>(monitor.TxLog->text().size()), us);
            timer.restart();
        }
    }
    std::printf("total %.1f ms\n\n", total.nsecsElapsed() / 1e6);
}

// Every append sets the whole text anew.
void wholeTextBench()
{
    QPlainTextEdit field;
    field.setReadOnly(true);
    field.resize(500, 150);
    field.show();
    QCoreApplication::processEvents();
    const QString rendering = TMonitorForm::RenderTraffic(kFeederEmpty);
    std::printf("For contrast: setting the field's whole text on every append\n");
    std::printf("%10s %12s %14s\n", "chunks", "chars", "us per append");
    QString text;
    QElapsedTimer timer;
    timer.start();
    const int bucket = 500;
    for (int i = 1; i <= 4 * bucket; ++i) {
        text += rendering;
        field.setPlainText(text);
        QCoreApplication::processEvents();
        if (i % bucket == 0) {
            std::printf("%10d %12lld %14.2f\n", i, static_cast<long long>(text.size()),
                        timer.nsecsElapsed() / 1000.0 / bucket);
            timer.restart();
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int chunks = argc > 1 ? std::max(10, QString::fromLocal8Bit(argv[1]).toInt()) : 100000;
    monitorBench(chunks);
    wholeTextBench();
    return 0;
}
