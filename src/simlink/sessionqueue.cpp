#include "sessionqueue.h"

namespace airmesh {
inline namespace simlink {

bool SessionQueue::full(qint64 extraBytes) const {
    return static_cast<qint64>(m_items.size()) >= m_maxMessages || m_bytes + extraBytes > m_maxBytes;
}

bool SessionQueue::push(qint32 from, qint32 to, const QByteArray& bytes, bool first) {
    // A message that must not be lost makes room by pushing out the oldest ordinary ones.
    for (auto it = m_items.begin(); first && m_ordinary > 0 && full(bytes.size()) && it != m_items.end();) {
        if (it->first) {
            ++it;
            continue;
        }
        m_bytes -= it->bytes.size();
        --m_ordinary;
        ++m_dropped;
        it = m_items.erase(it);
    }
    if (full(bytes.size())) {
        ++m_dropped;
        return false;
    }
    m_bytes += bytes.size();
    m_ordinary += first ? 0 : 1;
    m_items.push_back({from, to, bytes, first});
    return true;
}

SessionQueue::Item SessionQueue::pop() {
    Item item = std::move(m_items.front());
    m_items.pop_front();
    m_bytes -= item.bytes.size();
    m_ordinary -= item.first ? 0 : 1;
    return item;
}

void SessionQueue::clear() {
    m_items.clear();
    m_bytes = 0;
    m_ordinary = 0;
}

Intake admit(const IntakeFilter& filter, const Arrival& arrival) {
    return filter ? filter(arrival) : Intake::Queue;
}

} // namespace simlink
} // namespace airmesh
