// The traffic monitor: how traffic is written, when it is recorded, the two halves' split, the
// view that follows the end, and that logging never nests more than one level deep.

#include "monitorform.h"
#include "trafficlogview.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

class TestMonitorForm : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void rendering_data();
    void rendering();
    void directionsGoToTheirHalves();
    void nothingIsRecordedWhileHidden();
    void minimisedCountsAsShown();
    void clrEmptiesBothAndExitKeepsThem();
    void halvesSplitWhatTheButtonStripLeaves_data();
    void halvesSplitWhatTheButtonStripLeaves();
    void viewFollowsEndUntilOperatorScrollsAway();
    void linesWrapAtTheFieldsWidth();
    void textIsDrawnInItsCells();
    void loggingFromNestedEventsDoesNotNest();
    void logKeepsItsNewestPart_data();
    void logKeepsItsNewestPart();

private:
    std::unique_ptr<TMonitorForm> m_form;
};

void TestMonitorForm::init()
{
    m_form = std::make_unique<TMonitorForm>();
}

void TestMonitorForm::rendering_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("poll") << QStringLiteral("\x04"
                                            "31\x05")
                          << QStringLiteral("#431#5");
    QTest::newRow("ready reply") << QStringLiteral("\x06"
                                                   "1 ")
                                 << QStringLiteral("#61 ");
    QTest::newRow("feeder empty reply") << QStringLiteral("\x06"
                                                          "3\x02"
                                                          "E82        FEEDER EMPTY\x03 ")
                                        << QStringLiteral("#63#2E82        FEEDER EMPTY#3 ");
    QTest::newRow("CR LF") << QStringLiteral("a\r\nb") << QStringLiteral("a#13#10b");
    QTest::newRow("0xC4 in Windows-1252") << QStringLiteral("\u00C4") << QStringLiteral("#196");
    QTest::newRow("0x80 in Windows-1252") << QStringLiteral("\u20AC") << QStringLiteral("#8364");
    QTest::newRow("NUL") << QString(QChar(0)) << QStringLiteral("#0");
    QTest::newRow("unit separator") << QStringLiteral("\x1f") << QStringLiteral("#31");
    QTest::newRow("printable edges") << QStringLiteral(" ~\x7f") << QStringLiteral(" ~\x7f");
    QTest::newRow("0xA0") << QStringLiteral("\u00A0") << QStringLiteral("#160");
    QTest::newRow("hash itself") << QStringLiteral("#4") << QStringLiteral("#4");
    QTest::newRow("empty") << QString() << QString();
}

void TestMonitorForm::rendering()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(TMonitorForm::RenderTraffic(text), shown);
    m_form->show();
    m_form->LogTraffic(0, text);
    m_form->LogTraffic(0, text);
    QCOMPARE(m_form->RxLog->text(), shown + shown);
}

void TestMonitorForm::directionsGoToTheirHalves()
{
    m_form->show();
    m_form->LogTraffic(0, QStringLiteral("\x04"
                                         "31\x05"));
    m_form->LogTraffic(1, QStringLiteral("\x06"
                                         "P "));
    m_form->LogTraffic(2, QStringLiteral("lost"));
    m_form->LogTraffic(255, QStringLiteral("lost"));
    QCOMPARE(m_form->RxLog->text(), QStringLiteral("#431#5"));
    QCOMPARE(m_form->TxLog->text(), QStringLiteral("#6P "));
}

void TestMonitorForm::nothingIsRecordedWhileHidden()
{
    m_form->LogTraffic(0, QStringLiteral("before"));
    m_form->show();
    m_form->LogTraffic(0, QStringLiteral("shown"));
    m_form->btnClose->click();
    QVERIFY(!m_form->isVisible());
    m_form->LogTraffic(0, QStringLiteral("hidden"));
    m_form->LogTraffic(1, QStringLiteral("hidden"));
    m_form->show();
    m_form->LogTraffic(0, QStringLiteral("again"));
    QCOMPARE(m_form->RxLog->text(), QStringLiteral("shownagain"));
    QCOMPARE(m_form->TxLog->text(), QString());
}

