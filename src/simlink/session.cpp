#include "session.h"

namespace airmesh {
inline namespace simlink {

const Connection& ConnectionList::at(int i) const {
    if (i < 1 || i > GetCount()) {
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "no such service provider");
    }
    return m_items[i - 1];
}

SessionData SessionList::GetItem(int i) const {
    if (m_items.isEmpty()) {
        // Not a code the join reports by name: nothing found under one application identifier
        // lets the join go on to the other.
        throw dp::DpError(dp::DPERR_GENERIC, "no session found");
    }
    if (i < 1 || i > GetCount()) {
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "no such session");
    }
    return m_items[i - 1];
}

const GroupInfo& GroupList::at(int i) const {
    if (i < 1 || i > GetCount()) {
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "no such group");
    }
    return m_items[i - 1];
}

} // namespace simlink
} // namespace airmesh
