#pragma once

#include "core/bytes.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// DirectPlay 4 over the TCP/IP service provider, as bytes on the wire: the 20-byte service
// provider header, the "play" envelope of system messages, the session description, packed and
// superpacked players and every message a joiner sends or reads; the few bodies that only a host
// writes or reads are in standin/dplay/hostwire.h. Little-endian throughout except the port and
// address inside a socket address. Nothing here touches a socket.
namespace airmesh::dplay {

inline constexpr quint16 kEnumPort = 47624;
inline constexpr quint16 kTcpPortFirst = 2300, kTcpPortLast = 2349;
inline constexpr quint16 kUdpPortFirst = 2350, kUdpPortLast = 2399;
inline constexpr int kSpHeaderBytes = 20;
inline constexpr int kPlayHeaderBytes = 8;
inline constexpr quint32 kTokenRemote = 0xFAB00000u;
inline constexpr quint32 kPlaySignature = 0x79616C70u; // "play"
// The largest message we accept from anybody, far above a 16-player name table; the protocol
// allows a megabyte, which nothing in these sessions comes near.
inline constexpr int kMaxMessageBytes = 256 * 1024;
inline constexpr int kMaxDatagramBytes = 65479;
inline constexpr quint16 kDialect = 14; // DirectX 9's dialect, as native peers announce
// The Winsock provider's data of a player: its machine's TCP and UDP socket addresses.
inline constexpr int kSpDataBytes = 32;
// The security description of a REQUESTPLAYERREPLY: two pointers among its fields, so 24 bytes
// from a 32-bit build and 32 from a 64-bit one.
inline constexpr int kSecDescBytes32 = 24, kSecDescBytes64 = 32;

// The commands of system messages, by their number on the wire. Only append: peers in the
// field use these numbers.
enum class Command : quint16 {
    EnumSessionsReply = 0x01,
    EnumSessions = 0x02,
    EnumPlayersReply = 0x03,
    RequestPlayerId = 0x05,
    RequestPlayerReply = 0x07,
    CreatePlayer = 0x08,
    CreateGroup = 0x09,
    DeletePlayer = 0x0B,
    DeleteGroup = 0x0C,
    AddPlayerToGroup = 0x0D,
    DeletePlayerFromGroup = 0x0E,
    PlayerDataChanged = 0x0F,
    PlayerNameChanged = 0x10,
    AddForwardRequest = 0x13,
    Packet = 0x15,
    Ping = 0x16,
    PingReply = 0x17,
    YouAreDead = 0x18,
    PlayerWrapper = 0x19,
    SessionDescChanged = 0x1A,
    AddForwardReply = 0x24,
    SuperEnumPlayersReply = 0x29,
    AddForward = 0x2E,
    AddForwardAck = 0x2F,
    IAmNameServer = 0x35,
    CreatePlayerVerify = 0x38,
};

struct CommandEntry {
    Command command;
    const char* name; // as logs write it
};

// THE table of system messages: a number read from the wire is a command only when it is
// listed here, and every switch over Command names each one without a `default:`, so that a
// command added here and forgotten by a handler is a compiler warning. Only append. Beside each
// row, the reader and the builder of its body; dphost:: marks those only the host has
// (standin/dplay/hostwire.h), "-" one that nothing of ours reads or sends.
// clang-format off
inline constexpr std::array<CommandEntry, 26> kCommands{{
    // command                       name                        reader                      builder
    {Command::EnumSessionsReply,     "ENUMSESSIONSREPLY"},     // readEnumSessionsReply      dphost::enumSessionsReplyBody
    {Command::EnumSessions,          "ENUMSESSIONS"},          // dphost::readEnumSessions   enumSessionsBody
    {Command::EnumPlayersReply,      "ENUMPLAYERSREPLY"},      // readEnumPlayersReply       -
    {Command::RequestPlayerId,       "REQUESTPLAYERID"},       // the host reads its flags   requestPlayerIdBody
    {Command::RequestPlayerReply,    "REQUESTPLAYERREPLY"},    // readRequestPlayerReply     dphost::requestPlayerReplyBody
    {Command::CreatePlayer,          "CREATEPLAYER"},          // readCreateMessage          createPlayerBody
    {Command::CreateGroup,           "CREATEGROUP"},           // readCreateMessage          createPlayerBody
    {Command::DeletePlayer,          "DELETEPLAYER"},          // readPlayerIds              playerIdsBody
    {Command::DeleteGroup,           "DELETEGROUP"},           // readPlayerIds              playerIdsBody
    {Command::AddPlayerToGroup,      "ADDPLAYERTOGROUP"},      // readPlayerIds              playerIdsBody
    {Command::DeletePlayerFromGroup, "DELETEPLAYERFROMGROUP"}, // readPlayerIds              playerIdsBody
    {Command::PlayerDataChanged,     "PLAYERDATACHANGED"},     // -                          -
    {Command::PlayerNameChanged,     "PLAYERNAMECHANGED"},     // -                          -
    {Command::AddForwardRequest,     "ADDFORWARDREQUEST"},     // readCreateMessage          addForwardRequestBody
    {Command::Packet,                "PACKET"},                // readPacket                 packetBody
    {Command::Ping,                  "PING"},                  // readPingTick               pingBody
    {Command::PingReply,             "PINGREPLY"},             // readPingTick               pingBody
    {Command::YouAreDead,            "YOUAREDEAD"},            // (no body)                  -
    {Command::PlayerWrapper,         "PLAYERWRAPPER"},         // parseDatagram and parseTcpMessage: a player message
    {Command::SessionDescChanged,    "SESSIONDESCCHANGED"},    // -                          -
    {Command::AddForwardReply,       "ADDFORWARDREPLY"},       // the joiner reads its error dphost::addForwardReplyBody
    {Command::SuperEnumPlayersReply, "SUPERENUMPLAYERSREPLY"}, // readSuperEnumPlayersReply  dphost::superEnumPlayersReplyBody
    {Command::AddForward,            "ADDFORWARD"},            // readCreateMessage          createPlayerBody
    {Command::AddForwardAck,         "ADDFORWARDACK"},         // -                          addForwardAckBody
    {Command::IAmNameServer,         "IAMNAMESERVER"},         // -                          -
    {Command::CreatePlayerVerify,    "CREATEPLAYERVERIFY"},    // readCreateMessage          createPlayerBody
}};
// clang-format on

constexpr quint16 commandNumber(Command c) {
    return static_cast<quint16>(c);
}

// Each number once.
constexpr bool eachCommandOnce() {
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        for (std::size_t j = i + 1; j < kCommands.size(); ++j) {
            if (kCommands[i].command == kCommands[j].command) {
                return false;
            }
        }
    }
    return true;
}
static_assert(eachCommandOnce());

