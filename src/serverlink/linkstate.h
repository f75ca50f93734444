#pragma once

#include <QString>

namespace airmesh {
inline namespace serverlink {

// Where the link to the server stands, as ServerLink reports it with its status text.
enum class LinkState {
    Idle,          // nothing tried yet since the program started
    Connecting,    // Connect pressed: the TCP connection is being made
    AwaitingLogon, // connected, the logon sent and its answer awaited
    LoggedOn,      // the server accepted the logon
    Rejected,      // the server rejected the logon
    TimedOut,      // no answer to the logon in time
    Error,         // the connection could not be made, or the logon not sent
    Lost,          // the link was torn down: closed by the server, silent, or given up
};

// The status text of each state. Connecting has none of its own: the text of the state before
// stands, so this gives an empty text for it.
QString linkStatusText(LinkState state);

} // namespace serverlink
} // namespace airmesh
