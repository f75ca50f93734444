#pragma once

// The one place that makes a client joined to the simulator's session, or logged on to the
// server, without going through the join's or the logon's conversation: test benches and fuzz
// targets start from here.

#include "serverlink/serverlink.h"
#include "simlink/session.h"
#include "simlink/simlink.h"

#include <QDateTime>

namespace airmesh {

// Leaves `sim` as a successful join leaves it, without the join's messages: a session from
// `sessions` is opened on the first session hosted under the first application identifier
// (through the first provider whose name holds "TCP"), the observer is created with the
// client's intake filter, the parameter groups are found by name and the observer put in the
// refuse group, and `hostPlayer` becomes the user's own player, its friendly name the handle.
// Nothing is sent to the simulator and nothing is logged. Returns the observer.
qint32 joinAsTheJoinWould(SimLink& sim, SessionFactory& sessions, qint32 hostPlayer);

// Logged on to the server as far as the record handlers can tell, without sockets: the server
// gave us `sessionNumber` and last answered at `lastAck`.
void pretendLoggedOn(ServerLink& link, qint32 sessionNumber, const QDateTime& lastAck);

} // namespace airmesh
