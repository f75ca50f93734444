#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace airmesh {
inline namespace serverlink {

// The user's aircraft as the simulator last reported it.
struct UserAircraft {
    qint32 engineType = 0;
    QString title;
};

// What the server link reports to the relay, one call per decoded record the client reacts to,
// and the little it asks of it: the mirror of RelayOutput. Texts arrive as the client keeps
// them: cut at their first U+0000 and, except a crash text and a chat piece, without their
// padding. A reaction that fails throws; the server link's error trap of the record logs it
// (" - Error Process_Packet <number> <text>", or Process_TCPPacket).
class ServerEvents {
public:
    virtual ~ServerEvents() = default;

    // ---- The logon ----
    // The server accepted the logon: its greeting, to show the user.
    virtual void logonAccepted(const QString& greeting) = 0;
    // ... and the window shows it: the simulator is asked for the user's aircraft.
    virtual void loggedOn() = 0;
    virtual void logonRejected() = 0;

    // ---- Traffic of a logged-on client, reported only while trafficWanted() ----
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

    // ---- What the server link asks ----
    // False once the records have nowhere to go (the simulator's session has ended).
    virtual bool trafficWanted() const = 0;
    // The handle the logon sends: the user's name in the simulator's session.
    virtual QString logonHandle() const = 0;
    // What the post-connect sends report.
    virtual UserAircraft userAircraft() const = 0;
    // True, once the loss has been noted, when `e` says the simulator's session is gone: such a
    // failure is not the record's, and its error trap logs nothing.
    virtual bool noteIfSessionGone(const std::exception& e) = 0;
};

} // namespace serverlink
} // namespace airmesh
