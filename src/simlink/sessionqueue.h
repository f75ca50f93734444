#pragma once

#include "session.h"

#include <QByteArray>

#include <deque>

namespace airmesh {
inline namespace simlink {

// A session's bounded receive queue. Messages marked `first` (the session layer's notices, and
// what the intake filter puts first) push out the oldest ordinary messages when the queue is
// full; anything else that does not fit is dropped and counted.
class SessionQueue {
public:
    struct Item {
        qint32 from = 0;
        qint32 to = 0;
        QByteArray bytes;
        bool first = false;
    };

    SessionQueue(int maxMessages, qint64 maxBytes) : m_maxMessages(maxMessages), m_maxBytes(maxBytes) {}

    // False when the message was dropped.
    bool push(qint32 from, qint32 to, const QByteArray& bytes, bool first);
    // The oldest message; the queue must not be empty.
    Item pop();
    void clear();
    // Takes out every waiting message for which `pred` holds.
    template <typename Pred> void removeIf(Pred pred) {
        for (auto it = m_items.begin(); it != m_items.end();) {
            if (!pred(*it)) {
                ++it;
                continue;
            }
            m_bytes -= it->bytes.size();
            m_ordinary -= it->first ? 0 : 1;
            it = m_items.erase(it);
        }
    }

    bool empty() const { return m_items.empty(); }
    int size() const { return static_cast<int>(m_items.size()); }
    qint64 bytes() const { return m_bytes; }
    const std::deque<Item>& items() const { return m_items; }
    // Messages dropped or pushed out so far.
    qint64 dropped() const { return m_dropped; }

private:
    bool full(qint64 extraBytes) const;

    int m_maxMessages;
    qint64 m_maxBytes;
    std::deque<Item> m_items;
    qint64 m_bytes = 0;
    qint64 m_ordinary = 0; // items without `first`
    qint64 m_dropped = 0;
};

// What the filter says of one arrival; Queue when there is no filter.
Intake admit(const IntakeFilter& filter, const Arrival& arrival);

} // namespace simlink
} // namespace airmesh
