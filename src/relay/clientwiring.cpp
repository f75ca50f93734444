#include "clientwiring.h"

namespace airmesh {
inline namespace relay {

ClientWiring::ClientWiring(ClientServices& services, SimLink& sim, Players& players)
    : m_sim(sim), m_link(services), m_relay(services, sim, players, m_link), m_engine(sim, m_link, m_relay) {
    m_sim.setHandler(&m_relay);
    m_link.setEvents(&m_relay);
    m_link.setLogonDetails(&m_relay);
    m_sim.setOnSessionLost([this] { m_engine.sessionLostNoticed(); });
}

ClientWiring::~ClientWiring() {
    // The simulator link outlives us, and the server link's sockets may still report while its
    // members go: neither may call the relay or the engine on the way out.
    m_sim.setHandler(nullptr);
    m_sim.setOnSessionLost(nullptr);
    m_link.setEvents(nullptr);
    m_link.setLogonDetails(nullptr);
}

} // namespace relay
} // namespace airmesh
