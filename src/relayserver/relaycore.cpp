#include "relaycore.h"

#include "wire/positionblock.h"

#include <QStringList>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace airmesh {
inline namespace relayserver {

using namespace wire;

size_t qHash(const UdpEndpoint& e, size_t seed) noexcept {
    return qHashMulti(seed, e.address, e.port);
}

QHostAddress plainAddress(const QHostAddress& a) {
    bool isV4 = false;
    const quint32 v4 = a.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : a;
}

namespace {

// A title as the receiving clients need it: the sender puts one U+0000 after the title in most
// of its sends, and a client keeps everything but spaces, so the relayed title is cut there.
QString cleanTitle(QString title) {
    const qsizetype nul = title.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        title.truncate(nul);
    }
    return title;
}

// "47.4647 N 8.5492 E 1416 ft hdg 275 95 kt", or "position unknown".
QString positionText(const QByteArray& block) {
    const std::optional<wire::AircraftPosition> p = wire::decodePosition(block);
    if (!p) {
        return QStringLiteral("position unknown");
    }
    return QStringLiteral("%1 %2 %3 %4 %5 ft hdg %6 %7 kt%8")
        .arg(std::abs(p->latitudeDeg), 0, 'f', 4)
        .arg(p->latitudeDeg < 0 ? QLatin1Char('S') : QLatin1Char('N'))
        .arg(std::abs(p->longitudeDeg), 0, 'f', 4)
        .arg(p->longitudeDeg < 0 ? QLatin1Char('W') : QLatin1Char('E'))
        .arg(std::lround(p->altitudeFt))
        .arg(std::lround(p->headingDeg) % 360)
        .arg(std::lround(p->groundSpeedKt))
        .arg(p->onGround ? QStringLiteral(" on the ground") : QString());
}

} // namespace

RelayCore::RelayCore(Accounts accounts, RelayLimits limits, const Clock& clock, RelayTransport& transport, LogSink log)
    : m_accounts(std::move(accounts)), m_limits(std::move(limits)), m_clock(clock), m_transport(transport),
      m_log(std::move(log)), m_guard(m_limits.logonGuard) {
    m_limits.greeting.truncate(kMaxGreetingChars);
    if (m_limits.rangeNm > 0) {
        m_range.emplace(m_limits.rangeNm);
    }
}

qint32 RelayCore::sessionOf(ConnId conn) const {
    const auto it = m_conns.find(conn);
    return it == m_conns.end() ? 0 : it->second.session;
}

RelayCore::Conn* RelayCore::find(ConnId conn) {
    const auto it = m_conns.find(conn);
    return it == m_conns.end() ? nullptr : &it->second;
}

RelayCore::Conn* RelayCore::bySession(qint32 session) {
    const auto it = m_sessions.find(session);
    return it == m_sessions.end() ? nullptr : find(it->second);
}

void RelayCore::logLine(const QString& text) const {
    if (m_log) {
        m_log(m_clock.now().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + text);
    }
}

QString RelayCore::describe(const Conn& c) {
    if (c.session == 0) {
        return QStringLiteral("connection from %1 (no logon)").arg(c.address.toString());
    }
    return QStringLiteral("pilot %1 \"%2\" session %3 from %4")
        .arg(QString::number(c.pilotId), c.handle, QString::number(c.session), c.address.toString());
}

// ---- Connections ------------------------------------------------------------------------

bool RelayCore::connectionOpened(ConnId conn, const QHostAddress& peer) {
    const int pending = connectionCount() - pilotCount();
    if (pending >= m_limits.maxPendingConnections || m_conns.contains(conn)) {
        ++m_stats.refusedConnections;
        logLine(QStringLiteral("dropped connection from %1: too many connections waiting for their logon")
                    .arg(plainAddress(peer).toString()));
        return false;
    }
    Conn c;
    c.id = conn;
    c.address = plainAddress(peer);
    c.lastHeardMs = m_clock.steadyMs();
    m_conns.emplace(conn, std::move(c));
    return true;
}

void RelayCore::streamBytes(ConnId conn, QByteArrayView bytes) {
    Conn* c = find(conn);
    if (!c) {
        return;
    }
    c->stream.push(bytes, [&](const QByteArray& record) {
        tcpRecord(*c, record);
        // A record may have dropped the connection, and the stream with it.
        return find(conn) != nullptr;
    });
}

void RelayCore::connectionClosed(ConnId conn) {
    const Conn* c = find(conn);
    if (!c) {
        return;
    }
    if (c->session != 0) {
        ++m_stats.logoffs;
        forget(conn, QStringLiteral("logoff: %1, connection closed").arg(describe(*c)));
    } else {
        forget(conn, {});
    }
}

