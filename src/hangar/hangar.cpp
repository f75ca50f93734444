#include "hangar.h"

namespace airmesh {
inline namespace hangar {

namespace {

const char* textOf(HangarError::Code code) {
    switch (code) {
    case HangarError::InvalidArgument:
        return "Invalid procedure call or argument";
    case HangarError::DuplicateKey:
        return "This key is already associated with an element of this collection";
    }
    return "Unknown collection error";
}

// Keys of a keyed collection compare without regard to letter case.
QString folded(const QString& key) {
    return key.toCaseFolded();
}

} // namespace

HangarError::HangarError(Code code) : std::runtime_error(textOf(code)), m_code(code) {}

Hangar::AircraftPtr Hangar::Add(const QString& Title, const QString& sKey) {
    QString key = folded(sKey);
    if (!key.isEmpty() && m_byKey.contains(key)) {
        throw HangarError(HangarError::DuplicateKey);
    }
    auto a = std::make_shared<Aircraft>();
    a->Title = Title;
    if (!key.isEmpty()) {
        m_byKey.insert(key, a);
    }
    m_order.push_back({a, std::move(key)});
    return a;
}

std::size_t Hangar::positionOf(const IndexKey& k) const {
    if (const int* pos = std::get_if<int>(&k)) {
        if (*pos < 1 || *pos > Count()) {
            throw HangarError(HangarError::InvalidArgument);
        }
        return static_cast<std::size_t>(*pos - 1);
    }
    const QString key = folded(std::get<QString>(k));
    if (!key.isEmpty() && m_byKey.contains(key)) {
        for (std::size_t i = 0; i < m_order.size(); ++i) {
            if (m_order[i].key == key) {
                return i;
            }
        }
        Q_ASSERT(false);
    }
    throw HangarError(HangarError::InvalidArgument);
}

Hangar::AircraftPtr Hangar::Item(const IndexKey& vntIndexKey) const {
    if (const QString* key = std::get_if<QString>(&vntIndexKey)) {
        const auto it = m_byKey.constFind(folded(*key));
        if (it == m_byKey.cend()) {
            throw HangarError(HangarError::InvalidArgument);
        }
        return *it;
    }
    return m_order[positionOf(vntIndexKey)].record;
}

void Hangar::Remove(const IndexKey& vntIndexKey) {
    const std::size_t i = positionOf(vntIndexKey);
    if (!m_order[i].key.isEmpty()) {
        m_byKey.remove(m_order[i].key);
    }
    m_order.erase(m_order.begin() + static_cast<std::ptrdiff_t>(i));
}

std::vector<Hangar::AircraftPtr> Hangar::NewEnum() const {
    std::vector<AircraftPtr> out;
    out.reserve(m_order.size());
    for (const Slot& s : m_order) {
        out.push_back(s.record);
    }
    return out;
}

} // namespace hangar
} // namespace airmesh
