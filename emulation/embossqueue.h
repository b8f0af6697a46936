#pragma once

#include <QChar>
#include <QCollator>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <set>

// One glyph to strike: its character, the top-left corner of its cell and its field's font
// height. Its sort key is the text character TAB y TAB x.
struct GlyphEntry {
    GlyphEntry() = default;
    GlyphEntry(QChar character, int32_t y, int32_t x, int32_t fontHeight);

    QChar character;
    int32_t y = 0;
    int32_t x = 0;
    int32_t fontHeight = 0;
    QString key;
};

// The glyphs of one job in the order a character wheel reaches them: sorted by their key texts
// under the user's locale collation, ignoring case, so all glyphs of one character (upper and
// lower case together) come in one group, ordered within it by the text of y, then of x (as
// text: y 100 before y 20). An entry equal to entries already queued goes before all of them,
// so equal entries come out in the reverse order of their insertion.
class EmbossQueue
{
public:
    explicit EmbossQueue(const QLocale &locale = QLocale());
    // The order refers to the queue's own collator.
    EmbossQueue(const EmbossQueue &) = delete;
    EmbossQueue &operator=(const EmbossQueue &) = delete;

    void insert(GlyphEntry entry);

    bool isEmpty() const { return m_entries.empty(); }
    size_t size() const { return m_entries.size(); }

private:
    struct Less {
        const QCollator *collator;
        bool operator()(const GlyphEntry &a, const GlyphEntry &b) const
        {
            return collator->compare(a.key, b.key) < 0;
        }
    };
    using Entries = std::multiset<GlyphEntry, Less>;

public:
    Entries::const_iterator begin() const { return m_entries.begin(); }
    Entries::const_iterator end() const { return m_entries.end(); }

private:
    QCollator m_collator;
    Entries m_entries;
};
