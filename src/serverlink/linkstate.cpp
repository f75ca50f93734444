#include "linkstate.h"

namespace airmesh {
inline namespace serverlink {

QString linkStatusText(LinkState state) {
    switch (state) {
    case LinkState::Idle:
        return QStringLiteral("Disconnected");
    case LinkState::Connecting:
        return {};
    case LinkState::AwaitingLogon:
        return QStringLiteral("Awaiting Server Logon Validation");
    case LinkState::LoggedOn:
        return QStringLiteral("Connected");
    case LinkState::Rejected:
        return QStringLiteral("Logon rejected...Check details and try again");
    case LinkState::TimedOut:
        return QStringLiteral("Timed out, no response...Please try again");
    case LinkState::Error:
        return QStringLiteral("Error Encountered...See Debugging");
    case LinkState::Lost:
        return QStringLiteral("Server connection lost...Please reconnect");
    }
    return {};
}

} // namespace serverlink
} // namespace airmesh
