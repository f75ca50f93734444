#pragma once

// The one place that makes a client joined to the simulator's session, or logged on to the
// server, without going through the join's or the logon's conversation: test benches and fuzz
// targets start from here. The simulator link adopts the fixture's session as it adopts a
// join's; the server link lets this fixture, and nothing else, set its logon state.

#include "serverlink/serverlink.h"
#include "simlink/session.h"
#include "simlink/simlink.h"

#include <QDateTime>

#include <functional>

namespace airmesh {

class ClientFixture {
public:
    // Leaves `sim` as a successful join leaves it, without the join's messages: a session from
    // `sessions` is opened on the first session hosted under the first application identifier
    // (through the first provider whose name holds "TCP"), the observer is created with the
    // client's intake filter, the parameter groups are found by name and the observer put in
    // the refuse group, and `hostPlayer` becomes the user's own player, its friendly name the
    // handle. `adjust` may change what the link keeps of it (a state no join of the simulator
    // leaves). Nothing is sent to the simulator and nothing is logged. Returns the observer.
    static qint32 joinAsTheJoinWould(SimLink& sim, SessionFactory& sessions, qint32 hostPlayer,
                                     const std::function<void(JoinedSession&)>& adjust = {});

    // Logged on to the server as far as the record handlers can tell, without sockets: the
    // server gave us `sessionNumber` and last answered at `lastAck`.
    static void pretendLoggedOn(ServerLink& link, qint32 sessionNumber, const QDateTime& lastAck);

    // The post-connect sends running with `count` of them made, whatever the link's state: the
    // state a late tick of Timer2 would find.
    static void pretendPostConnectSends(ServerLink& link, int count);
};

inline qint32 joinAsTheJoinWould(SimLink& sim, SessionFactory& sessions, qint32 hostPlayer,
                                 const std::function<void(JoinedSession&)>& adjust = {}) {
    return ClientFixture::joinAsTheJoinWould(sim, sessions, hostPlayer, adjust);
}

inline void pretendLoggedOn(ServerLink& link, qint32 sessionNumber, const QDateTime& lastAck) {
    ClientFixture::pretendLoggedOn(link, sessionNumber, lastAck);
}

} // namespace airmesh
