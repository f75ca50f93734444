#include "nativesession.h"

#include <QSet>

#include <algorithm>
#include <chrono>
#include <vector>

namespace airmesh::dplay {

namespace {
constexpr quint32 kRequestSystemPlayer = playerflag::SysPlayer | playerflag::Local; // 0x9
constexpr quint32 kRequestPlayer = playerflag::Local;                               // 0x8
constexpr quint32 kDpPlayerTypePlayer = 1;
constexpr quint32 kDpPlayerTypeGroup = 0;
constexpr quint32 kEnumPasswordRequired = 0x40;
constexpr const char* kNeedsReliableProtocol = "it needs DirectPlay's own reliable protocol";
constexpr const char* kNeedsSecureLogon = "it needs a secure logon";

// Why a session of these flags cannot be used by this client; nullptr when it can.
const char* unusableKind(quint32 flags) {
    if ((flags & sessionflag::DirectPlayProtocol) != 0) {
        return kNeedsReliableProtocol;
    }
    if ((flags & sessionflag::SecureServer) != 0) {
        return kNeedsSecureLogon;
    }
    if ((flags & sessionflag::NoMessageId) != 0) {
        return "its messages carry no player ids";
    }
    if ((flags & sessionflag::MulticastServer) != 0) {
        return "its messages go through a multicast server";
    }
    if ((flags & sessionflag::ClientServer) != 0) {
        return "it is a client/server session";
    }
    return nullptr;
}

Node::Config nodeConfig(const NativeOptions& o) {
    Node::Config c;
    c.log = o.log;
    c.clock = o.clock;
    return c;
}

// "host", "host:port", "" (the local network).
bool splitAddress(const QString& text, QString& host, quint16& port) {
    host = text.trimmed();
    port = kEnumPort;
    const int colon = static_cast<int>(host.lastIndexOf(QLatin1Char(':')));
    if (colon >= 0) {
        bool ok = false;
        const uint p = host.mid(colon + 1).toUInt(&ok);
        if (!ok || p == 0 || p > 65535) {
            return false;
        }
        port = static_cast<quint16>(p);
        host.truncate(colon);
    }
    return true;
}
} // namespace

NativeSession::NativeSession(NativeOptions options)
    : Node(nodeConfig(options)), m_options(std::move(options)), m_fragments(m_options.log),
      m_queue(m_options.maxQueuedMessages, m_options.maxQueuedBytes) {}

NativeSession::~NativeSession() {
    try {
        Close();
    } catch (...) {
    }
    stop();
}

bool NativeSession::waitFor(NodeClock::Lock& lock, int ms, const std::function<bool()>& done) {
    return waitUntil(lock, nowMs() + ms, done);
}

quint32 NativeSession::systemPlayerId() const {
    std::lock_guard lock(m_mutex);
    return m_sysPlayer;
}

bool NativeSession::isOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool NativeSession::sessionLost() const {
    std::lock_guard lock(m_mutex);
    return m_lost;
}

qint64 NativeSession::droppedMessages() const {
    std::lock_guard lock(m_mutex);
    return m_queue.dropped();
}

// ---- Provider ----

ConnectionList NativeSession::GetDPEnumConnections(const QString&, int) {
    return ConnectionList({Connection{QString::fromLatin1(kProviderName), QByteArray(kProviderGuid)}});
}

void NativeSession::InitializeConnection(const QByteArray& address) {
    if (address != QByteArray(kProviderGuid)) {
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "not a provider of this session");
    }
    if (m_initialized) {
        throw dp::DpError(dp::DPERR_ALREADYINITIALIZED, "provider already chosen");
    }
    m_initialized = true;
}

// ---- Search ----

SessionList NativeSession::GetDPEnumSessions(const SessionData& search, int timeoutMs, int flags) {
    if (!m_initialized) {
        throw dp::DpError(dp::DPERR_UNINITIALIZED, "no provider chosen");
    }
    const auto app =
        search.GetGuidApplication().isEmpty() ? std::optional<Guid>(kNullGuid) : parseGuid(search.GetGuidApplication());
    if (!app) {
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "malformed application identifier");
    }
    if (!m_address) {
        chooseAddress();
    }
    QString error;
    if (!start(error)) {
        log(QStringLiteral("session search: %1").arg(error));
        throw dp::DpError(dp::DPERR_UNAVAILABLE, "cannot open the provider's sockets");
    }
    std::unique_lock lock(m_mutex);
    m_searchApp = *app;
    m_found.clear();
    m_foundOrder.clear();
    // Password-protected sessions are listed too, so that joining one with the wrong password
    // says so instead of finding nothing.
    const quint32 enumFlags = static_cast<quint32>(flags) | kEnumPasswordRequired;
    const QByteArray request =
        systemMessage(tcpPort(), Command::EnumSessions, enumSessionsBody(*app, search.GetSessionPassword(), enumFlags));
    searchFor(lock, request, timeoutMs > 0 ? timeoutMs : m_options.enumWindowMs);
    return foundSessions();
}

