#include "relay.h"

#include "serverlink/serverlink.h"

namespace airmesh {
inline namespace relay {

Relay::Relay(ClientServices& services, SimLink& sim, Players& colPlayers, RelayOutput& out)
    : Relay(services, sim, colPlayers, out, nullptr) {}

Relay::Relay(ClientServices& services, SimLink& sim, Players& colPlayers, ServerLink& link)
    : Relay(services, sim, colPlayers, link, &link) {}

Relay::Relay(ClientServices& services, SimLink& sim, Players& colPlayers, RelayOutput& out, ServerLink* link)
    : m_services(services), m_sim(sim), m_players(colPlayers), m_out(out), m_link(link) {
    m_sim.setHandler(this);
    if (m_link) {
        m_link->setEvents(this);
    }
}

Relay::~Relay() {
    m_sim.setHandler(nullptr);
    if (m_link) {
        m_link->setEvents(nullptr);
    }
}

bool Relay::noteIfSessionGone(const std::exception& e) {
    return m_sim.noteIfSessionGone(e);
}

void Relay::logError(const QString& prefix, const std::exception& e) {
    // A session operation that found the simulator gone is not this message's fault: the loss
    // is noted once, and handled as such, instead of an error line per message.
    if (m_sim.noteIfSessionGone(e)) {
        return;
    }
    m_services.debug(errorLine(prefix, errorInfo(e)));
}

} // namespace relay
} // namespace airmesh
