#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

namespace airmesh {

// The 128-byte record of the server protocol, the same on UDP and TCP and in both directions:
// four signed 32-bit little-endian header fields and a 112-byte body. Text fields are fixed
// widths of UTF-16LE code units, left-aligned, padded with spaces, never zero-terminated.
inline constexpr int kRecordBytes = 128;
inline constexpr int kRecordHeaderBytes = 16;
inline constexpr int kRecordBodyBytes = kRecordBytes - kRecordHeaderBytes;
static_assert(kRecordBodyBytes == 112);

enum class RecordCategory : qint32 { Control = 0, Relay = 1 };

// Record types. Only append: peers in the field use these numbers.
enum class RecordType : qint32 {
    LogonRequest = 1001,
    LogonAccepted = 1002,
    LogonRejected = 1003,
    PlayerJoined = 1004,
    PlayerLeft = 1005,
    HeartBeat = 1006,
    AircraftDetails = 4110,
    QueryPlane = 4111,
    PlayerCrashed = 4113,
    PositionUpdate = 4121,
    ChatChunk = 4131,
};

enum class Transport { Udp, Tcp };

// Field offsets (from the start of the record) and text widths.
namespace recfield {
inline constexpr int Body = 16;
inline constexpr int LogonPilotId = 16, LogonPassword = 20, LogonHandle = 24, HandleChars = 20;
inline constexpr int AcceptedSession = 16, AcceptedGreeting = 20, GreetingChars = 40;
inline constexpr int JoinedSession = 16, JoinedHandle = 20;
inline constexpr int LeftSession = 16;
inline constexpr int EngineType = 16, AircraftTitle = 20, TitleChars = 30;
inline constexpr int PositionBlock = 16, PositionBlockBytes = 52;
inline constexpr int CrashText = 16, CrashTextChars = 50;
inline constexpr int ChatPiece = 16, ChatPieceChars = 56;
} // namespace recfield

// The text of the last chat piece, which ends a chat message.
inline const QString kChatEndMark = QStringLiteral("ZZZENDZZZ");

struct ServerRecord {
    qint32 Category = 0;
    qint32 MsgType = 0;
    qint32 SenderSession = 0;
    qint32 Reserved = 0;
    std::array<char, kRecordBodyBytes> body{};

    bool operator==(const ServerRecord&) const = default;

    // Exactly 128 bytes.
    QByteArray toBytes() const;
    // The first 128 bytes of `bytes`; missing bytes of a shorter input read as zero.
    static ServerRecord fromBytes(const QByteArray& bytes);

    // Body fields, addressed by their offset in the record (16 and up). Out-of-range
    // offsets are a programming error and are clamped, never written outside the record.
    qint32 longAt(int offset) const;
    void setLongAt(int offset, qint32 v);
    QByteArray bytesAt(int offset, int length) const;
    void setBytesAt(int offset, const QByteArray& bytes, int length);
    // A text field of `chars` UTF-16 code units, as stored (padding included).
    QString textAt(int offset, int chars) const;
    // Stores `text` padded with spaces or cut to `chars` units.
    void setTextAt(int offset, int chars, const QString& text);

    RecordType type() const { return static_cast<RecordType>(MsgType); }
};

// Client to server.
namespace toServer {
ServerRecord logonRequest(qint32 pilotId, qint32 password, const QString& handle);
ServerRecord heartBeat(qint32 session);
// The title is followed by one U+0000 when `nulAfterTitle` (the sends prompted by the
// simulator and the post-connect sends); the reply to a query carries none.
ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title, bool nulAfterTitle);
ServerRecord queryPlane(qint32 session);
ServerRecord playerCrashed(qint32 session);
ServerRecord positionUpdate(qint32 session, const QByteArray& block);
ServerRecord chatChunk(qint32 session, const QString& piece);
} // namespace toServer

// Server to client.
namespace toClient {
ServerRecord logonAccepted(qint32 session, const QString& greeting);
ServerRecord logonRejected();
ServerRecord playerJoined(qint32 session, const QString& handle);
ServerRecord playerLeft(qint32 session, const QString& handle = {});
ServerRecord heartBeatAck();
ServerRecord playerCrashed(qint32 crashedSession, const QString& text);
ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title);
ServerRecord queryPlane(qint32 askingSession);
ServerRecord positionUpdate(qint32 session, const QByteArray& block);
ServerRecord chatChunk(qint32 session, const QString& piece);
} // namespace toClient

// Whether the client accepts a record from the server on this transport: a known type of
// its category arriving on the transport that type travels on. Anything else is ignored.
bool acceptedFromServer(const ServerRecord& r, Transport t);
// Whether the server accepts a record from a client on this transport.
bool acceptedFromClient(const ServerRecord& r, Transport t);

// A chat text cut into pieces of 56 characters (the remainder last), then the end mark.
QStringList chatPieces(const QString& text);

} // namespace airmesh