// The command of a number read from the wire; nullopt for one the table does not list.
constexpr std::optional<Command> knownCommand(quint16 number) {
    for (const CommandEntry& e : kCommands) {
        if (commandNumber(e.command) == number) {
            return e.command;
        }
    }
    return std::nullopt;
}

// Session description flags.
namespace sessionflag {
inline constexpr quint32 NewPlayersDisabled = 0x1, MigrateHost = 0x4, NoMessageId = 0x8, JoinDisabled = 0x20,
                         KeepAlive = 0x40, SecureServer = 0x100, Private = 0x200, PasswordRequired = 0x400,
                         MulticastServer = 0x800, ClientServer = 0x1000, DirectPlayProtocol = 0x2000;
}
// Player flags in packed players.
namespace playerflag {
inline constexpr quint32 SysPlayer = 0x1, NameServer = 0x2, InGroup = 0x4, Local = 0x8;
}

using Guid = std::array<quint8, 16>;
// "{97C62470-5F53-4098-A8BB-7F1F93B94D93}" in the Windows byte layout; nullopt when malformed.
std::optional<Guid> parseGuid(const QString& text);
QString guidText(const Guid& g);
inline constexpr Guid kNullGuid{};

struct SockAddr {
    quint16 port = 0;
    quint32 ip = 0; // host order; 0 = "the address this came from"
};

// The session description; `size` says which layout it came in (80: 32-bit builds, 88: 64-bit).
struct SessionDesc {
    quint32 size = 80;
    quint32 flags = 0;
    Guid instance{};
    Guid application{};
    quint32 maxPlayers = 0;
    quint32 currentPlayers = 0;
    quint32 reserved1 = 0; // the id key
    quint32 reserved2 = 0;
    std::array<quint32, 4> user{};
};

// One player or group of the name table.
struct PlayerRecord {
    quint32 flags = 0;
    quint32 id = 0;
    quint32 systemPlayer = 0; // the machine it belongs to (its own id for a system player)
    quint32 version = kDialect;
    QString shortName;
    QString longName;
    bool hasSpData = false;
    SockAddr stream;   // the machine's TCP address
    SockAddr datagram; // and its UDP address
    QByteArray playerData;
    QList<quint32> members; // groups only
    quint32 parent = 0;
    bool isGroup = false;
};

// One message as read from the wire.
struct WireMessage {
    quint32 token = 0;
    SockAddr replyTo;    // the sender's TCP listening address from the header (zero for bare datagrams)
    bool system = false; // a "play" message
    quint16 command = 0; // as read: knownCommand() says which it is
    quint16 version = 0;
    QByteArray body; // after the play header (system) or the whole player message
};

// Reads one message after the service provider header has given its size. `withHeader`
// false: a bare datagram (a player message, or a system message with its header). Returns
// nullopt for anything malformed.
std::optional<WireMessage> parseTcpMessage(const QByteArray& bytes);
std::optional<WireMessage> parseDatagram(const QByteArray& bytes);
// The size a TCP message announces in its first four bytes; 0 when fewer than four are there.
quint32 announcedSize(const char* data, int available);

// The structures below are read through core's ByteReader, which a malformed one fails, and
// written through its ByteWriter.

