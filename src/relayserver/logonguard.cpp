#include "logonguard.h"

#include <algorithm>

namespace airmesh {
inline namespace relayserver {

namespace {

// Sources that are not blocked are looked over this often for ones to forget.
constexpr qint64 kSweepMs = 60'000;

} // namespace

LogonGuard::LogonGuard(LogonGuardLimits limits) : m_limits(limits) {
    m_limits.maxSources = std::max(1, m_limits.maxSources);
    m_limits.firstBlockSeconds = std::max(1, m_limits.firstBlockSeconds);
    m_limits.maxBlockSeconds = std::max(m_limits.firstBlockSeconds, m_limits.maxBlockSeconds);
}

QHostAddress LogonGuard::sourceOf(const QHostAddress& peer) {
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4) {
        return QHostAddress(v4);
    }
    if (peer.protocol() != QAbstractSocket::IPv6Protocol) {
        return peer;
    }
    // An IPv6 subscriber gets a whole /64 and can take a new address for every try.
    Q_IPV6ADDR bytes = peer.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes);
}

QString LogonGuard::describe(const QHostAddress& source) {
    return source.protocol() == QAbstractSocket::IPv6Protocol ? source.toString() + QStringLiteral("/64")
                                                              : source.toString();
}

LogonGuard::Source& LogonGuard::touch(const QHostAddress& source, qint64 nowMs) {
    auto it = m_sources.find(source);
    if (it == m_sources.end()) {
        if (m_sources.size() >= m_limits.maxSources) {
            forget(m_sources.find(m_byAge.back()));
        }
        m_byAge.push_front(source);
        it = m_sources.insert(source, Source{});
        it->age = m_byAge.begin();
    } else {
        m_byAge.splice(m_byAge.begin(), m_byAge, it->age);
    }
    it->lastSeen = nowMs;
    return *it;
}

void LogonGuard::forget(QHash<QHostAddress, Source>::iterator it) {
    m_byAge.erase(it->age);
    m_sources.erase(it);
}

bool LogonGuard::refuse(const QHostAddress& peer, qint64 nowMs) {
    const QHostAddress source = sourceOf(peer);
    const auto it = m_sources.constFind(source);
    if (it == m_sources.cend() || it->blockedUntil <= nowMs) {
        return false;
    }
    // Touched, so that a source still trying stays remembered ahead of quiet ones.
    ++touch(source, nowMs).refused;
    return true;
}

int LogonGuard::failed(const QHostAddress& peer, qint64 nowMs) {
    if (m_limits.maxFailures <= 0) {
        return 0;
    }
    Source& s = touch(sourceOf(peer), nowMs);
    const qint64 windowStart = nowMs - qint64(m_limits.windowSeconds) * 1000;
    std::erase_if(s.failures, [windowStart](qint64 t) { return t <= windowStart; });
    s.failures.push_back(nowMs);
    if (static_cast<int>(s.failures.size()) < m_limits.maxFailures) {
        return 0;
    }
    qint64 seconds = m_limits.firstBlockSeconds;
    for (int i = 0; i < s.blocks && seconds < m_limits.maxBlockSeconds; ++i) {
        seconds *= 2;
    }
    seconds = std::min<qint64>(seconds, m_limits.maxBlockSeconds);
    s.failures.clear();
    s.blockedUntil = nowMs + seconds * 1000;
    s.refused = 0;
    ++s.blocks;
    m_nextDueMs = std::min(m_nextDueMs, s.blockedUntil);
    return static_cast<int>(seconds);
}

std::vector<LogonGuard::Release> LogonGuard::releaseDue(qint64 nowMs) {
    std::vector<Release> released;
    if (nowMs < m_nextDueMs) {
        return released;
    }
    qint64 next = nowMs + kSweepMs;
    const qint64 forgetMs = qint64(m_limits.maxBlockSeconds) * 1000;
    for (auto it = m_sources.begin(); it != m_sources.end();) {
        Source& s = *it;
        if (s.blockedUntil != 0 && s.blockedUntil <= nowMs) {
            released.push_back({it.key(), s.refused});
            s.blockedUntil = 0;
            s.refused = 0;
            s.lastSeen = nowMs; // the longer next block is remembered from here
        }
        if (s.blockedUntil != 0) {
            next = std::min(next, s.blockedUntil);
        } else if (nowMs - s.lastSeen >= forgetMs) {
            m_byAge.erase(s.age);
            it = m_sources.erase(it);
            continue;
        }
        ++it;
    }
    m_nextDueMs = next;
    return released;
}

int LogonGuard::blockedCount() const {
    return static_cast<int>(
        std::count_if(m_sources.cbegin(), m_sources.cend(), [](const Source& s) { return s.blockedUntil != 0; }));
}

} // namespace relayserver
} // namespace airmesh