void NativeSession::chooseAddress() {
    const std::optional<QString> typed =
        m_options.prompt ? m_options.prompt(m_options.suggestedAddress) : std::optional(m_options.suggestedAddress);
    if (!typed) {
        throw dp::DpError(dp::DPERR_USERCANCEL, "address prompt cancelled");
    }
    QString host;
    quint16 port = kEnumPort;
    if (!splitAddress(*typed, host, port)) {
        log(QStringLiteral("session search: \"%1\" is not an address").arg(*typed));
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "malformed address");
    }
    m_broadcast = host.isEmpty();
    if (m_broadcast) {
        m_targetIp = 0xFFFFFFFFu;
    } else if (!net::resolveIPv4(host, m_targetIp)) {
        log(QStringLiteral("session search: cannot resolve \"%1\"").arg(host));
        throw dp::DpError(dp::DPERR_UNAVAILABLE, "address not found");
    }
    m_targetPort = port;
    m_address = *typed;
}

void NativeSession::searchFor(NodeClock::Lock& lock, const QByteArray& request, qint64 window) {
    const qint64 start = nowMs();
    qint64 nextSend = start;
    // A host asked at its address that stays silent may hear only broadcasts, as DirectPlay's
    // own provider sends them: after the first second the search also goes to the local network
    // and, for an address on this machine, to the loopback network.
    std::vector<quint32> fallback;
    if (!m_broadcast) {
        fallback.push_back(0xFFFFFFFFu);
        if ((m_targetIp >> 24) == 127) {
            fallback.push_back(0x7FFFFFFFu);
        }
    }
    const qint64 fallbackFrom = start + m_options.enumBroadcastAfterMs;
    bool broadcasting = false;
    QSet<quint32> unsendable; // each address that refuses a datagram is logged once per search
    for (;;) {
        const qint64 now = nowMs();
        if (now >= start + window) {
            return;
        }
        // A host asked directly answers every session it has at once.
        if (!m_broadcast && !m_found.empty() && now >= m_lastAnswerMs + m_options.enumSettleMs) {
            return;
        }
        if (!broadcasting && !fallback.empty() && m_found.empty() && now >= fallbackFrom) {
            broadcasting = true;
            nextSend = now;
            log(QStringLiteral("session search: no answer from %1:%2 in %3 ms, searching by broadcast too")
                    .arg(net::ipText(m_targetIp))
                    .arg(m_targetPort)
                    .arg(m_options.enumBroadcastAfterMs));
        }
        if (now >= nextSend) {
            sendSearch(m_targetIp, request, unsendable);
            for (const quint32 ip : broadcasting ? fallback : std::vector<quint32>()) {
                sendSearch(ip, request, unsendable);
            }
            nextSend = now + m_options.enumResendMs;
        }
        qint64 until = std::min(start + window, nextSend);
        if (!broadcasting && !fallback.empty()) {
            until = std::min(until, std::max(fallbackFrom, now + 1));
        }
        if (!m_broadcast && !m_found.empty()) {
            until = std::min(until, m_lastAnswerMs + m_options.enumSettleMs);
        }
        const quint64 answers = m_answers;
        waitUntil(lock, std::max(until, now + 1), [this, answers] { return m_answers != answers; });
    }
}

void NativeSession::sendSearch(quint32 ip, const QByteArray& request, QSet<quint32>& unsendable) {
    if (!sendDatagram(ip, m_targetPort, request) && !unsendable.contains(ip)) {
        unsendable.insert(ip);
        log(QStringLiteral("session search: cannot send to %1:%2: %3")
                .arg(net::ipText(ip))
                .arg(m_targetPort)
                .arg(net::lastErrorText()));
    }
}

SessionList NativeSession::foundSessions() {
    QList<SessionData> out;
    for (const Guid& g : m_foundOrder) {
        const Found& f = m_found[g];
        SessionData d;
        d.SetGuidApplication(guidText(f.desc.application));
        d.SetSessionName(f.name);
        d.setInstance(QByteArray(reinterpret_cast<const char*>(g.data()), 16));
        out.append(d);
    }
    if (!out.isEmpty() && m_options.rememberAddress) {
        m_options.rememberAddress(*m_address);
    }
    return SessionList(out);
}

// ---- Join ----

PlayerRecord NativeSession::ownAddressRecord() const {
    PlayerRecord p;
    p.hasSpData = true;
    p.stream = {tcpPort(), 0};
    p.datagram = {udpPort(), 0};
    p.version = m_version;
    return p;
}

void NativeSession::sendToHost(Command c, const QByteArray& body) {
    if (m_hostConn < 0 || !sendOn(m_hostConn, systemMessage(tcpPort(), c, body, m_version))) {
        throw dp::DpError(m_open ? dp::DPERR_CONNECTIONLOST : dp::DPERR_NOCONNECTION, "the host cannot be reached");
    }
}

