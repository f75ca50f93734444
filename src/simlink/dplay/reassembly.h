#pragma once

#include "dpwire.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace airmesh::dplay {

// Puts back together the messages a peer sent in PACKET fragments, per peer (a connection, or
// the address of a datagram sender) and message identifier, in any order, a repeated fragment
// counted once. Everything it holds is bounded: the length and fragment count of one message,
// the messages in the making per peer and in all, and their time: a message that has had no
// fragment for `expireMs` is dropped. A message that breaks a bound, or whose fragments do not
// fit together, is dropped whole with one log line, and the rest of its fragments are dropped
// without one. Not thread-safe: the session calls it under its lock.
class Reassembly {
public:
    struct Limits {
        int messagesPerPeer = 8;
        int messages = 32;
        quint32 messageBytes = 64 * 1024;
        quint32 fragments = 1024; // per message
        qint64 expireMs = 15000;
    };

    explicit Reassembly(std::function<void(const QString&)> log, Limits limits);
    explicit Reassembly(std::function<void(const QString&)> log) : Reassembly(std::move(log), Limits{}) {}

    // One fragment from `peer` at `nowMs` (a steady clock): the whole message once this
    // fragment completes it, else nothing.
    std::optional<QByteArray> add(quint64 peer, const Fragment& f, qint64 nowMs);
    // Drops what has waited too long for its next fragment.
    void expire(qint64 nowMs);
    // Drops what a peer that has gone left unfinished.
    void forget(quint64 peer);
    void clear();

    int pending() const { return static_cast<int>(m_partial.size()); }
    qint64 heldBytes() const { return m_held; }
    const Limits& limits() const { return m_limits; }

private:
    using Key = std::pair<quint64, Guid>;
    struct Partial {
        quint32 count = 0;
        quint32 messageSize = 0;
        std::map<quint32, std::pair<quint32, QByteArray>> parts; // by index: offset, data
        qint64 held = 0;
        qint64 lastMs = 0;
    };
    using Iter = std::map<Key, Partial>::iterator;

    // Ends a message: done with it, so that a late or repeated fragment starts nothing new.
    void finish(Iter it);
    // Drops a message (or the start of one that never got in) with its one log line.
    void drop(const Key& key, const QString& why);
    // Makes room for one more message of `peer` by dropping the oldest ones.
    void makeRoom(quint64 peer);
    void remember(const Key& key);
    bool finished(const Key& key) const;

    std::function<void(const QString&)> m_log;
    Limits m_limits;
    std::map<Key, Partial> m_partial;
    std::deque<Key> m_finished; // the last messages completed or dropped, newest last
    qint64 m_held = 0;
    qint64 m_dropped = 0;
};

} // namespace airmesh::dplay
