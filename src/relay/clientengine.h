#pragma once

#include "relay.h"

#include "serverlink/serverlink.h"
#include "simlink/simlink.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <utility>

namespace airmesh {
inline namespace relay {

// The client's engine once joined: Timer1 with the chat window upkeep, the link watch, the
// message pump and the relay's place keeping, and the quit sequence. The main window forwards
// its events here.
class ClientEngine : public QObject {
    Q_OBJECT

public:
    static constexpr int kTimer1Ms = 500;

    ClientEngine(SimLink& sim, ServerLink& server, Relay& relay);
    ~ClientEngine() override;

    // The main window has loaded: gates open, Timer1 runs.
    void windowLoaded();
    // One Timer1 tick.
    void Timer1_Timer();
    // cmdCancel: stops Timer1, closes the UDP socket and the session, carrying on past any
    // failure. The window hides itself and ends the program.
    void quit();

    // The simulator's session has ended: Timer1 stops, the server link is closed so the server
    // sees the pilot leave (nothing is said into the dead session), the user is told in an
    // "ERROR" box, and then the `onEnded` set here runs, which ends the program.
    void simulatorSessionLost();
    // The same, once the handler that found the loss has returned: for SimLink's
    // setOnSessionLost, which start-up points here.
    void sessionLostNoticed();
    void setOnEnded(std::function<void()> onEnded) { m_onEnded = std::move(onEnded); }
    static inline const QString kSessionEndedText =
        QStringLiteral("The simulator's multiplayer session has ended. Host a session in FS again, then start the "
                       "Airmesh client again.");

    const QTimer& Timer1() const { return m_Timer1; }

private:
    QTimer m_Timer1;
    std::function<void()> m_onEnded;
    bool m_ended = false;
    SimLink& m_sim;
    ServerLink& m_server;
    Relay& m_relay;
};

} // namespace relay
} // namespace airmesh
