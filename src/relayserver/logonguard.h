#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>

#include <list>
#include <vector>

namespace airmesh {
inline namespace relayserver {

struct LogonGuardLimits {
    // Rejected logons from one source within the window that block it; 0 never blocks.
    int maxFailures = 5;
    int windowSeconds = 60;
    // The first block of a source lasts this long; each further one twice as long as the one
    // before, up to maxBlockSeconds. A source quiet for maxBlockSeconds is forgotten.
    int firstBlockSeconds = 60;
    int maxBlockSeconds = 3600;
    // Sources remembered at once; the one quiet longest is forgotten first.
    int maxSources = 4096;
};

// Slows down password guessing: counts rejected logons per source and, once a source has too
// many within the window, has its further logons refused without being checked until its
// block runs out. A source is an IPv4 address or an IPv6 /64 network (one subscriber's share,
// which hands out addresses freely). Memory is bounded by maxSources; times are milliseconds
// on the caller's clock.
class LogonGuard {
public:
    explicit LogonGuard(LogonGuardLimits limits);

    // The source a peer address belongs to, as log lines name it.
    static QHostAddress sourceOf(const QHostAddress& peer);
    static QString describe(const QHostAddress& source);

    // Whether a logon from `peer` is to be refused unchecked; a refusal is counted for the
    // source's release line. Call releaseDue first, so a block that has run out is over.
    bool refuse(const QHostAddress& peer, qint64 nowMs);
    // A checked logon from `peer` was rejected. Returns the length in seconds of the block this
    // rejection starts, or 0.
    int failed(const QHostAddress& peer, qint64 nowMs);

    struct Release {
        QHostAddress source;
        quint64 refused = 0; // logons refused during the block
    };
    // Ends the blocks that have run out and forgets sources quiet for long. Cheap when nothing
    // is due, so it may be called at every logon.
    std::vector<Release> releaseDue(qint64 nowMs);

    int sourceCount() const { return static_cast<int>(m_sources.size()); }
    int blockedCount() const;

private:
    struct Source {
        std::vector<qint64> failures; // times of the latest rejections, oldest first; < maxFailures
        qint64 blockedUntil = 0;      // 0: not blocked
        int blocks = 0;               // blocks so far: the next one lasts longer
        quint64 refused = 0;
        qint64 lastSeen = 0;
        std::list<QHostAddress>::iterator age; // place in m_byAge
    };
    Source& touch(const QHostAddress& source, qint64 nowMs);
    void forget(QHash<QHostAddress, Source>::iterator it);

    LogonGuardLimits m_limits;
    QHash<QHostAddress, Source> m_sources;
    std::list<QHostAddress> m_byAge; // most recently seen first
    qint64 m_nextDueMs = 0;          // no block runs out and no sweep is due before this
};

} // namespace relayserver
} // namespace airmesh
