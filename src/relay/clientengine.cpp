#include "clientengine.h"

namespace airmesh {
inline namespace relay {

ClientEngine::ClientEngine(SimLink& sim, ServerLink& server, Relay& relay)
    : m_sim(sim), m_server(server), m_relay(relay) {
    m_Timer1.setInterval(kTimer1Ms);
    connect(&m_Timer1, &QTimer::timeout, this, &ClientEngine::Timer1_Timer);
}

ClientEngine::~ClientEngine() = default;

void ClientEngine::sessionLostNoticed() {
    // The loss is found deep inside a handler; it is dealt with once that has returned.
    QMetaObject::invokeMethod(this, &ClientEngine::simulatorSessionLost, Qt::QueuedConnection);
}

void ClientEngine::windowLoaded() {
    m_server.windowLoaded();
    m_Timer1.start(kTimer1Ms);
    // The user's positions leave as they arrive, not on the next tick.
    m_sim.pumpOnArrival();
}

void ClientEngine::Timer1_Timer() {
    m_sim.Scroll_Chat_Window();
    // A tick that tore the link down reads no simulator messages; they wait for the next one.
    if (m_server.linkWatch()) {
        m_sim.pumpMessages();
        m_relay.keepPlaces();
    }
}

void ClientEngine::simulatorSessionLost() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_Timer1.stop();
    m_server.leave();
    m_sim.services().messages.showMessage(kSessionEndedText, QStringLiteral("ERROR"));
    if (m_onEnded) {
        m_onEnded();
    }
}

void ClientEngine::quit() {
    // Quitting ends the program whatever fails on the way.
    m_Timer1.stop();
    try {
        m_server.closeForQuit();
    } catch (const std::exception&) {
    }
    try {
        m_sim.closeSession();
    } catch (const std::exception&) {
    }
}

} // namespace relay
} // namespace airmesh
