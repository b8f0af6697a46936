#pragma once

#include <QString>

#include <algorithm>

// What the host sent, over any link, since the last consumed request: one character per
// received byte.
//
// The poll search remembers how far it has looked, so a host that streams megabytes without a
// request costs linear time, not a rescan of everything at every chunk. A host that streams
// without end must not take all memory either: beyond `limit` characters (64 Mi by default,
// far more than any request) the oldest characters are dropped, down to half the limit, so the
// newest input, and any request it completes, stays.
class ReceiveBuffer
{
public:
    static constexpr qsizetype kDefaultLimit = 64 * 1024 * 1024;

    explicit ReceiveBuffer(qsizetype limit = kDefaultLimit) : m_limit(std::max<qsizetype>(limit, 8))
    {
    }

    const QString &text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }
    qsizetype size() const { return m_text.size(); }

    void append(const QString &text);
    void clear()
    {
        m_text.clear();
        m_scanned = 0;
    }

    // True when the text contains EOT "31" ENQ anywhere.
    bool containsPoll();

private:
    QString m_text;
    qsizetype m_limit;
    qsizetype m_scanned = 0; // no poll starts before this index
};
