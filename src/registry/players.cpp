#include "players.h"

namespace airmesh {
inline namespace registry {

namespace {
const char* textOf(CollectionError::Code code) {
    switch (code) {
    case CollectionError::InvalidArgument:
        return "Invalid procedure call or argument";
    case CollectionError::DuplicateKey:
        return "This key is already associated with an element of this collection";
    }
    return "Unknown collection error";
}
} // namespace

CollectionError::CollectionError(Code code) : NumberedError(code, textOf(code)) {}

void Players::Enumerator::iterator::skip() {
    while (m_i < m_e->m_snapshot.size() && !m_e->m_owner.contains(m_e->m_snapshot[m_i].get())) {
        ++m_i;
    }
}

Players::PlayerPtr Players::Add(const QString& Key) {
    if (m_byKey.contains(Key)) {
        throw CollectionError(CollectionError::DuplicateKey);
    }
    auto p = std::make_shared<Player>();
    p->Key = Key;
    m_byKey.emplace(Key, p);
    m_order.push_back(p);
    return p;
}

std::size_t Players::positionOf(const IndexKey& k) const {
    if (const int* pos = std::get_if<int>(&k)) {
        if (*pos < 1 || *pos > Count()) {
            throw CollectionError(CollectionError::InvalidArgument);
        }
        return static_cast<std::size_t>(*pos - 1);
    }
    const auto it = m_byKey.find(std::get<QString>(k));
    if (it == m_byKey.end()) {
        throw CollectionError(CollectionError::InvalidArgument);
    }
    for (std::size_t i = 0; i < m_order.size(); ++i) {
        if (m_order[i] == it->second) {
            return i;
        }
    }
    Q_ASSERT(false);
    throw CollectionError(CollectionError::InvalidArgument);
}

Players::PlayerPtr Players::Item(const IndexKey& vntIndexKey) const {
    if (const QString* key = std::get_if<QString>(&vntIndexKey)) {
        const auto it = m_byKey.find(*key);
        if (it == m_byKey.end()) {
            throw CollectionError(CollectionError::InvalidArgument);
        }
        return it->second;
    }
    return m_order[positionOf(vntIndexKey)];
}

void Players::Remove(const IndexKey& vntIndexKey) {
    const std::size_t i = positionOf(vntIndexKey);
    m_byKey.erase(m_order[i]->Key);
    m_order.erase(m_order.begin() + static_cast<std::ptrdiff_t>(i));
}

void Players::rekey(const PlayerPtr& p, const QString& newKey) {
    if (!contains(p.get())) {
        throw CollectionError(CollectionError::InvalidArgument);
    }
    if (newKey == p->Key) {
        return;
    }
    if (m_byKey.contains(newKey)) {
        throw CollectionError(CollectionError::DuplicateKey);
    }
    m_byKey.erase(p->Key);
    p->Key = newKey;
    m_byKey.emplace(newKey, p);
}

bool Players::contains(const Player* p) const {
    const auto it = m_byKey.find(p->Key);
    return it != m_byKey.end() && it->second.get() == p;
}

Players::PlayerPtr Players::findByPlayerId(qint32 id) const {
    for (const auto& p : m_order) {
        bool ok = false;
        if (p->Key.toInt(&ok) == id && ok) {
            return p;
        }
    }
    return nullptr;
}

Players::PlayerPtr Players::findBySession(qint32 session) const {
    for (const auto& p : m_order) {
        if (p->Server_Session_ID == session) {
            return p;
        }
    }
    return nullptr;
}

} // namespace registry
} // namespace airmesh
