#include "relay.h"

namespace airmesh {
inline namespace relay {

Relay::Relay(ClientServices& services, SimLink& sim, Players& colPlayers, RelayOutput& out)
    : m_services(services), m_sim(sim), m_players(colPlayers), m_out(out) {}

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
