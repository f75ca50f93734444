#pragma once

#include "accounts.h"
#include "core/clock.h"
#include "logonguard.h"
#include "rangefilter.h"
#include "wire/records.h"
#include "wire/recordstream.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace airmesh {
inline namespace relayserver {

// One TCP connection of the server, numbered by the socket layer.
using ConnId = quint64;

struct UdpEndpoint {
    QHostAddress address;
    quint16 port = 0;
    bool operator==(const UdpEndpoint&) const = default;
};
size_t qHash(const UdpEndpoint& e, size_t seed = 0) noexcept;

// IPv4 addresses seen through a dual-stack socket arrive as ::ffff:a.b.c.d; all comparisons of
// a datagram's source with a TCP peer's address use this plain form.
QHostAddress plainAddress(const QHostAddress& a);

// What the relay needs of the sockets. Sends never call back into the relay: a transport that
// wants a connection gone (it does not read) tells the relay afterwards, outside the send.
class RelayTransport {
public:
    virtual ~RelayTransport() = default;
    virtual void sendDatagram(const QByteArray& record, const UdpEndpoint& to) = 0;
    virtual void sendStream(ConnId conn, const QByteArray& record) = 0;
    // The relay has forgotten this connection; close it without further notice.
    virtual void closeStream(ConnId conn) = 0;
};

struct RelayLimits {
    int maxPilots = 128;            // logged on at once
    int maxPendingConnections = 32; // TCP connections not logged on
    int silenceSeconds = 60;        // a connection that sends nothing valid this long is dropped
    int maxLogonAttempts = 5;       // rejected logons on one connection before it is dropped
    // Rejected logons per source address, over all its connections, before its logons are
    // refused unchecked for a while.
    LogonGuardLimits logonGuard;
    // Where a LogonRejected goes when no datagram from the client's address has shown its port.
    quint16 defaultClientUdpPort = 1501;
    // Positions go only to pilots within this many nautical miles of the sender; 0: to everybody.
    double rangeNm = 0;
    QString greeting = QStringLiteral("Welcome to Airmesh");
};

// Why the relay gave up on a connection, for the counts.
enum class DropReason { Silent, NotReading, RejectedLogons, LoggedOnAgain, Other };
inline constexpr int kDropReasons = 5;

// A pilot online as the status page shows him.
struct PilotView {
    qint32 pilotId = 0;
    qint32 session = 0;
    QString handle;
    std::optional<QString> title; // of his last aircraft details, if any
    qint32 engine = 0;
    QByteArray lastPosition;   // empty before his first
    qint64 lastPositionMs = 0; // when it came, on the clock's steady milliseconds
};

// What the server has done since it started, for the summary.
struct RelayStats {
    quint64 logons = 0, rejectedLogons = 0, logoffs = 0, droppedPeers = 0, refusedConnections = 0;
    std::array<quint64, kDropReasons> droppedBy{}; // droppedPeers by DropReason
    // Logons refused unchecked from blocked addresses (not in rejectedLogons), and blocks begun.
    quint64 blockedLogons = 0, logonBlocks = 0;
    quint64 heartBeats = 0, positions = 0, queries = 0, crashes = 0, aircraft = 0, chatChunks = 0;
    quint64 udpRecordsSent = 0, tcpRecordsSent = 0;
    // Input thrown away: datagrams not 128 bytes long; records of an unknown category, type or
    // transport, or out of turn; datagrams of no logged-on pilot or from the wrong address.
    quint64 badSizeDatagrams = 0, badRecords = 0, unknownSenders = 0, wrongSourceDatagrams = 0;
};

// The reference server's logic, free of sockets: logon, membership, relay, liveness. Fed by a
// socket layer (RelayServer) or directly by tests and the fuzzer; talks back through a
// RelayTransport. Memory per connection is bounded: a carry of less than one record, one stored
// aircraft record, the last position block and a few fields.
class RelayCore {
public:
    using LogSink = std::function<void(const QString& line)>;
    // Checks a password against a hashed account's hash away from the relay and calls `done` with
    // the answer later, on the relay's thread (never from within the call). Without one, the
    // relay checks in place.
    using HashCheck = std::function<void(QByteArray hash, qint32 password, std::function<void(bool right)> done)>;
    // Hashed logons being checked at once; further ones are rejected as "server busy" unchecked.
    static constexpr int kMaxHashChecks = 16;
    static constexpr int kMaxGreetingChars = wire::LogonAccepted::kGreetingChars;
    // The text of a relayed crash; receiving clients show it after the pilot's handle.
    static inline const QString kCrashText = QStringLiteral("has crashed.");

    RelayCore(Accounts accounts, RelayLimits limits, const Clock& clock, RelayTransport& transport, LogSink log);

    // A TCP connection came in from `peer`. False: refused (too many connections waiting for
    // their logon); the caller closes it and the relay keeps nothing of it.
    bool connectionOpened(ConnId conn, const QHostAddress& peer);
    // Bytes of that connection's stream, in order, in chunks of any size.
    void streamBytes(ConnId conn, QByteArrayView bytes);
    // The peer closed the connection (or it broke).
    void connectionClosed(ConnId conn);
    // The relay or its transport gives up on a connection: it is forgotten and closed.
    void dropConnection(ConnId conn, const QString& reason, DropReason why = DropReason::Other);
    // One UDP datagram, whole.
    void datagram(QByteArrayView bytes, const QHostAddress& from, quint16 port);
    // Drops every connection silent for the limit and lifts the logon blocks that have run out;
    // call it about once a second.
    void checkSilence();
    void setHashCheck(HashCheck check) { m_hashCheck = std::move(check); }

    bool hasConnection(ConnId conn) const { return m_conns.contains(conn); }
    int pilotCount() const { return static_cast<int>(m_sessions.size()); }
    int connectionCount() const { return static_cast<int>(m_conns.size()); }
    // The session number of a logged-on connection, else 0.
    qint32 sessionOf(ConnId conn) const;
    const RelayStats& stats() const { return m_stats; }
    // The pilots online, in logon order.
    std::vector<PilotView> pilots() const;
    // The relay counts on the first line, then one line per pilot online, in logon order, with
    // where his last position block puts him ("position unknown" when there is none or it holds
    // no position an aircraft can have). Blocks are decoded here, not as they pass.
    QString summary() const;

private:
    struct Conn {
        ConnId id = 0;
        QHostAddress address;      // plain form
        wire::RecordStream stream; // its TCP bytes cut into records
        qint64 lastHeardMs = 0;    // last valid record, or the connection's opening (steady clock)
        int rejectedLogons = 0;
        quint64 hashCheck = 0; // the number of its logon being checked, 0 when none
        // Set at logon.
        qint32 session = 0;
        qint32 pilotId = 0;
        QString handle;
        std::optional<UdpEndpoint> udp;             // learned from its datagrams
        std::optional<wire::ServerRecord> aircraft; // its last AircraftDetails, as relayed
        QByteArray lastPosition;                    // the block of its last PositionUpdate
        qint64 lastPositionMs = 0;                  // steady clock
    };

    void tcpRecord(Conn& c, const QByteArray& bytes);
    void logon(Conn& c, const wire::LogonRequest& request);
    // The answer of a hashed account's check for connection `conn`'s logon numbered `check`.
    void hashChecked(ConnId conn, quint64 check, const wire::LogonRequest& request, bool right);
    // The logon's credentials were wrong: rejected, and counted against its address.
    void wrongCredentials(Conn& c, qint32 pilotId);
    void accept(Conn& c, const wire::LogonRequest& request, const QString& accountHandle);
    // Ends the logon blocks that have run out, one log line each.
    void releaseLogonBlocks(qint64 nowMs);
    // Answers a logon with LogonRejected. Quiet: no log line, also not for dropping the connection.
    void reject(Conn& c, const QString& why, bool quiet = false);
    void relay(Conn& from, const wire::ServerRecord& r);
    void storeAndRelayAircraft(Conn& from, const wire::AircraftDetails& details);
    void toOthers(const Conn& from, const wire::ServerRecord& r, wire::Transport t);
    // A position: to everybody, or with a range to the pilots the range filter names.
    void relayPosition(Conn& from, const wire::ServerRecord& r);
    void sendTcp(const Conn& to, const wire::ServerRecord& r);
    void sendUdp(const UdpEndpoint& to, const wire::ServerRecord& r);
    void forget(ConnId conn, const QString& logLine);
    void logLine(const QString& text) const;
    Conn* find(ConnId conn);
    Conn* bySession(qint32 session);
    static QString describe(const Conn& c);

    Accounts m_accounts;
    RelayLimits m_limits;
    const Clock& m_clock;
    RelayTransport& m_transport;
    LogSink m_log;
    RelayStats m_stats;

    std::unordered_map<ConnId, Conn> m_conns;
    std::map<qint32, ConnId> m_sessions;     // logged on, in logon order
    QHash<UdpEndpoint, qint32> m_byEndpoint; // learned endpoints
    QHash<qint32, ConnId> m_byPilotId;
    // The UDP port last seen from each address, for a LogonRejected; bounded.
    QHash<QHostAddress, quint16> m_lastPortOf;
    static constexpr int kMaxRememberedPorts = 4096;
    qint32 m_nextSession = 1;
    LogonGuard m_guard;
    std::optional<RangeFilter> m_range; // with a range only
    HashCheck m_hashCheck;
    int m_hashChecks = 0; // under way
    quint64 m_nextHashCheck = 1;
};

} // namespace relayserver
} // namespace airmesh
