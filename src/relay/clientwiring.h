#pragma once

#include "clientengine.h"
#include "relay.h"

#include "serverlink/serverlink.h"
#include "simlink/simlink.h"

#include <functional>

namespace airmesh {
inline namespace relay {

// The client's engine put together in one place: the server link, the relay between it and the
// simulator link, and Timer1's engine, each told of the others (the simulator's messages and
// the server's records to the relay, the user's traffic from the relay to the server link, the
// end of the simulator's session to the engine), and taken apart again so that neither link
// calls into what is gone. Start-up, the bot, the test rigs and the benchmarks make theirs here.
class ClientWiring {
public:
    // `sim` (joined or not) and `players` outlive the wiring.
    ClientWiring(ClientServices& services, SimLink& sim, Players& players);
    ~ClientWiring();
    ClientWiring(const ClientWiring&) = delete;
    ClientWiring& operator=(const ClientWiring&) = delete;

    ServerLink& link() { return m_link; }
    const ServerLink& link() const { return m_link; }
    Relay& relay() { return m_relay; }
    const Relay& relay() const { return m_relay; }
    ClientEngine& engine() { return m_engine; }

    // What ends the program once the simulator's session has ended and the user was told.
    void setOnEnded(std::function<void()> onEnded) { m_engine.setOnEnded(std::move(onEnded)); }

private:
    SimLink& m_sim;
    ServerLink m_link;
    Relay m_relay;
    ClientEngine m_engine;
};

} // namespace relay
} // namespace airmesh