void NativeSession::sendToEveryMachine(Command c, const QByteArray& body) {
    const QByteArray bytes = systemMessage(tcpPort(), c, body, m_version);
    for (const auto& [id, p] : m_players) {
        if (!(p.flags & playerflag::SysPlayer)) {
            continue;
        }
        const int conn = id == m_hostSysPlayer ? m_hostConn : connectionTo(p.stream.ip, p.stream.port);
        if (conn < 0 || !sendOn(conn, bytes)) {
            if (id == m_hostSysPlayer) {
                throw dp::DpError(dp::DPERR_CONNECTIONLOST, "the host cannot be reached");
            }
            log(QStringLiteral("%1 not delivered to machine %2").arg(commandName(c)).arg(id, 8, 16, QLatin1Char('0')));
        }
    }
}

quint32 NativeSession::requestPlayerId(quint32 flags) {
    std::lock_guard serial(m_requestMutex);
    std::unique_lock lock(m_mutex);
    m_idReply.reset();
    m_idWaiting = true;
    try {
        sendToHost(Command::RequestPlayerId, requestPlayerIdBody(flags));
    } catch (...) {
        m_idWaiting = false;
        throw;
    }
    const bool answered = waitFor(lock, m_options.playerIdTimeoutMs,
                                  [this] { return m_idReply.has_value() || m_lost || (m_hostConn < 0 && m_open); });
    m_idWaiting = false;
    if (!answered || !m_idReply) {
        if (m_lost) {
            throw dp::DpError(dp::DPERR_SESSIONLOST, "session lost");
        }
        log(QStringLiteral("no answer to REQUESTPLAYERID in %1 ms").arg(m_options.playerIdTimeoutMs));
        throw dp::DpError(dp::DPERR_TIMEOUT, "no player id from the host");
    }
    if (m_idReply->result != 0) {
        throw dp::DpError(static_cast<qint32>(m_idReply->result), "the host refused a player");
    }
    if (m_idReply->secure) {
        log(QStringLiteral("the session wants a secure logon, which is not supported"));
        throw dp::DpError(dp::DPERR_CANTLOADSSPI, kNeedsSecureLogon);
    }
    return m_idReply->id;
}

NativeSession::Found NativeSession::sessionToJoin(const SessionData& session) const {
    const QByteArray wanted = session.instance();
    if (wanted.size() != 16) {
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "not a session that a search found");
    }
    Guid instance{};
    std::memcpy(instance.data(), wanted.constData(), 16);
    const auto it = m_found.find(instance);
    if (it == m_found.end()) {
        throw dp::DpError(dp::DPERR_NOSESSIONS, "that session did not answer the search");
    }
    const Found& f = it->second;
    // A session of a kind this client cannot use is refused; the error's text says why, in
    // words the join passes on to the user's log.
    if (const char* why = unusableKind(f.desc.flags)) {
        log(QStringLiteral("session \"%1\" (flags %2) not joined: %3").arg(f.name).arg(f.desc.flags, 0, 16).arg(why));
        throw dp::DpError(why == kNeedsSecureLogon ? dp::DPERR_CANTLOADSSPI : dp::DPERR_UNSUPPORTED, why);
    }
    if (f.desc.flags & sessionflag::JoinDisabled) {
        throw dp::DpError(dp::DPERR_NONEWPLAYERS, "the session takes no new players");
    }
    return f;
}

void NativeSession::Open(const SessionData& session, int) {
    std::unique_lock lock(m_mutex);
    if (m_open || m_joining) {
        throw dp::DpError(dp::DPERR_ALREADYINITIALIZED, "already in a session");
    }
    const Found f = sessionToJoin(session);
    const qint64 started = nowMs();
    m_session = f;
    m_version = std::clamp<quint16>(f.hostVersion, 9, kDialect);
    m_joining = true;
    m_hostConn = connectionTo(f.hostIp, f.hostPort);
    const auto fail = [this](qint32 code, const char* what) {
        if (m_hostConn >= 0) {
            closeConnection(m_hostConn);
        }
        m_hostConn = -1;
        m_joining = false;
        m_players.clear();
        m_groups.clear();
        m_groupOrder.clear();
        throw dp::DpError(code, what);
    };
    if (m_hostConn < 0) {
        fail(dp::DPERR_UNAVAILABLE, "cannot connect to the host");
    }
    if (!waitFor(lock, m_options.connectTimeoutMs, [this] { return connState(m_hostConn) != ConnState::Connecting; }) ||
        connState(m_hostConn) != ConnState::Open) {
        log(QStringLiteral("cannot connect to the session host at %1:%2").arg(net::ipText(f.hostIp)).arg(f.hostPort));
        fail(dp::DPERR_UNAVAILABLE, "host refused the connection");
    }
    lock.unlock();
    try {
        m_sysPlayer = requestPlayerId(kRequestSystemPlayer);
    } catch (const dp::DpError& e) {
        lock.lock();
        fail(e.code(), e.what());
    }
    lock.lock();
    m_table.reset();
    m_joinError.reset();
    PlayerRecord me = ownAddressRecord();
    me.flags = kRequestSystemPlayer;
    me.id = m_sysPlayer;
    me.systemPlayer = m_sysPlayer;
    try {
        sendToHost(Command::AddForwardRequest,
                   addForwardRequestBody(me, session.GetSessionPassword(), f.desc.reserved1));
    } catch (const dp::DpError& e) {
        fail(e.code(), "host gone");
    }
    if (!waitFor(lock, m_options.nameTableTimeoutMs, [this] { return m_table || m_joinError || m_hostConn < 0; })) {
        log(QStringLiteral("no name table from the host in %1 ms").arg(m_options.nameTableTimeoutMs));
        fail(dp::DPERR_TIMEOUT, "no name table");
    }
    if (m_joinError) {
        fail(static_cast<qint32>(*m_joinError), "the host refused the join");
    }
    if (!m_table) {
        fail(dp::DPERR_CONNECTIONLOST, "the host closed the connection");
    }
    adoptNameTable(f.hostIp);
    m_joining = false;
    m_open = true;
    m_lost = false;
    m_lastHeardMs = nowMs();
    m_missedPings = 0;
    log(QStringLiteral("joined session \"%1\" (%2 players, %3 groups) in %4 ms")
            .arg(f.name)
            .arg(m_players.size())
            .arg(m_groups.size())
            .arg(nowMs() - started));
}