void RelayCore::dropConnection(ConnId conn, const QString& reason, DropReason why) {
    const Conn* c = find(conn);
    if (!c) {
        return;
    }
    ++m_stats.droppedPeers;
    ++m_stats.droppedBy[static_cast<std::size_t>(why)];
    forget(conn, QStringLiteral("dropped %1: %2").arg(describe(*c), reason));
    m_transport.closeStream(conn);
}

void RelayCore::forget(ConnId conn, const QString& line) {
    const auto it = m_conns.find(conn);
    if (it == m_conns.end()) {
        return;
    }
    const Conn c = std::move(it->second);
    m_conns.erase(it);
    if (!line.isEmpty()) {
        logLine(line);
    }
    if (c.session == 0) {
        return;
    }
    m_sessions.erase(c.session);
    if (m_range) {
        m_range->remove(conn);
    }
    if (c.udp) {
        m_byEndpoint.remove(*c.udp);
    }
    if (m_byPilotId.value(c.pilotId) == conn) {
        m_byPilotId.remove(c.pilotId);
    }
    // Over TCP, like the PlayerJoined before it: over UDP the departure could overtake the arrival.
    const ServerRecord left = toClient::playerLeft(c.session, c.handle);
    for (const auto& [session, other] : m_sessions) {
        sendTcp(m_conns.at(other), left);
    }
}

void RelayCore::checkSilence() {
    releaseLogonBlocks(m_clock.now().toMSecsSinceEpoch());
    const qint64 now = m_clock.steadyMs();
    const qint64 limitMs = qint64(m_limits.silenceSeconds) * 1000;
    std::vector<ConnId> silent;
    for (const auto& [id, c] : m_conns) {
        if (now - c.lastHeardMs >= limitMs) {
            silent.push_back(id);
        }
    }
    for (const ConnId id : silent) {
        dropConnection(id, QStringLiteral("silent for %1 s").arg(m_limits.silenceSeconds), DropReason::Silent);
    }
}

// ---- TCP records ------------------------------------------------------------------------

void RelayCore::tcpRecord(Conn& c, const QByteArray& bytes) {
    const ServerRecord r = ServerRecord::fromBytes(bytes);
    if (!acceptedFromClient(r, Transport::Tcp)) {
        ++m_stats.badRecords;
        return;
    }
    const bool loggedOn = c.session != 0;
    if (r.type() == RecordType::LogonRequest) {
        if (loggedOn || c.hashCheck != 0) {
            ++m_stats.badRecords; // one logon per connection
            return;
        }
        c.lastHeardMs = m_clock.steadyMs();
        logon(c, decode<LogonRequest>(r));
        return;
    }
    if (!loggedOn) {
        ++m_stats.badRecords; // traffic before the logon
        return;
    }
    c.lastHeardMs = m_clock.steadyMs();
    relay(c, r);
}

void RelayCore::releaseLogonBlocks(qint64 nowMs) {
    for (const LogonGuard::Release& r : m_guard.releaseDue(nowMs)) {
        logLine(QStringLiteral("logons from %1 allowed again; %2 refused while blocked")
                    .arg(LogonGuard::describe(r.source))
                    .arg(r.refused));
    }
}

void RelayCore::logon(Conn& c, const LogonRequest& request) {
    const qint64 nowMs = m_clock.now().toMSecsSinceEpoch();
    releaseLogonBlocks(nowMs);
    // A blocked address learns nothing: not even a right password is checked, and the answer
    // is the same LogonRejected as for a wrong one, so the client stops waiting as usual.
    if (m_guard.refuse(c.address, nowMs)) {
        ++m_stats.blockedLogons;
        reject(c, {}, true);
        return;
    }
    const qint32 pilotId = request.pilotId;
    if (m_accounts.isOpen()) {
        accept(c, request, {});
        return;
    }
    const Account* account = m_accounts.find(pilotId);
    if (!account || (account->passwordHash.isEmpty() && account->password != request.password)) {
        wrongCredentials(c, pilotId);
        return;
    }
    if (account->passwordHash.isEmpty()) {
        accept(c, request, account->handle);
        return;
    }
    // A hash costs tens of milliseconds: checked away from the relay, a bounded number at once.
    if (m_hashChecks >= kMaxHashChecks) {
        reject(c, QStringLiteral("pilot %1: server busy (%2 logons being checked)").arg(pilotId).arg(m_hashChecks));
        return;
    }
    const quint64 check = m_nextHashCheck++;
    c.hashCheck = check;
    ++m_hashChecks;
    if (!m_hashCheck) {
        hashChecked(c.id, check, request, Accounts::verifyHash(account->passwordHash, request.password));
        return;
    }
    m_hashCheck(account->passwordHash, request.password,
                [this, conn = c.id, check, request](bool right) { hashChecked(conn, check, request, right); });
}