void TestMonitorForm::minimisedCountsAsShown()
{
    m_form->showMinimized();
    m_form->LogTraffic(1, QStringLiteral("x"));
    QCOMPARE(m_form->TxLog->text(), QStringLiteral("x"));
}

void TestMonitorForm::clrEmptiesBothAndExitKeepsThem()
{
    m_form->show();
    m_form->LogTraffic(0, QStringLiteral("rx"));
    m_form->LogTraffic(1, QStringLiteral("tx"));
    m_form->btnClose->click();
    m_form->show();
    QCOMPARE(m_form->RxLog->text(), QStringLiteral("rx"));
    QCOMPARE(m_form->TxLog->text(), QStringLiteral("tx"));
    QCOMPARE(m_form->btnCLR->text(), QStringLiteral("CLR"));
    m_form->btnCLR->click();
    QCOMPARE(m_form->RxLog->text(), QString());
    QCOMPARE(m_form->TxLog->text(), QString());
    m_form->LogTraffic(0, QStringLiteral("new"));
    QCOMPARE(m_form->RxLog->text(), QStringLiteral("new"));
}

void TestMonitorForm::halvesSplitWhatTheButtonStripLeaves_data()
{
    QTest::addColumn<int>("clientHeight");
    QTest::addColumn<int>("rxHeight");
    QTest::newRow("design") << 346 << 152;
    QTest::newRow("even rest") << 347 << 153;
    QTest::newRow("tall") << 800 << 379;
}

void TestMonitorForm::halvesSplitWhatTheButtonStripLeaves()
{
    QFETCH(int, clientHeight);
    QFETCH(int, rxHeight);
    m_form->show();
    m_form->resize(600, clientHeight);
    QCOMPARE(m_form->gbRx->geometry(), QRect(0, 0, 600, rxHeight));
    QCOMPARE(m_form->gbTx->geometry(), QRect(0, rxHeight, 600, clientHeight - 41 - rxHeight));
    QCOMPARE(m_form->paBottom->geometry(), QRect(0, clientHeight - 41, 600, 41));
    QCOMPARE(m_form->btnClose->geometry(), QRect(6, 6, 75, 25));
    QCOMPARE(m_form->btnCLR->geometry(), QRect(87, 6, 75, 25));
}

void TestMonitorForm::viewFollowsEndUntilOperatorScrollsAway()
{
    m_form->show();
    TrafficLogView *log = m_form->RxLog;
    QScrollBar *bar = log->verticalScrollBar();
    const QString line(log->columns(), QLatin1Char('a'));
    for (int i = 0; i < 100; ++i)
        m_form->LogTraffic(0, line);
    QCOMPARE(log->lineCount(), 100);
    QVERIFY(log->followsEnd());
    QCOMPARE(log->firstVisibleLine(), 100 - log->visibleLines());
    // The scroll bar catches up soon after.
    QTRY_COMPARE(bar->maximum(), 100 - log->visibleLines());
    QCOMPARE(bar->value(), bar->maximum());

    // The operator scrolls up: the view stays where the operator put it.
    bar->setValue(10);
    QCOMPARE(log->firstVisibleLine(), 10);
    for (int i = 0; i < 20; ++i)
        m_form->LogTraffic(0, line);
    QCOMPARE(log->firstVisibleLine(), 10);
    QVERIFY(!log->followsEnd());
    QTRY_COMPARE(bar->maximum(), 120 - log->visibleLines());
    QCOMPARE(bar->value(), 10);

    // Back at the end of the bar (even one that has not caught up yet), it follows again.
    for (int i = 0; i < 5; ++i)
        m_form->LogTraffic(0, line);
    bar->setValue(bar->maximum());
    QVERIFY(log->followsEnd());
    m_form->LogTraffic(0, line);
    QCOMPARE(log->firstVisibleLine(), 126 - log->visibleLines());
}