void NativeSession::adoptNameTable(quint32 hostIp) {
    m_session.desc = m_table->desc;
    for (const PlayerRecord& p : m_table->players) {
        if (p.id != m_sysPlayer) {
            addRecord(p, hostIp);
        }
        if ((p.flags & playerflag::SysPlayer) && (p.flags & playerflag::NameServer)) {
            m_hostSysPlayer = p.id;
        }
    }
    for (const PlayerRecord& g : m_table->groups) {
        addRecord(g, hostIp);
    }
    m_table.reset();
}

void NativeSession::Close() {
    std::unique_lock lock(m_mutex);
    if (m_open && !m_lost) {
        for (const quint32 id : m_local) {
            try {
                sendToEveryMachine(Command::DeletePlayer, playerIdsBody(0, id, 0));
            } catch (const dp::DpError&) {
                break;
            }
        }
    }
    const bool wasRunning = m_open || m_initialized;
    m_open = false;
    m_joining = false;
    m_local.clear();
    m_players.clear();
    m_groups.clear();
    m_groupOrder.clear();
    m_queue.clear();
    m_fragments.clear();
    m_hostConn = -1;
    m_sysPlayer = 0;
    lock.unlock();
    if (wasRunning) {
        stop();
    }
}

void NativeSession::requireOpen() const {
    if (!m_open) {
        throw dp::DpError(dp::DPERR_INVALIDOBJECT, "no session is open");
    }
}

SessionData NativeSession::GetSessionDesc() {
    std::lock_guard lock(m_mutex);
    requireOpen();
    SessionData d;
    d.SetGuidApplication(guidText(m_session.desc.application));
    d.SetSessionName(m_session.name);
    d.setInstance(QByteArray(reinterpret_cast<const char*>(m_session.desc.instance.data()), 16));
    d.SetMaxPlayers(static_cast<int>(std::min<quint32>(m_session.desc.maxPlayers, 1U << 30)));
    // Counted from the name table as it stands, not taken from the description the host sent at
    // the join: players have come and gone since.
    d.setCurrentPlayers(static_cast<int>(std::count_if(m_players.begin(), m_players.end(), [](const auto& p) {
        return (p.second.flags & playerflag::SysPlayer) == 0;
    })));
    return d;
}

// ---- Players and groups ----

qint32 NativeSession::CreatePlayer(const QString& friendlyName, const QString& formalName, qint64, int flags) {
    {
        std::lock_guard lock(m_mutex);
        requireOpen();
        if (m_lost) {
            throw dp::DpError(dp::DPERR_SESSIONLOST, "session lost");
        }
    }
    const quint32 id = requestPlayerId(kRequestPlayer | (static_cast<quint32>(flags) & 0x200));
    std::lock_guard lock(m_mutex);
    PlayerRecord p = ownAddressRecord();
    p.flags = kRequestPlayer | (static_cast<quint32>(flags) & 0x200);
    p.id = id;
    p.systemPlayer = m_sysPlayer;
    p.shortName = friendlyName.isEmpty() ? QString() : friendlyName;
    p.longName = formalName.isEmpty() ? QString() : formalName;
    sendToEveryMachine(Command::CreatePlayer, createPlayerBody(p, true));
    m_players[id] = p;
    m_local.insert(id);
    return static_cast<qint32>(id);
}

void NativeSession::DestroyPlayer(qint32 player) {
    std::lock_guard lock(m_mutex);
    requireOpen();
    const auto id = static_cast<quint32>(player);
    if (!m_local.contains(id)) {
        throw dp::DpError(dp::DPERR_INVALIDPLAYER, "not one of our players");
    }
    m_local.erase(id);
    removePlayer(id);
    if (!m_lost) {
        sendToEveryMachine(Command::DeletePlayer, playerIdsBody(0, id, 0));
    }
}