void RelayCore::hashChecked(ConnId conn, quint64 check, const LogonRequest& request, bool right) {
    --m_hashChecks;
    Conn* c = find(conn);
    if (!c || c->hashCheck != check) {
        return; // the connection went while its logon was checked
    }
    c->hashCheck = 0;
    // The accounts do not change while the server runs: the account is still there.
    const Account* account = m_accounts.find(request.pilotId);
    if (!right || !account) {
        wrongCredentials(*c, request.pilotId);
        return;
    }
    accept(*c, request, account->handle);
}

void RelayCore::wrongCredentials(Conn& c, qint32 pilotId) {
    const qint64 nowMs = m_clock.now().toMSecsSinceEpoch();
    const QHostAddress from = c.address; // the rejection may drop the connection
    reject(c, QStringLiteral("pilot %1: wrong pilot ID or password").arg(pilotId));
    if (const int seconds = m_guard.failed(from, nowMs)) {
        ++m_stats.logonBlocks;
        logLine(QStringLiteral("logons from %1 blocked for %2 s: %3 rejected within %4 s")
                    .arg(LogonGuard::describe(LogonGuard::sourceOf(from)))
                    .arg(seconds)
                    .arg(m_limits.logonGuard.maxFailures)
                    .arg(m_limits.logonGuard.windowSeconds));
    }
}

void RelayCore::accept(Conn& c, const LogonRequest& request, const QString& accountHandle) {
    const qint32 pilotId = request.pilotId;
    // The same pilot logging on again: his old link is stale (a client whose connection broke
    // without our noticing); the new logon proved the password, so it wins.
    if (const auto old = m_byPilotId.constFind(pilotId); old != m_byPilotId.cend() && *old != c.id) {
        dropConnection(*old, QStringLiteral("pilot %1 logged on again from %2").arg(pilotId).arg(c.address.toString()),
                       DropReason::LoggedOnAgain);
    }
    if (pilotCount() >= m_limits.maxPilots) {
        reject(c, QStringLiteral("pilot %1: server full (%2 pilots)").arg(pilotId).arg(m_limits.maxPilots));
        return;
    }
    QString handle = accountHandle;
    if (handle.isEmpty()) {
        handle = request.handle.trimmed();
    }
    if (handle.isEmpty()) {
        handle = QString::number(pilotId);
    }
    // Session numbers are never 0 (a client's "logged off") and not reused while in use.
    while (m_nextSession <= 0 || m_sessions.contains(m_nextSession)) {
        m_nextSession =
            m_nextSession == std::numeric_limits<qint32>::max() || m_nextSession <= 0 ? 1 : m_nextSession + 1;
    }
    c.session = m_nextSession++;
    c.pilotId = pilotId;
    c.handle = handle;
    ++m_stats.logons;
    logLine(QStringLiteral("logon: %1").arg(describe(c)));

    // The newcomer learns who is already here, each with his aircraft; then everybody learns him.
    sendTcp(c, toClient::logonAccepted(c.session, m_limits.greeting));
    const ServerRecord joined = toClient::playerJoined(c.session, c.handle);
    for (const auto& [session, otherId] : m_sessions) {
        const Conn& other = m_conns.at(otherId);
        sendTcp(c, toClient::playerJoined(other.session, other.handle));
        if (other.aircraft) {
            sendTcp(c, *other.aircraft);
        }
        sendTcp(other, joined);
    }
    m_sessions.emplace(c.session, c.id);
    m_byPilotId.insert(pilotId, c.id);
    if (m_range) {
        m_range->place(c.id, std::nullopt, std::nullopt); // hears everybody until his first position
    }
}

