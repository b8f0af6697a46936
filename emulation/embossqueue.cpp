#include "embossqueue.h"

GlyphEntry::GlyphEntry(QChar character, int32_t y, int32_t x, int32_t fontHeight)
    : character(character), y(y), x(x), fontHeight(fontHeight),
      key(QString(character) + QLatin1Char('\t') + QString::number(y) + QLatin1Char('\t') +
          QString::number(x))
{
}

EmbossQueue::EmbossQueue(const QLocale &locale) : m_collator(locale), m_entries(Less{&m_collator})
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(false);
    m_collator.setIgnorePunctuation(false);
}

void EmbossQueue::insert(GlyphEntry entry)
{
    // With the hint at the first entry not less than the new one, the set inserts right before
    // it: before every equal entry.
    const auto place = m_entries.lower_bound(entry);
    m_entries.insert(place, std::move(entry));
}