GroupList NativeSession::GetDPEnumGroups(const QString&, int) {
    std::lock_guard lock(m_mutex);
    requireOpen();
    QList<GroupInfo> out;
    for (const quint32 id : m_groupOrder) {
        out.append({static_cast<qint32>(id), m_groups[id].shortName});
    }
    return GroupList(out);
}

void NativeSession::AddPlayerToGroup(qint32 group, qint32 player) {
    std::lock_guard lock(m_mutex);
    requireOpen();
    const auto g = m_groups.find(static_cast<quint32>(group));
    if (g == m_groups.end()) {
        throw dp::DpError(dp::DPERR_INVALIDGROUP, "no such group");
    }
    if (!m_players.contains(static_cast<quint32>(player))) {
        throw dp::DpError(dp::DPERR_INVALIDPLAYER, "no such player");
    }
    if (m_lost) {
        throw dp::DpError(dp::DPERR_SESSIONLOST, "session lost");
    }
    if (!g->second.members.contains(static_cast<quint32>(player))) {
        g->second.members.append(static_cast<quint32>(player));
    }
    sendToEveryMachine(Command::AddPlayerToGroup,
                       playerIdsBody(0, static_cast<quint32>(player), static_cast<quint32>(group)));
}

QString NativeSession::GetPlayerFriendlyName(qint32 player) {
    std::lock_guard lock(m_mutex);
    requireOpen();
    const auto it = m_players.find(static_cast<quint32>(player));
    if (it == m_players.end()) {
        throw dp::DpError(dp::DPERR_INVALIDPLAYER, "no such player");
    }
    return it->second.shortName;
}

// ---- Messages ----

void NativeSession::Send(qint32 from, qint32 to, int flags, const SimMessage& message) {
    const auto src = static_cast<quint32>(from);
    const auto dst = static_cast<quint32>(to);
    if (message.size() > kMaxDatagramBytes - 8) {
        throw dp::DpError(dp::DPERR_SENDTOOBIG, "message too big");
    }
    struct Target {
        quint32 ip;
        quint16 port;
    };
    Target targets[64];
    int count = 0;
    const bool guaranteed = (flags & 1) != 0;
    {
        std::lock_guard lock(m_mutex);
        requireOpen();
        if (!m_local.contains(src)) {
            throw dp::DpError(dp::DPERR_INVALIDPLAYER, "send from a player that is not ours");
        }
        if (m_lost) {
            throw dp::DpError(dp::DPERR_SESSIONLOST, "session lost");
        }
        std::set<quint32> machines;
        std::vector<quint32> localTo;
        const auto consider = [&](quint32 id) {
            if (id == src) {
                return;
            }
            if (m_local.contains(id)) {
                localTo.push_back(id);
                return;
            }
            const auto p = m_players.find(id);
            if (p != m_players.end() && (p->second.flags & playerflag::SysPlayer) == 0) {
                machines.insert(p->second.systemPlayer);
            }
        };
        if (dst == 0) {
            for (const auto& [id, p] : m_players) {
                consider(id);
            }
        } else if (m_players.contains(dst)) {
            consider(dst);
        } else if (const auto g = m_groups.find(dst); g != m_groups.end()) {
            for (const quint32 id : g->second.members) {
                consider(id);
            }
        } else {
            throw dp::DpError(dp::DPERR_INVALIDPLAYER, "send to an unknown player");
        }
        for (const quint32 id : localTo) {
            offerMessage(src, dst, id, message.bytes());
        }
        for (const quint32 machine : machines) {
            const auto p = m_players.find(machine);
            if (p == m_players.end() || !p->second.hasSpData) {
                continue;
            }
            if (guaranteed) {
                const int conn =
                    machine == m_hostSysPlayer ? m_hostConn : connectionTo(p->second.stream.ip, p->second.stream.port);
                if (conn < 0 || !sendOn(conn, playerMessageTcp(tcpPort(), src, dst, message.bytes()))) {
                    throw dp::DpError(dp::DPERR_CONNECTIONLOST, "guaranteed send failed");
                }
            } else if (count < 64) {
                targets[count++] = {p->second.datagram.ip, p->second.datagram.port};
            }
        }
    }
    if (count > 0) {
        const QByteArray datagram = playerMessageUdp(src, dst, message.bytes());
        for (int i = 0; i < count; ++i) {
            sendDatagram(targets[i].ip, targets[i].port, datagram);
        }
    }
}

int NativeSession::GetMessageQueue(qint32 from, qint32 to, int, int* bytes) {
    std::lock_guard lock(m_mutex);
    int n = 0;
    qint64 total = 0;
    for (const SessionQueue::Item& q : m_queue.items()) {
        if ((from == 0 || q.from == from) && (to == 0 || q.to == to)) {
            ++n;
            total += q.bytes.size();
        }
    }
    if (bytes) {
        *bytes = static_cast<int>(std::min<qint64>(total, INT_MAX));
    }
    return n;
}

