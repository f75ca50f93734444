#pragma once

#include "serverlink.h"

#include "simlink/simlink.h"

#include <QObject>
#include <QTimer>

namespace airmesh {

// The client's engine once joined: Timer1 with the chat window upkeep, the link watch and the
// message pump, and the quit sequence. The main window forwards its events here.
class ClientEngine : public QObject {
    Q_OBJECT

public:
    static constexpr int kTimer1Ms = 500;

    ClientEngine(SimLink& sim, ServerLink& server);

    // The main window has loaded: gates open, Timer1 runs.
    void windowLoaded();
    // One Timer1 tick.
    void Timer1_Timer();
    // cmdCancel: stops Timer1, closes the UDP socket and the session, carrying on past any
    // failure. The window hides itself and ends the program.
    void quit();

    QTimer Timer1;

private:
    SimLink& m_sim;
    ServerLink& m_server;
};

} // namespace airmesh