// Byte length of a UTF-16 string with its terminator, 0 for none.
quint32 wstringBytes(const QString& s);

Guid readGuid(ByteReader& r);
// A player's kSpDataBytes of provider data.
void writeSpData(ByteWriter& w, const PlayerRecord& p);

SessionDesc readSessionDesc(ByteReader& r);
void writeSessionDesc(ByteWriter& w, const SessionDesc& d);

// Packed player (48-byte fixed part) and superpacked player; read ones advance the reader. Only
// the host writes superpacked players (standin/dplay/hostwire.h).
void writePackedPlayer(ByteWriter& w, const PlayerRecord& p);
std::optional<PlayerRecord> readPackedPlayer(ByteReader& r);
std::optional<PlayerRecord> readSuperPacked(ByteReader& r, bool isGroup);

// ---- Whole messages. `from` is our TCP listening port for the header. ----
// A system message: the header, the play envelope, then `body`.
QByteArray systemMessage(quint16 listenPort, Command c, const QByteArray& body, quint16 version = kDialect);
// A guaranteed player message (TCP): header, from, to, payload.
QByteArray playerMessageTcp(quint16 listenPort, quint32 from, quint32 to, const QByteArray& payload);
// An unguaranteed player message (UDP): from, to, payload, no header.
QByteArray playerMessageUdp(quint32 from, quint32 to, const QByteArray& payload);

QByteArray enumSessionsBody(const Guid& application, const QString& password, quint32 flags);
QByteArray requestPlayerIdBody(quint32 flags);
QByteArray addForwardRequestBody(const PlayerRecord& systemPlayer, const QString& password, quint32 key);
// CREATEPLAYER, CREATEPLAYERVERIFY, ADDFORWARD and CREATEGROUP share one layout.
QByteArray createPlayerBody(const PlayerRecord& p, bool trailer);
QByteArray playerIdsBody(quint32 idTo, quint32 player, quint32 group); // DELETEPLAYER, ADDPLAYERTOGROUP, ...
QByteArray pingBody(quint32 from, quint32 tick);
QByteArray addForwardAckBody(quint32 id);
// What only a host writes, and the search it reads, is in standin/dplay/hostwire.h.

// ---- Parsed bodies ----
struct EnumSessionsAnswer {
    SessionDesc desc;
    QString name;
};
std::optional<EnumSessionsAnswer> readEnumSessionsReply(const QByteArray& body);
struct PlayerIdReply {
    quint32 id = 0;
    quint32 result = 0;
    bool secure = false;
};
// `wide`: the reply of a 64-bit host (the one that described its session in 88 bytes).
std::optional<PlayerIdReply> readRequestPlayerReply(const QByteArray& body, bool wide = false);
// CREATEPLAYER / ADDFORWARD / CREATEGROUP / ADDFORWARDREQUEST: the ids and the packed player.
struct CreateInfo {
    quint32 idTo = 0;
    quint32 playerId = 0;
    quint32 groupId = 0;
    PlayerRecord player;
    QString password; // ADDFORWARDREQUEST only
    quint32 key = 0;  // ADDFORWARDREQUEST's trailing value
};
std::optional<CreateInfo> readCreateMessage(const QByteArray& body, bool isGroup, bool withPassword);
struct PlayerIds {
    quint32 idTo = 0;
    quint32 player = 0;
    quint32 group = 0;
};
std::optional<PlayerIds> readPlayerIds(const QByteArray& body);
// PING / PINGREPLY: the tick count to echo.
std::optional<quint32> readPingTick(const QByteArray& body);
struct NameTable {
    SessionDesc desc;
    QString name;
    QList<PlayerRecord> players;
    QList<PlayerRecord> groups;
};
std::optional<NameTable> readSuperEnumPlayersReply(const QByteArray& body);
std::optional<NameTable> readEnumPlayersReply(const QByteArray& body);

// PACKET: one fragment of a message that its sender split because it was too long to go in one
// piece. The fragments of one message share its identifier; put together in index order their
// data is the whole message.
struct Fragment {
    Guid message{};
    quint32 index = 0;
    quint32 count = 0;       // fragments in the message
    quint32 offset = 0;      // where this fragment's data stands in the whole message
    quint32 messageSize = 0; // the whole message's length
    QByteArray data;
};
// nullopt unless the fragment carries data and lies inside the message it names (index below
// the count, data within the length).
std::optional<Fragment> readPacket(const QByteArray& body);
QByteArray packetBody(const Fragment& f);
// A message put together from fragments, read as if it had arrived in one piece: the bytes after
// a service provider header (a system message or a player message), or a whole message with its
// own header. `replyTo` is the fragments' reply address, for a message without a header of its
// own.
std::optional<WireMessage> parseReassembled(const QByteArray& whole, const SockAddr& replyTo);

// The command's name from the table.
QString commandName(Command command);
// The name of a number read from the wire: its command's, else "command N".
QString commandName(quint16 number);

} // namespace airmesh::dplay