SimMessage NativeSession::Receive(qint32& fromId, qint32& toId, int) {
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) {
        throw dp::DpError(dp::DPERR_NOMESSAGES, "no message waits");
    }
    SessionQueue::Item q = m_queue.pop();
    fromId = q.from;
    toId = q.to;
    return SimMessage(std::move(q.bytes));
}

void NativeSession::waitForMessage(int maxMs) {
    // Real time, not the session's clock: this is the caller's budget for one wait of its own
    // loop, whose periods run on its own clock.
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(std::max(0, maxMs)), [this] { return !m_queue.empty(); });
}

void NativeSession::setIntakeFilter(IntakeFilter filter) {
    std::lock_guard lock(m_mutex);
    m_filter = std::move(filter);
}

void NativeSession::setArrivalNotifier(std::function<void()> notify) {
    std::lock_guard lock(m_mutex);
    m_arrival = std::move(notify);
}

void NativeSession::offerMessage(quint32 from, quint32 addressedTo, quint32 recipient, const QByteArray& bytes) {
    Arrival a;
    a.from = static_cast<qint32>(from);
    a.addressedTo = static_cast<qint32>(addressedTo);
    a.recipient = static_cast<qint32>(recipient);
    a.number = ByteReader(bytes).i32(); // 0 for a message too short to carry one
    a.fromOurs = m_local.contains(from);
    const Intake intake = admit(m_filter, a);
    if (intake != Intake::Drop) {
        queueMessage(from, recipient, bytes, intake == Intake::QueueFirst);
    }
}

void NativeSession::queueMessage(quint32 from, quint32 to, const QByteArray& bytes, bool first) {
    if (!m_queue.push(static_cast<qint32>(from), static_cast<qint32>(to), bytes, first)) {
        if (m_queue.dropped() % 1000 == 1) {
            log(QStringLiteral("receive queue full: message dropped (%1 so far)").arg(m_queue.dropped()));
        }
        return;
    }
    m_changed.notify_all();
    if (m_arrival) {
        m_arrival();
    }
}

void NativeSession::queueSystem(dp::SysMsg type, std::initializer_list<quint32> fields) {
    QByteArray message;
    ByteWriter w(message);
    w.u32(static_cast<quint32>(type));
    for (const quint32 f : fields) {
        w.u32(f);
    }
    queueMessage(0, 0, message, true);
}

void NativeSession::markLost(const QString& why) {
    if (!m_open || m_lost) {
        return;
    }
    m_lost = true;
    log(QStringLiteral("session lost: %1").arg(why));
    queueSystem(dp::SysMsg::SessionLost, {});
}

// ---- Wire events (the node's thread, lock held) ----

void NativeSession::addRecord(PlayerRecord p, quint32 sourceIp) {
    if (p.hasSpData) {
        if (p.stream.ip == 0) {
            p.stream.ip = sourceIp;
        }
        if (p.datagram.ip == 0) {
            p.datagram.ip = sourceIp;
        }
    }
    if (p.isGroup) {
        if (!m_groups.contains(p.id)) {
            m_groupOrder.push_back(p.id);
        }
        m_groups[p.id] = p;
        return;
    }
    // An ordinary player without an address is reached through its machine.
    if (!(p.flags & playerflag::SysPlayer)) {
        const auto machine = m_players.find(p.systemPlayer);
        if (machine != m_players.end() && machine->second.hasSpData) {
            p.hasSpData = true;
            p.stream = machine->second.stream;
            p.datagram = machine->second.datagram;
        }
    }
    m_players[p.id] = p;
}

void NativeSession::removePlayer(quint32 id) {
    m_players.erase(id);
    for (auto& [gid, g] : m_groups) {
        g.members.removeAll(id);
    }
}

void NativeSession::handle(const WireMessage& m, const Origin& origin) {
    if (origin.enumSocket) {
        return;
    }
    if (m_open) {
        m_lastHeardMs = nowMs();
        m_missedPings = 0;
    }
    if (m.system) {
        handleSystem(m, origin);
    } else if (m_open && !m_lost) {
        handlePlayerMessage(m);
    }
}

void NativeSession::handlePlayerMessage(const WireMessage& m) {
    ByteReader r(m.body);
    const quint32 from = r.u32();
    const quint32 to = r.u32();
    if (!r.ok()) {
        return;
    }
    if (m_local.contains(from)) {
        return; // nobody else speaks for our players
    }
    const QByteArray payload = m.body.mid(8);
    if (to == 0) {
        for (const quint32 id : m_local) {
            offerMessage(from, to, id, payload);
        }
    } else if (m_local.contains(to)) {
        offerMessage(from, to, to, payload);
    } else if (const auto g = m_groups.find(to); g != m_groups.end()) {
        for (const quint32 id : g->second.members) {
            if (m_local.contains(id)) {
                offerMessage(from, to, id, payload);
            }
        }
    }
}

