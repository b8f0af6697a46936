#include "receivebuffer.h"

#include "protocol.h"

void ReceiveBuffer::append(const QString &text)
{
    m_text.append(text);
    if (m_text.size() <= m_limit)
        return;
    // Down to half the limit, so a stream that goes on costs constant time per character.
    const qsizetype drop = m_text.size() - m_limit / 2;
    m_text.remove(0, drop);
    m_scanned = std::max<qsizetype>(0, m_scanned - drop);
}

bool ReceiveBuffer::containsPoll()
{
    static const QString poll = Protocol::poll();
    const qsizetype from = m_scanned;
    if (m_text.indexOf(poll, from) >= 0)
        return true;
    // A poll may still begin in the last three characters and be completed by later input.
    m_scanned = std::max<qsizetype>(0, m_text.size() - (poll.size() - 1));
    return false;
}
