#pragma once

#include <QByteArray>
#include <QString>

namespace airmesh {
inline namespace serverlink {

// What the relay needs of the server link: whether the client is logged on, and the records
// that carry the user's traffic to the server. A send that fails at once throws (the socket's
// SocketError), for the caller's error trap.
class RelayOutput {
public:
    virtual ~RelayOutput() = default;
    // blnConnected: logged on; gates all relay traffic.
    virtual bool isConnected() const = 0;
    // AircraftDetails over UDP, the title followed by U+0000.
    virtual void sendOwnAircraft(qint32 engineType, const QString& title) = 0;
    // The answer to a pilot's plane query: AircraftDetails over UDP, the title as it is.
    virtual void sendQueryPlaneReply(qint32 engineType, const QString& title) = 0;
    virtual void sendQueryPlane() = 0;
    virtual void sendPlayerCrashed() = 0;
    // PositionUpdate over UDP with the 52-byte block unchanged.
    virtual void sendPosition(const QByteArray& block) = 0;
    // A chat line over TCP: its pieces one after another, each once the previous send has
    // completed, then the end mark; " - Send Chat to Host" is logged once the end mark is out.
    virtual void sendChat(const QString& text) = 0;
};

} // namespace serverlink
} // namespace airmesh