void RelayCore::reject(Conn& c, const QString& why, bool quiet) {
    if (!quiet) {
        ++m_stats.rejectedLogons;
    }
    ++c.rejectedLogons;
    // The client reads the rejection only over UDP. Its port is not known from a logon over TCP:
    // the last one its address sent from, else the client's usual port.
    const UdpEndpoint to{c.address, m_lastPortOf.value(c.address, m_limits.defaultClientUdpPort)};
    if (!quiet) {
        logLine(QStringLiteral("logon rejected: %1 from %2, answered on UDP port %3")
                    .arg(why, c.address.toString())
                    .arg(to.port));
    }
    sendUdp(to, toClient::logonRejected());
    // The connection stays open, as the client expects, for another try; not for ever.
    if (c.rejectedLogons < m_limits.maxLogonAttempts) {
        return;
    }
    if (!quiet) {
        dropConnection(c.id, QStringLiteral("%1 rejected logons").arg(c.rejectedLogons), DropReason::RejectedLogons);
        return;
    }
    // A blocked address opening connection after connection must not fill the log either.
    const ConnId id = c.id;
    ++m_stats.droppedPeers;
    ++m_stats.droppedBy[static_cast<std::size_t>(DropReason::RejectedLogons)];
    forget(id, {});
    m_transport.closeStream(id);
}

// ---- UDP --------------------------------------------------------------------------------

void RelayCore::datagram(QByteArrayView bytes, const QHostAddress& from, quint16 port) {
    if (bytes.size() != kRecordBytes) {
        ++m_stats.badSizeDatagrams;
        return;
    }
    const UdpEndpoint source{plainAddress(from), port};
    if (m_lastPortOf.size() >= kMaxRememberedPorts && !m_lastPortOf.contains(source.address)) {
        m_lastPortOf.clear();
    }
    m_lastPortOf.insert(source.address, port);

    const ServerRecord r = ServerRecord::fromBytes(bytes.toByteArray());
    if (!acceptedFromClient(r, Transport::Udp)) {
        ++m_stats.badRecords;
        return;
    }
    // A known endpoint speaks for its own pilot, whatever session number it writes. An unknown
    // one is learned only for a pilot with no endpoint yet, from the address of his connection:
    // nobody elsewhere can take over a session by quoting its number.
    Conn* c = nullptr;
    if (const auto known = m_byEndpoint.constFind(source); known != m_byEndpoint.cend()) {
        c = bySession(*known);
    } else {
        c = bySession(r.SenderSession);
        if (!c) {
            ++m_stats.unknownSenders;
            return;
        }
        if (c->udp || c->address != source.address) {
            ++m_stats.wrongSourceDatagrams;
            return;
        }
        c->udp = source;
        m_byEndpoint.insert(source, c->session);
        // The acceptance again, now that the client can hear us on UDP too; a client that has
        // already taken it from TCP ignores this one.
        sendUdp(source, toClient::logonAccepted(c->session, m_limits.greeting));
    }
    if (!c) {
        ++m_stats.unknownSenders;
        return;
    }
    c->lastHeardMs = m_clock.steadyMs();
    relay(*c, r);
}

// ---- Relay ------------------------------------------------------------------------------

void RelayCore::relay(Conn& from, const ServerRecord& r) {
    // Category, type and transport have been checked; every record is rebuilt with the sender's
    // own session number, so nobody can speak for someone else.
    switch (r.type()) {
    case RecordType::HeartBeat:
        ++m_stats.heartBeats;
        if (from.udp) { // always: heartbeats come only over UDP
            sendUdp(*from.udp, toClient::heartBeatAck());
        }
        break;
    case RecordType::PositionUpdate:
        ++m_stats.positions;
        from.lastPosition = decode<PositionUpdate>(r).block;
        from.lastPositionMs = from.lastHeardMs;
        relayPosition(from, toClient::positionUpdate(from.session, from.lastPosition));
        break;
    case RecordType::QueryPlane:
        ++m_stats.queries;
        toOthers(from, toClient::queryPlane(from.session), Transport::Udp);
        break;
    case RecordType::PlayerCrashed:
        ++m_stats.crashes;
        toOthers(from, toClient::playerCrashed(from.session, kCrashText), Transport::Udp);
        break;
    case RecordType::AircraftDetails:
        ++m_stats.aircraft;
        storeAndRelayAircraft(from, decode<AircraftDetails>(r));
        break;
    case RecordType::ChatChunk:
        ++m_stats.chatChunks;
        toOthers(from, toClient::chatChunk(from.session, decode<ChatChunk>(r).piece), Transport::Tcp);
        break;
    case RecordType::LogonRequest: // handled before the relay
    case RecordType::LogonAccepted:
    case RecordType::LogonRejected:
    case RecordType::PlayerJoined:
    case RecordType::PlayerLeft:
        ++m_stats.badRecords;
        break;
    }
}

void RelayCore::storeAndRelayAircraft(Conn& from, const AircraftDetails& details) {
    from.aircraft = toClient::aircraftDetails(from.session, details.engineType, cleanTitle(details.title));
    toOthers(from, *from.aircraft, Transport::Tcp);
}

