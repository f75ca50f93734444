#pragma once

#include <QByteArray>
#include <QString>

namespace airmesh {
inline namespace serverlink {

// The user's aircraft as last reported.
struct UserAircraft {
    qint32 engineType = 0;
    QString title;
};

// The moments the link has a sound cue for.
enum class LinkCue {
    LoggedOn, // the server accepted the logon
    Rejected, // ... or rejected it
    Lost,     // the link was torn down
};

// What the server link reports to the relay, one call per decoded record the client reacts to:
// the mirror of RelayOutput. Texts arrive as the client keeps them: cut at their first U+0000
// and, except a crash text and a chat piece, without their padding. A reaction that fails
// throws; the server link's error trap of the record logs it (" - Error Process_Packet
// <number> <text>", or Process_TCPPacket). A reaction that has nothing to act on (its other
// side is gone) returns quietly.
class ServerEvents {
public:
    virtual ~ServerEvents() = default;

    // ---- The logon ----
    // The server accepted the logon: its greeting, to show the user.
    virtual void logonAccepted(const QString& greeting) = 0;
    // ... and the window shows it.
    virtual void loggedOn() = 0;
    virtual void logonRejected() = 0;

    // ---- Traffic of a logged-on client ----
    virtual void playerJoined(qint32 session, const QString& handle) = 0;
    virtual void playerLeft(qint32 session) = 0;
    virtual void playerCrashed(qint32 session, const QString& text) = 0;
    virtual void queryPlane(qint32 session) = 0;
    virtual void positionUpdate(qint32 session, const QByteArray& block) = 0;
    virtual void aircraftDetails(qint32 session, qint32 engineType, const QString& title) = 0;
    virtual void chatPiece(qint32 session, const QString& piece) = 0;

    // ---- The link's end ----
    // Set_Closed: the other pilots go with the link. Never throws; each step's failure is logged.
    virtual void linkClosed() = 0;

    // A moment of the link that has a sound cue. Never throws.
    virtual void linkCue(LinkCue cue) = 0;
};

// What the logon and the post-connect sends say about the user.
class LogonDetails {
public:
    virtual ~LogonDetails() = default;
    // The handle the logon sends.
    virtual QString logonHandle() const = 0;
    // What the post-connect sends report.
    virtual UserAircraft userAircraft() const = 0;
};

} // namespace serverlink
} // namespace airmesh
