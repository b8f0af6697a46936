// The order in which a character wheel reaches the glyphs of a job.

#include "embossqueue.h"

#include <QTest>

namespace
{
// The queue's entries as "cyx" texts with the font height, in queue order.
QStringList order(const EmbossQueue &queue)
{
    QStringList out;
    for (const GlyphEntry &e : queue)
        out.append(
            QStringLiteral("%1 %2 %3 h%4").arg(e.character).arg(e.y).arg(e.x).arg(e.fontHeight));
    return out;
}
} // namespace

class TestEmbossQueue : public QObject
{
    Q_OBJECT
private slots:
    void keyText();
    void wheelOrder_data();
    void wheelOrder();
    void equalEntriesInReverseInsertionOrder();
    void diacriticsFollowTheLocale();
};

void TestEmbossQueue::keyText()
{
    QCOMPARE(GlyphEntry(QLatin1Char('A'), 85, 120, 28).key, QStringLiteral("A\t85\t120"));
    QCOMPARE(GlyphEntry(QLatin1Char('z'), -3, -14, 28).key, QStringLiteral("z\t-3\t-14"));
}

void TestEmbossQueue::wheelOrder_data()
{
    QTest::addColumn<QString>("locale");
    for (const char *name : {"C", "de_DE", "en_US", "sv_SE"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// The same rules hold in every locale: grouped by character, upper and lower case together,
// coordinates compared as text.
void TestEmbossQueue::wheelOrder()
{
    QFETCH(QString, locale);
    EmbossQueue queue{QLocale(locale)};
    // Two fields "AB" and "BA", then an "a" and an "A" of a third field.
    queue.insert(GlyphEntry(QLatin1Char('A'), 20, 68, 28));
    queue.insert(GlyphEntry(QLatin1Char('B'), 20, 82, 28));
    queue.insert(GlyphEntry(QLatin1Char('B'), 60, 68, 28));
    queue.insert(GlyphEntry(QLatin1Char('A'), 60, 82, 28));
    queue.insert(GlyphEntry(QLatin1Char('a'), 100, 68, 28));
    queue.insert(GlyphEntry(QLatin1Char('A'), 100, 82, 28));
    queue.insert(GlyphEntry(QLatin1Char('1'), 100, 96, 28));
    QCOMPARE(order(queue),
             (QStringList{"1 100 96 h28", "a 100 68 h28", "A 100 82 h28", "A 20 68 h28",
                          "A 60 82 h28", "B 20 82 h28", "B 60 68 h28"}));
}

void TestEmbossQueue::equalEntriesInReverseInsertionOrder()
{
    EmbossQueue queue{QLocale(QStringLiteral("de_DE"))};
    queue.insert(GlyphEntry(QLatin1Char('B'), 5, 5, 1));
    queue.insert(GlyphEntry(QLatin1Char('A'), 20, 68, 1));
    queue.insert(GlyphEntry(QLatin1Char('A'), 20, 68, 2));
    queue.insert(GlyphEntry(QLatin1Char('a'), 20, 68, 3)); // equal when case is ignored
    queue.insert(GlyphEntry(QLatin1Char('A'), 20, 6, 4));
    queue.insert(GlyphEntry(QLatin1Char('A'), 20, 68, 5));
    QCOMPARE(order(queue), (QStringList{"A 20 6 h4", "A 20 68 h5", "a 20 68 h3", "A 20 68 h2",
                                        "A 20 68 h1", "B 5 5 h1"}));
}

void TestEmbossQueue::diacriticsFollowTheLocale()
{
    // Where a letter with a diacritic goes is the locale's business: German puts Ä with A,
    // Swedish after Z.
    auto first = [](const char *locale) {
        EmbossQueue queue{QLocale(QString::fromLatin1(locale))};
        queue.insert(GlyphEntry(QLatin1Char('Z'), 1, 1, 1));
        queue.insert(GlyphEntry(QChar(0xC4), 1, 1, 1));
        return queue.begin()->character;
    };
    QCOMPARE(first("de_DE"), QChar(0xC4));
    QCOMPARE(first("sv_SE"), QLatin1Char('Z'));
}

QTEST_GUILESS_MAIN(TestEmbossQueue)
#include "tst_embossqueue.moc"
