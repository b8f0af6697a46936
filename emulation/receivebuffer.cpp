#include "receivebuffer.h"

#include "protocol.h"

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