void TestMonitorForm::linesWrapAtTheFieldsWidth()
{
    m_form->show();
    TrafficLogView *log = m_form->RxLog;
    const int columns = log->columns();
    QVERIFY(columns > 20);
    m_form->LogTraffic(0, QString(columns, QLatin1Char('x')));
    QCOMPARE(log->lineCount(), 1);
    m_form->LogTraffic(0, QStringLiteral("\r"));
    QCOMPARE(log->lineCount(), 2);
    // A narrower window wraps the same text into more lines.
    m_form->resize(m_form->width() / 2, m_form->height());
    QVERIFY(log->columns() < columns);
    QCOMPARE(log->lineCount(), (columns + 3 + log->columns() - 1) / log->columns());
}

void TestMonitorForm::textIsDrawnInItsCells()
{
    m_form->show();
    TrafficLogView *log = m_form->RxLog;
    m_form->LogTraffic(0, QStringLiteral("MMMM"));
    const QFontMetrics metrics(log->font());
    const int cellWidth = metrics.horizontalAdvance(QLatin1Char('M'));
    auto inkColumns = [&] {
        const QImage image = log->viewport()->grab().toImage();
        int first = -1, last = -1;
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < metrics.height() + TrafficLogView::kMargin; ++y) {
                if (qGray(image.pixel(x, y)) < 128) {
                    first = first < 0 ? x : first;
                    last = x;
                    break;
                }
            }
        }
        return std::make_pair(first, last);
    };
    const auto [first, last] = inkColumns();
    QVERIFY(first >= TrafficLogView::kMargin);
    QVERIFY(first < TrafficLogView::kMargin + cellWidth);
    QVERIFY(last >= TrafficLogView::kMargin + 3 * cellWidth);
    QVERIFY(last < TrafficLogView::kMargin + 4 * cellWidth + 1);
    m_form->btnCLR->click();
    QCOMPARE(inkColumns().first, -1);
}

void TestMonitorForm::loggingFromNestedEventsDoesNotNest()
{
    // Each queued step logs and queues the next one, as host input arriving during a logging
    // call would. Every step runs, but never inside more than one other.
    m_form->show();
    int depth = 0;
    int deepest = 0;
    int steps = 0;
    std::function<void()> step = [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        if (++steps < 50)
            QMetaObject::invokeMethod(m_form.get(), step, Qt::QueuedConnection);
        m_form->LogTraffic(0, QStringLiteral("."));
        --depth;
    };
    QMetaObject::invokeMethod(m_form.get(), step, Qt::QueuedConnection);
    QTRY_COMPARE(steps, 50);
    QCOMPARE(m_form->RxLog->text(), QString(50, QLatin1Char('.')));
    QVERIFY2(deepest <= 2, qPrintable(QString::number(deepest)));
}

void TestMonitorForm::logKeepsItsNewestPart_data()
{
    QTest::addColumn<QStringList>("appends");
    QTest::addColumn<bool>("cut");
    QTest::newRow("up to the bound") << QStringList{QString(600, 'a'), QString(400, 'b')} << false;
    QTest::newRow("many small appends") << QStringList(300, QStringLiteral("abcd")) << true;
    QTest::newRow("one append larger than the bound")
        << QStringList{QString(10, 'a'), QString(5000, 'b') + QStringLiteral("end")} << true;
}

// Past its bound the log drops its oldest characters and marks the cut; the newest text stays
// whole, however it came.
void TestMonitorForm::logKeepsItsNewestPart()
{
    QFETCH(QStringList, appends);
    QFETCH(bool, cut);
    TrafficLogView view;
    view.setMaxCharacters(1000);
    QString all;
    for (const QString &text : appends) {
        view.append(text);
        all += text;
        QVERIFY(view.text().size() <= 1000);
    }
    const QString mark = QLatin1String(TrafficLogView::kCutMark);
    QCOMPARE(view.text().startsWith(mark), cut);
    const QString kept = cut ? view.text().mid(mark.size()) : view.text();
    QVERIFY(kept.size() >= (cut ? 1000 * 3 / 4 - mark.size() - 4 : all.size()));
    QVERIFY(all.endsWith(kept));
}

QTEST_MAIN(TestMonitorForm)
#include "tst_monitorform.moc"