void NativeSession::handleFragment(const WireMessage& m, const Origin& origin) {
    const auto f = readPacket(m.body);
    if (!f) {
        log(QStringLiteral("malformed PACKET dropped"));
        return;
    }
    // The peer: the connection it came on, or the address and port of a datagram's sender.
    const quint64 peer =
        origin.tcp ? (quint64{1} << 63) | static_cast<quint32>(origin.conn) : (quint64{origin.ip} << 16) | origin.port;
    const auto whole = m_fragments.add(peer, *f, nowMs());
    if (!whole) {
        return;
    }
    const auto inner = parseReassembled(*whole, m.replyTo);
    if (!inner || (inner->system && inner->command == commandNumber(Command::Packet))) {
        log(QStringLiteral("malformed message put together from fragments dropped (%1 bytes)").arg(whole->size()));
        return;
    }
    handle(*inner, origin);
}

void NativeSession::handleSystem(const WireMessage& m, const Origin& origin) {
    const std::optional<Command> command = knownCommand(m.command);
    if (!command) {
        ignore(m.command);
        return;
    }
    switch (*command) {
    case Command::EnumSessionsReply:
        takeSearchAnswer(m, origin);
        break;
    case Command::RequestPlayerReply:
        takePlayerId(m);
        break;
    case Command::SuperEnumPlayersReply:
    case Command::EnumPlayersReply:
        takeNameTable(*command, m);
        break;
    case Command::AddForwardReply:
        takeJoinRefusal(m);
        break;
    case Command::AddForward:
    case Command::CreatePlayer:
    case Command::CreatePlayerVerify:
    case Command::CreateGroup:
        takeCreated(*command, m, origin);
        break;
    case Command::DeletePlayer:
        takeDeletedPlayer(m);
        break;
    case Command::DeleteGroup:
        takeDeletedGroup(m);
        break;
    case Command::AddPlayerToGroup:
    case Command::DeletePlayerFromGroup:
        takeMembership(*command, m);
        break;
    case Command::Ping:
        answerPing(m, origin);
        break;
    case Command::PingReply:
        if (m_open) {
            m_pingsAnswered.fetch_add(1, std::memory_order_relaxed);
        }
        break;
    case Command::YouAreDead:
        markLost(QStringLiteral("the host dropped us"));
        break;
    case Command::Packet:
        handleFragment(m, origin);
        break;
    case Command::SessionDescChanged:
    case Command::PlayerDataChanged:
    case Command::PlayerNameChanged:
        break; // nothing of ours depends on them
    case Command::EnumSessions:
    case Command::RequestPlayerId:
    case Command::AddForwardRequest:
    case Command::PlayerWrapper: // read as the player message it wraps, never as a command
    case Command::AddForwardAck:
    case Command::IAmNameServer:
        ignore(m.command);
        break;
    }
}

void NativeSession::ignore(quint16 command) {
    if (m_open) {
        log(QStringLiteral("%1 from the session ignored").arg(commandName(command)));
    }
}

// ---- Session search ----

void NativeSession::takeSearchAnswer(const WireMessage& m, const Origin& origin) {
    const auto a = readEnumSessionsReply(m.body);
    if (!a) {
        log(QStringLiteral("malformed ENUMSESSIONSREPLY dropped"));
        return;
    }
    if (m_searchApp != kNullGuid && a->desc.application != m_searchApp) {
        return;
    }
    Found f;
    f.desc = a->desc;
    f.name = a->name;
    f.hostIp = m.replyTo.ip != 0 ? m.replyTo.ip : origin.ip;
    f.hostPort = m.replyTo.port;
    f.hostVersion = m.version;
    if (f.hostPort == 0) {
        return;
    }
    if (!m_found.contains(a->desc.instance)) {
        m_foundOrder.push_back(a->desc.instance);
    }
    m_found[a->desc.instance] = f;
    m_lastAnswerMs = nowMs();
    ++m_answers;
}

// ---- Join and name table ----

void NativeSession::takePlayerId(const WireMessage& m) {
    if (m_idWaiting) {
        // A 64-bit host (one that describes its session in 88 bytes) writes its security
        // description in 32 bytes; read in the 24 of a 32-bit host, the result would be taken
        // from the wrong field and a refusal read as success.
        if (const auto r = readRequestPlayerReply(m.body, m_session.desc.size == 88)) {
            m_idReply = r;
        }
    }
}

void NativeSession::takeNameTable(Command c, const WireMessage& m) {
    if (m_joining && !m_table) {
        m_table =
            c == Command::SuperEnumPlayersReply ? readSuperEnumPlayersReply(m.body) : readEnumPlayersReply(m.body);
        if (!m_table) {
            log(QStringLiteral("malformed name table from the host"));
            m_joinError = static_cast<quint32>(dp::DPERR_GENERIC);
        }
    }
}

void NativeSession::takeJoinRefusal(const WireMessage& m) {
    if (m_joining) {
        ByteReader r(m.body);
        const quint32 error = r.u32();
        m_joinError = r.ok() && error != 0 ? error : static_cast<quint32>(dp::DPERR_GENERIC);
    }
}

// ---- Players and groups of the open session ----