void RelayCore::toOthers(const Conn& from, const ServerRecord& r, Transport t) {
    if (t == Transport::Tcp) {
        const QByteArray bytes = r.toBytes();
        for (const auto& [session, id] : m_sessions) {
            if (session != from.session) {
                ++m_stats.tcpRecordsSent;
                m_transport.sendStream(id, bytes);
            }
        }
        return;
    }
    const QByteArray bytes = r.toBytes();
    for (const auto& [session, id] : m_sessions) {
        if (session == from.session) {
            continue;
        }
        // A pilot whose client has not yet sent a datagram has no known UDP port: he gets
        // nothing on UDP until it does (within half a second of the logon for our client).
        const Conn& to = m_conns.at(id);
        if (to.udp) {
            ++m_stats.udpRecordsSent;
            m_transport.sendDatagram(bytes, *to.udp);
        }
    }
}

void RelayCore::relayPosition(Conn& from, const ServerRecord& r) {
    if (!m_range) {
        toOthers(from, r, Transport::Udp);
        return;
    }
    // A block that holds no position an aircraft can have puts him among those without one.
    const std::optional<AircraftPosition> p = decodePosition(from.lastPosition);
    m_range->place(from.id, p ? std::optional(p->latitudeDeg) : std::nullopt,
                   p ? std::optional(p->longitudeDeg) : std::nullopt);
    const QByteArray bytes = r.toBytes();
    m_range->forEachRecipient(from.id, [&](ConnId id) {
        const auto it = m_conns.find(id);
        if (it != m_conns.end() && it->second.udp) {
            ++m_stats.udpRecordsSent;
            m_transport.sendDatagram(bytes, *it->second.udp);
        }
    });
}

void RelayCore::sendTcp(const Conn& to, const ServerRecord& r) {
    ++m_stats.tcpRecordsSent;
    m_transport.sendStream(to.id, r.toBytes());
}

void RelayCore::sendUdp(const UdpEndpoint& to, const ServerRecord& r) {
    ++m_stats.udpRecordsSent;
    m_transport.sendDatagram(r.toBytes(), to);
}

std::vector<PilotView> RelayCore::pilots() const {
    std::vector<PilotView> out;
    out.reserve(m_sessions.size());
    for (const auto& [session, id] : m_sessions) {
        const Conn& c = m_conns.at(id);
        PilotView v{c.pilotId, session, c.handle, std::nullopt, 0, c.lastPosition, c.lastPositionMs};
        if (c.aircraft) {
            const auto d = decode<AircraftDetails>(*c.aircraft);
            v.title = d.title;
            v.engine = d.engineType;
        }
        out.push_back(std::move(v));
    }
    return out;
}

QString RelayCore::summary() const {
    QString pilotLines;
    for (const auto& [session, id] : m_sessions) {
        const Conn& c = m_conns.at(id);
        // One pass over the pattern: a handle holding "%3" stays as it is.
        pilotLines +=
            QStringLiteral("\npilot %1 \"%2\" session %3: %4")
                .arg(QString::number(c.pilotId), c.handle, QString::number(session), positionText(c.lastPosition));
    }
    const RelayStats& s = m_stats;
    return QStringLiteral("summary: %1 pilots online; logons %2, rejected %3, logoffs %4, dropped %5, refused "
                          "connections %6, blocked logons %19 (%20 blocks, %21 addresses blocked now); relayed in: "
                          "heartbeats %7, positions %8, queries %9, crashes %10, aircraft %11, chat chunks %12; "
                          "records out: UDP %13, TCP %14; thrown away: wrong size %15, bad records %16, unknown "
                          "senders %17, wrong source %18%22")
        .arg(pilotCount())
        .arg(s.logons)
        .arg(s.rejectedLogons)
        .arg(s.logoffs)
        .arg(s.droppedPeers)
        .arg(s.refusedConnections)
        .arg(s.heartBeats)
        .arg(s.positions)
        .arg(s.queries)
        .arg(s.crashes)
        .arg(s.aircraft)
        .arg(s.chatChunks)
        .arg(s.udpRecordsSent)
        .arg(s.tcpRecordsSent)
        .arg(s.badSizeDatagrams)
        .arg(s.badRecords)
        .arg(s.unknownSenders)
        .arg(s.wrongSourceDatagrams)
        .arg(s.blockedLogons)
        .arg(s.logonBlocks)
        .arg(m_guard.blockedCount())
        .arg(pilotLines); // last: the handles in it meet no further placeholder
}

} // namespace relayserver
} // namespace airmesh
