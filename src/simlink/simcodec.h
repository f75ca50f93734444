#pragma once

#include "simmessage.h"

#include "core/enginetype.h"

#include <QString>

namespace airmesh {
inline namespace simlink {

// Message numbers of the simulator's session. Only append: the simulator owns these numbers.
enum class SimMsg : qint32 {
    Unnamed4096 = 4096,
    AddPlayerRequest = 4097,
    ObserverJoinRequest = 4098,
    AddPlayerApproved = 4099,
    ObserverJoinAccepted = 4100,
    AddPlayerRejected = 4101,
    ObserverJoinRefused = 4102,
    PlayerQuery = 4103,
    ObserverJoinRetry = 4105,
    AircraftDetails = 4110,
    QueryPlane = 4111,
    PlayerCrashed = 4113,
    Unnamed4119 = 4119,
    Unnamed4120 = 4120,
    PositionUpdate = 4121,
    ChatMessageAlt = 4128,
    ChatMessage = 4131,
};

inline constexpr qint32 simMsgNumber(SimMsg m) {
    return static_cast<qint32>(m);
}

// The position block the simulator sends for an aircraft; relayed unchanged, never read.
inline constexpr int kPositionBlockBytes = 52;

namespace sim {

// The 8-byte header of every message: number and payload length.
struct Header {
    qint32 number = 0;
    qint32 payloadLength = 0;
};
// Reads the header from the start of the message.
Header readHeader(SimMessage& m);

// Builders. Each starts from an empty message: `m` is cleared first.
// A header-only message: number, payload length 0 (AddPlayerRequest, ObserverJoinRequest,
// ObserverJoinRetry, the plane query of the join, the reply AddPlayerApproved).
void writeHeaderOnly(SimMessage& m, SimMsg number);
// The plane query sent on logon acceptance: header with length 0, then one zero byte.
void writeQueryPlaneOnLogon(SimMessage& m);
// AircraftDetails: engine code, title in ANSI and its zero byte; length = 4 + title bytes + 1.
void writeAircraftDetails(SimMessage& m, qint32 engineType, const QString& title);
// PositionUpdate carrying the 52-byte block (shorter input is padded with zeros, longer cut).
void writePositionUpdate(SimMessage& m, const QByteArray& block);
// ChatMessage or ChatMessageAlt: text in ANSI and its zero byte; length = text bytes + 1.
void writeChat(SimMessage& m, SimMsg number, const QString& text);

// Readers, positioned after the header.
// AircraftDetails: engine code, then the title up to its zero byte (consumed, not kept).
struct AircraftDetails {
    qint32 engineType = 0;
    QString title;
};
AircraftDetails readAircraftDetails(SimMessage& m);
// The player id of an incoming AddPlayerApproved.
qint32 readApprovedPlayerId(SimMessage& m);
// The 52-byte position block.
QByteArray readPositionBlock(SimMessage& m);
// Chat text: exactly payloadLength - 1 bytes; 0 or 1 means no text. Bytes of value 0 inside
// the text are kept as characters, as the text is taken byte by byte.
QString readChatText(SimMessage& m, qint32 payloadLength);

// ANSI text ended by a zero byte; throws when the message ends first.
QString readAnsiZ(SimMessage& m);
// Appends ANSI text and its zero byte.
void writeAnsiZ(SimMessage& m, const QString& text);

} // namespace sim
} // namespace simlink
} // namespace airmesh