void NativeSession::takeCreated(Command c, const WireMessage& m, const Origin& origin) {
    if (!m_open) {
        return;
    }
    const auto created = readCreateMessage(m.body, c == Command::CreateGroup, false);
    if (!created || created->player.id == m_sysPlayer || m_local.contains(created->player.id)) {
        return;
    }
    const PlayerRecord& p = created->player;
    const bool known = m_players.contains(p.id) || m_groups.contains(p.id);
    addRecord(p, origin.ip);
    if (c == Command::AddForward) {
        try {
            sendToHost(Command::AddForwardAck, addForwardAckBody(p.id));
        } catch (const dp::DpError&) {
        }
    } else if (!known && !(p.flags & playerflag::SysPlayer)) {
        queueSystem(dp::SysMsg::CreatePlayerOrGroup, {p.isGroup ? kDpPlayerTypeGroup : kDpPlayerTypePlayer, p.id});
    }
}

void NativeSession::takeDeletedPlayer(const WireMessage& m) {
    if (!m_open) {
        return;
    }
    const auto ids = readPlayerIds(m.body);
    if (!ids || !m_players.contains(ids->player) || m_local.contains(ids->player)) {
        return;
    }
    const bool system = (m_players[ids->player].flags & playerflag::SysPlayer) != 0;
    if (system) {
        // A machine that goes takes its players with it.
        std::vector<quint32> owned;
        for (const auto& [id, p] : m_players) {
            if (id != ids->player && p.systemPlayer == ids->player) {
                owned.push_back(id);
            }
        }
        for (const quint32 id : owned) {
            removePlayer(id);
            queueSystem(dp::SysMsg::DestroyPlayerOrGroup, {kDpPlayerTypePlayer, id});
        }
    }
    removePlayer(ids->player);
    if (!system) {
        queueSystem(dp::SysMsg::DestroyPlayerOrGroup, {kDpPlayerTypePlayer, ids->player});
    }
    if (ids->player == m_hostSysPlayer) {
        markLost(QStringLiteral("the host left"));
    }
}

void NativeSession::takeDeletedGroup(const WireMessage& m) {
    if (!m_open) {
        return;
    }
    const auto ids = readPlayerIds(m.body);
    const quint32 group = ids ? (ids->group ? ids->group : ids->player) : 0;
    if (m_groups.erase(group)) {
        m_groupOrder.erase(std::remove(m_groupOrder.begin(), m_groupOrder.end(), group), m_groupOrder.end());
        queueSystem(dp::SysMsg::DestroyPlayerOrGroup, {kDpPlayerTypeGroup, group});
    }
}

void NativeSession::takeMembership(Command c, const WireMessage& m) {
    if (!m_open) {
        return;
    }
    const auto ids = readPlayerIds(m.body);
    if (!ids) {
        return;
    }
    const auto g = m_groups.find(ids->group);
    if (g == m_groups.end()) {
        return;
    }
    const bool add = c == Command::AddPlayerToGroup;
    if (add && !g->second.members.contains(ids->player) && g->second.members.size() < 4096) {
        g->second.members.append(ids->player);
    } else if (!add) {
        g->second.members.removeAll(ids->player);
    }
    queueSystem(add ? dp::SysMsg::AddPlayerToGroup : dp::SysMsg::DeletePlayerFromGroup, {ids->group, ids->player});
}

// ---- Keep-alive ----

void NativeSession::answerPing(const WireMessage& m, const Origin& origin) {
    if (!m_open) {
        return;
    }
    const auto tick = readPingTick(m.body);
    if (!tick) {
        return;
    }
    const QByteArray reply = systemMessage(tcpPort(), Command::PingReply, pingBody(m_sysPlayer, *tick), m_version);
    if (origin.tcp) {
        sendOn(m_hostConn, reply);
    } else {
        sendDatagram(origin.ip, origin.port, reply);
    }
}

void NativeSession::connectionClosed(int conn) {
    m_fragments.forget((quint64{1} << 63) | static_cast<quint32>(conn));
    if (conn == m_hostConn) {
        m_hostConn = -1;
        markLost(QStringLiteral("the host closed the connection"));
    }
}

void NativeSession::tick(qint64 now) {
    m_fragments.expire(now);
    if (!m_open || m_lost || !(m_session.desc.flags & sessionflag::KeepAlive)) {
        return;
    }
    if (now - m_lastHeardMs < m_options.pingIntervalMs || now - m_lastPingMs < m_options.pingIntervalMs) {
        return;
    }
    if (++m_missedPings > m_options.pingMisses) {
        markLost(QStringLiteral("the host stopped answering"));
        return;
    }
    m_lastPingMs = now;
    const auto host = m_players.find(m_hostSysPlayer);
    if (host != m_players.end() && host->second.hasSpData) {
        sendDatagram(
            host->second.datagram.ip, host->second.datagram.port,
            systemMessage(tcpPort(), Command::Ping, pingBody(m_sysPlayer, static_cast<quint32>(now)), m_version));
    }
}

std::unique_ptr<Session> NativeSessionFactory::DirectPlayCreate(const QString&) {
    return std::make_unique<NativeSession>(m_options);
}

} // namespace airmesh::dplay
