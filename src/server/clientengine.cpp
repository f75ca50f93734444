#include "clientengine.h"

namespace airmesh {

ClientEngine::ClientEngine(SimLink& sim, ServerLink& server) : m_sim(sim), m_server(server) {
    Timer1.setInterval(kTimer1Ms);
    connect(&Timer1, &QTimer::timeout, this, &ClientEngine::Timer1_Timer);
}

void ClientEngine::windowLoaded() {
    m_server.windowLoaded();
    Timer1.start(kTimer1Ms);
}

void ClientEngine::Timer1_Timer() {
    m_sim.Scroll_Chat_Window();
    // A tick that tore the link down reads no simulator messages; they wait for the next one.
    if (m_server.linkWatch()) {
        m_sim.pumpMessages();
    }
}

void ClientEngine::quit() {
    // Quitting ends the program whatever fails on the way.
    Timer1.stop();
    try {
        m_server.closeForQuit();
    } catch (const std::exception&) {
    }
    try {
        m_sim.closeSession();
    } catch (const std::exception&) {
    }
}

} // namespace airmesh
