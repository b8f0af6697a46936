#pragma once

#include <QString>

// What the host sent, over any link, since the last consumed request: one character per
// received byte. It has no length limit.
//
// The poll search remembers how far it has looked, so a host that streams megabytes without a
// request costs linear time, not a rescan of everything at every chunk.
class ReceiveBuffer
{
public:
    const QString &text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }
    qsizetype size() const { return m_text.size(); }

    void append(const QString &text) { m_text.append(text); }
    void clear()
    {
        m_text.clear();
        m_scanned = 0;
    }

    // True when the text contains EOT "31" ENQ anywhere.
    bool containsPoll();

private:
    QString m_text;
    qsizetype m_scanned = 0; // no poll starts before this index
};
