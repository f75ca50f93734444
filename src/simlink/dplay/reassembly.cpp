#include "reassembly.h"

#include <algorithm>
#include <vector>

namespace airmesh::dplay {

namespace {
// Messages remembered as done, so that their stray fragments start nothing; far more than can be
// in the making at once.
constexpr size_t kRemembered = 256;
// Dropped messages logged one by one; past these, one line in a thousand.
constexpr qint64 kLoggedDrops = 20;
} // namespace

Reassembly::Reassembly(std::function<void(const QString&)> log, Limits limits)
    : m_log(std::move(log)), m_limits(limits) {}

bool Reassembly::finished(const Key& key) const {
    return std::find(m_finished.cbegin(), m_finished.cend(), key) != m_finished.cend();
}

void Reassembly::remember(const Key& key) {
    m_finished.push_back(key);
    if (m_finished.size() > kRemembered) {
        m_finished.pop_front();
    }
}

void Reassembly::finish(Iter it) {
    m_held -= it->second.held;
    remember(it->first);
    m_partial.erase(it);
}

void Reassembly::drop(const Key& key, const QString& why) {
    if (const auto it = m_partial.find(key); it != m_partial.end()) {
        finish(it);
    } else {
        remember(key);
    }
    ++m_dropped;
    if (m_log && (m_dropped <= kLoggedDrops || m_dropped % 1000 == 0)) {
        m_log(QStringLiteral("fragmented message dropped: %1 (%2 so far)").arg(why).arg(m_dropped));
    }
}

void Reassembly::makeRoom(quint64 peer) {
    // The message that has waited longest for its next fragment, of one peer or of anybody.
    const auto oldest = [this](std::optional<quint64> of) {
        std::optional<Key> found;
        qint64 since = 0;
        for (const auto& [key, p] : m_partial) {
            if ((!of || key.first == *of) && (!found || p.lastMs < since)) {
                found = key;
                since = p.lastMs;
            }
        }
        return found;
    };
    const auto count = [this, peer] {
        return std::count_if(m_partial.cbegin(), m_partial.cend(),
                             [peer](const auto& p) { return p.first.first == peer; });
    };
    while (count() >= m_limits.messagesPerPeer) {
        const auto key = oldest(peer);
        if (!key) {
            break;
        }
        drop(*key, QStringLiteral("%1 messages from one peer were in the making").arg(m_limits.messagesPerPeer));
    }
    while (pending() >= m_limits.messages) {
        const auto key = oldest(std::nullopt);
        if (!key) {
            break;
        }
        drop(*key, QStringLiteral("%1 messages were in the making").arg(m_limits.messages));
    }
}

std::optional<QByteArray> Reassembly::add(quint64 peer, const Fragment& f, qint64 nowMs) {
    expire(nowMs);
    const Key key{peer, f.message};
    if (finished(key)) {
        return std::nullopt;
    }
    auto it = m_partial.find(key);
    if (it == m_partial.end()) {
        if (f.messageSize > m_limits.messageBytes || f.count > m_limits.fragments) {
            drop(key, QStringLiteral("%1 bytes in %2 fragments, more than %3 bytes or %4 fragments")
                          .arg(f.messageSize)
                          .arg(f.count)
                          .arg(m_limits.messageBytes)
                          .arg(m_limits.fragments));
            return std::nullopt;
        }
        makeRoom(peer);
        Partial p;
        p.count = f.count;
        p.messageSize = f.messageSize;
        it = m_partial.emplace(key, std::move(p)).first;
    }
    Partial& p = it->second;
    if (f.count != p.count || f.messageSize != p.messageSize) {
        drop(key, QStringLiteral("its fragments disagree on its length"));
        return std::nullopt;
    }
    if (p.parts.contains(f.index)) {
        return std::nullopt; // a repeated fragment
    }
    // Fragments that overlap would hold more than the message's length.
    if (p.held + f.data.size() > static_cast<qint64>(p.messageSize)) {
        drop(key, QStringLiteral("its fragments overlap"));
        return std::nullopt;
    }
    p.parts.emplace(f.index, std::make_pair(f.offset, f.data));
    p.held += f.data.size();
    m_held += f.data.size();
    p.lastMs = nowMs;
    if (p.parts.size() < p.count) {
        return std::nullopt;
    }
    // Every fragment is in: in index order each must begin where the one before ended.
    QByteArray whole;
    whole.reserve(static_cast<qsizetype>(p.messageSize));
    for (const auto& [index, part] : p.parts) {
        if (part.first != static_cast<quint32>(whole.size())) {
            drop(key, QStringLiteral("its fragments leave a gap"));
            return std::nullopt;
        }
        whole.append(part.second);
    }
    if (whole.size() != static_cast<qsizetype>(p.messageSize)) {
        drop(key, QStringLiteral("its fragments leave a gap"));
        return std::nullopt;
    }
    finish(it);
    return whole;
}

void Reassembly::expire(qint64 nowMs) {
    std::vector<std::pair<Key, QString>> stale;
    for (const auto& [key, p] : m_partial) {
        if (nowMs - p.lastMs >= m_limits.expireMs) {
            stale.emplace_back(key, QStringLiteral("only %1 of its %2 fragments came, none in the last %3 ms")
                                        .arg(p.parts.size())
                                        .arg(p.count)
                                        .arg(m_limits.expireMs));
        }
    }
    for (const auto& [key, why] : stale) {
        drop(key, why);
    }
}

void Reassembly::forget(quint64 peer) {
    for (auto it = m_partial.begin(); it != m_partial.end();) {
        if (it->first.first == peer) {
            m_held -= it->second.held;
            it = m_partial.erase(it);
        } else {
            ++it;
        }
    }
}

void Reassembly::clear() {
    m_partial.clear();
    m_finished.clear();
    m_held = 0;
}

} // namespace airmesh::dplay
