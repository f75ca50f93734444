#pragma once

#include <QByteArray>

#include <algorithm>
#include <array>

namespace airmesh::wire {

// The 128-byte record of the server protocol, the same on UDP and TCP and in both directions:
// four signed 32-bit little-endian header fields and a 112-byte body. Text fields are fixed
// widths of UTF-16LE code units, left-aligned, padded with spaces, never zero-terminated. The
// body's fields are laid out by the typed records (records.h), and nowhere else.
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

// Which transports a record travels on, as bits.
namespace carried {
inline constexpr quint8 Never = 0, Udp = 1, Tcp = 2, UdpOrTcp = Udp | Tcp;
}

// One direction of a record type: the category it carries and the transports it is accepted on.
struct Route {
    RecordCategory category = RecordCategory::Control;
    quint8 transports = carried::Never;
};

struct CatalogueEntry {
    RecordType type;
    Route toServer; // from a client to the server
    Route toClient; // from the server to a client
};

// The routes the table below is made of.
namespace route {
inline constexpr Route Never{};
inline constexpr Route ControlUdp{RecordCategory::Control, carried::Udp};
inline constexpr Route ControlTcp{RecordCategory::Control, carried::Tcp};
inline constexpr Route ControlUdpOrTcp{RecordCategory::Control, carried::UdpOrTcp};
inline constexpr Route RelayUdp{RecordCategory::Relay, carried::Udp};
inline constexpr Route RelayTcp{RecordCategory::Relay, carried::Tcp};
inline constexpr Route RelayUdpOrTcp{RecordCategory::Relay, carried::UdpOrTcp};
} // namespace route

// THE table of record types: how each travels in each direction. A record of a type, category
// or transport not listed for its direction is ignored by whoever receives it. Only append,
// and never change a row: clients and servers in the field rely on every entry.
// clang-format off
inline constexpr std::array<CatalogueEntry, 11> kCatalogue{{
    // type                        client to server              server to client
    {RecordType::LogonRequest,    route::ControlTcp,            route::Never},
    {RecordType::LogonAccepted,   route::Never,                 route::ControlUdpOrTcp},
    {RecordType::LogonRejected,   route::Never,                 route::ControlUdp},
    {RecordType::PlayerJoined,    route::Never,                 route::ControlUdpOrTcp},
    {RecordType::PlayerLeft,      route::Never,                 route::ControlUdpOrTcp},
    {RecordType::HeartBeat,       route::ControlUdp,            route::ControlUdp},
    // To the server over UDP when the simulator reports it or a pilot asks, over TCP after the logon.
    {RecordType::AircraftDetails, route::RelayUdpOrTcp,         route::RelayTcp},
    {RecordType::QueryPlane,      route::RelayUdp,              route::RelayUdp},
    // Sent as relay traffic, received as a notice of the server's.
    {RecordType::PlayerCrashed,   route::RelayUdp,              route::ControlUdp},
    {RecordType::PositionUpdate,  route::RelayUdp,              route::RelayUdp},
    {RecordType::ChatChunk,       route::RelayTcp,              route::RelayTcp},
}};
// clang-format on

// Whether records of this type travel with this category in some direction.
constexpr bool inCatalogue(RecordType type, RecordCategory category) {
    const auto travels = [category](const Route& r) {
        return r.transports != carried::Never && r.category == category;
    };
    return std::ranges::any_of(kCatalogue, [&](const CatalogueEntry& e) {
        return e.type == type && (travels(e.toServer) || travels(e.toClient));
    });
}

struct ServerRecord {
    qint32 Category = 0;
    qint32 MsgType = 0;
    qint32 SenderSession = 0;
    qint32 Reserved = 0;
    std::array<char, kRecordBodyBytes> body{};

    bool operator==(const ServerRecord&) const = default;

    // Exactly 128 bytes.
    [[nodiscard]] QByteArray toBytes() const;
    // The first 128 bytes of `bytes`. A record is always whole: the bytes a shorter input lacks
    // read as zero, as in the zero-filled buffer every sender builds its record in; bytes
    // beyond the 128th belong to no record and are ignored.
    static ServerRecord fromBytes(const QByteArray& bytes);

    [[nodiscard]] RecordType type() const { return static_cast<RecordType>(MsgType); }
};

// Whether the client accepts a record from the server on this transport: a known type of
// its category arriving on the transport that type travels on. Anything else is ignored.
bool acceptedFromServer(const ServerRecord& r, Transport t);
// Whether the server accepts a record from a client on this transport.
bool acceptedFromClient(const ServerRecord& r, Transport t);

} // namespace airmesh::wire
