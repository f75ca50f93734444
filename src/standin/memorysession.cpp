#include "memorysession.h"

#include "simlink/simcodec.h"

#include <QtEndian>

namespace airmesh {
inline namespace standin {

namespace {

SimMessage notice(dp::SysMsg type, qint32 a = 0, qint32 b = 0) {
    SimMessage m;
    m.WriteLong(static_cast<qint32>(type));
    m.WriteLong(a);
    m.WriteLong(b);
    return m;
}

constexpr qint32 kPlayerType = 1; // a player, not a group, in create/destroy notices

} // namespace

// ---- MemoryWorld -------------------------------------------------------------------------

MemoryWorld::MemoryWorld()
    : m_providers{QStringLiteral("IPX Connection For DirectPlay"),
                  QStringLiteral("Internet TCP/IP Connection For DirectPlay"),
                  QStringLiteral("Modem Connection For DirectPlay")} {}

qint32 MemoryWorld::newId() {
    // Scattered, never 0 (the reserved "all players" / session-layer id) or 1.
    do {
        m_nextId = m_nextId * 1103515245u + 12345u;
    } while (m_nextId <= 1 || m_players.contains(static_cast<qint32>(m_nextId)) ||
             m_groups.contains(static_cast<qint32>(m_nextId)));
    return static_cast<qint32>(m_nextId);
}

MemoryWorld::SessionRec* MemoryWorld::session(const QByteArray& instance) {
    const auto it = m_sessions.find(instance);
    return it == m_sessions.end() ? nullptr : &it->second;
}

QByteArray MemoryWorld::hostSession(const QString& guid, const QString& name, const QString& password, int maxPlayers) {
    SessionRec s;
    // Zero-padded so that the map, and with it the session list, keeps hosting order: "session-10"
    // must not come before "session-2", as the join only ever opens the first session listed.
    s.instance = QByteArray("session-") + QByteArray::number(m_nextSession++).rightJustified(6, '0');
    s.guid = guid;
    s.name = name;
    s.password = password;
    s.maxPlayers = maxPlayers;
    QByteArray instance = s.instance;
    m_sessions.emplace(instance, std::move(s));
    return instance;
}

void MemoryWorld::endSession(const QByteArray& instance) {
    for (MemorySession* c : std::as_const(m_clients)) {
        if (c->m_session == instance) {
            SimMessage lost;
            lost.WriteLong(static_cast<qint32>(dp::SysMsg::SessionLost));
            deliver(c, dpflags::SystemSender, 0, 0, lost.bytes());
        }
    }
    if (SessionRec* s = session(instance)) {
        for (const qint32 p : std::as_const(s->players)) {
            m_players.remove(p);
        }
        for (const qint32 g : std::as_const(s->groups)) {
            m_groups.remove(g);
        }
        m_sessions.erase(instance);
    }
}

qint32 MemoryWorld::addHostPlayer(const QByteArray& instance, const QString& friendlyName, const QString& formalName) {
    SessionRec* s = session(instance);
    Q_ASSERT(s);
    const qint32 id = newId();
    m_players.insert(id, PlayerRec{friendlyName, formalName, instance, nullptr});
    s->players.append(id);
    notifyClients(instance, nullptr, notice(dp::SysMsg::CreatePlayerOrGroup, kPlayerType, id));
    return id;
}

qint32 MemoryWorld::addGroup(const QByteArray& instance, const QString& name) {
    SessionRec* s = session(instance);
    Q_ASSERT(s);
    const qint32 id = newId();
    m_groups.insert(id, GroupRec{name, instance, {}});
    s->groups.append(id);
    return id;
}

void MemoryWorld::deliver(MemorySession* to, qint32 from, qint32 addressedTo, qint32 recipient,
                          const QByteArray& bytes) {
    Intake intake = Intake::QueueFirst; // the session layer's own notices
    if (from != dpflags::SystemSender) {
        Arrival a;
        a.from = from;
        a.addressedTo = addressedTo;
        a.recipient = recipient;
        a.number = bytes.size() >= 4 ? qFromLittleEndian<qint32>(bytes.constData()) : 0;
        a.fromOurs = to->m_ownPlayers.contains(from);
        intake = admit(to->m_filter, a);
    }
    if (intake == Intake::Drop) {
        return;
    }
    if (!to->m_queue.push(from, recipient, bytes, intake == Intake::QueueFirst)) {
        ++m_dropped;
        return;
    }
    if (to->m_arrival) {
        to->m_arrival();
    }
}

void MemoryWorld::notifyClients(const QByteArray& instance, MemorySession* except, const SimMessage& n) {
    for (MemorySession* c : std::as_const(m_clients)) {
        if (c != except && c->m_session == instance) {
            deliver(c, dpflags::SystemSender, 0, 0, n.bytes());
        }
    }
}

void MemoryWorld::sendFromHost(qint32 from, qint32 to, const SimMessage& message) {
    const auto sender = m_players.constFind(from);
    if (sender == m_players.constEnd() || sender->owner != nullptr) {
        Q_ASSERT_X(false, "MemoryWorld::sendFromHost", "the sender must be one of the simulator's players");
        return;
    }
    const SessionRec* s = session(sender->session);
    if (!s) {
        return;
    }
    for (const qint32 p : s->players) {
        const PlayerRec& rec = m_players[p];
        if (rec.owner && p != from && (to == dpflags::AllPlayers || to == p)) {
            deliver(rec.owner, from, to, p, message.bytes());
        }
    }
}

void MemoryWorld::postSystemMessage(const QByteArray& instance, const SimMessage& message) {
    notifyClients(instance, nullptr, message);
}

QList<MemoryWorld::Sent> MemoryWorld::takeSentToHost() {
    QList<Sent> out;
    out.swap(m_sentToHost);
    return out;
}

QString MemoryWorld::playerFriendlyName(qint32 id) const {
    return m_players.value(id).friendly;
}
QString MemoryWorld::playerFormalName(qint32 id) const {
    return m_players.value(id).formal;
}

QList<qint32> MemoryWorld::groupMembers(qint32 group) const {
    return m_groups.value(group).members;
}

QList<qint32> MemoryWorld::playersIn(const QByteArray& instance) const {
    const auto it = m_sessions.find(instance);
    return it == m_sessions.end() ? QList<qint32>{} : it->second.players;
}

void MemoryWorld::detach(MemorySession* s) {
    m_clients.removeAll(s);
}

// ---- MemorySession -----------------------------------------------------------------------

MemorySession::MemorySession(MemoryWorld& world) : m_world(world) {
    m_world.attach(this);
}

MemorySession::~MemorySession() {
    leave();
    m_world.detach(this);
}

void MemorySession::requireOpen() const {
    if (m_session.isEmpty() || !m_world.m_sessions.contains(m_session)) {
        throw dp::DpError(dp::DPERR_NOCONNECTION, "no session open");
    }
}

void MemorySession::requireJoined() const {
    if (m_session.isEmpty()) {
        throw dp::DpError(dp::DPERR_NOCONNECTION, "no session open");
    }
}

ConnectionList MemorySession::GetDPEnumConnections(const QString&, int) {
    QList<Connection> list;
    for (const QString& name : m_world.m_providers) {
        list.append({name, name.toUtf8()});
    }
    return ConnectionList(list);
}

void MemorySession::InitializeConnection(const QByteArray& address) {
    if (m_initialized) {
        throw dp::DpError(dp::DPERR_ALREADYINITIALIZED);
    }
    if (!m_world.m_providers.contains(QString::fromUtf8(address))) {
        throw dp::DpError(dp::DPERR_INVALIDPARAMS, "unknown service provider");
    }
    m_initialized = true;
}

SessionList MemorySession::GetDPEnumSessions(const SessionData& search, int, int) {
    if (!m_initialized) {
        throw dp::DpError(dp::DPERR_UNINITIALIZED);
    }
    QList<SessionData> found;
    for (const auto& [instance, s] : m_world.m_sessions) {
        if (s.guid.compare(search.GetGuidApplication(), Qt::CaseInsensitive) == 0) {
            SessionData d;
            d.SetGuidApplication(s.guid);
            d.SetSessionName(s.name);
            d.setInstance(instance);
            found.append(d);
        }
    }
    return SessionList(found);
}

void MemorySession::Open(const SessionData& session, int) {
    if (!m_initialized) {
        throw dp::DpError(dp::DPERR_UNINITIALIZED);
    }
    if (!m_session.isEmpty()) {
        throw dp::DpError(dp::DPERR_ALREADYINITIALIZED);
    }
    const MemoryWorld::SessionRec* s = m_world.session(session.instance());
    if (!s) {
        throw dp::DpError(dp::DPERR_NOSESSIONS);
    }
    if (s->password != session.GetSessionPassword()) {
        throw dp::DpError(dp::DPERR_INVALIDPASSWORD);
    }
    if (s->maxPlayers > 0 && s->players.size() >= s->maxPlayers) {
        throw dp::DpError(dp::DPERR_NONEWPLAYERS);
    }
    m_session = session.instance();
}

void MemorySession::leave() {
    for (const qint32 p : std::as_const(m_ownPlayers)) {
        m_world.m_players.remove(p);
        for (auto& g : m_world.m_groups) {
            g.members.removeAll(p);
        }
        // A session the host has ended has no players left to tell: its other clients have had
        // their session-lost notice and must not get notices from a session that is gone.
        if (MemoryWorld::SessionRec* s = m_world.session(m_session)) {
            s->players.removeAll(p);
            m_world.notifyClients(m_session, this, notice(dp::SysMsg::DestroyPlayerOrGroup, kPlayerType, p));
            if (m_world.onClientPlayerDestroyed) {
                m_world.onClientPlayerDestroyed(p);
            }
        }
    }
    m_ownPlayers.clear();
    m_session.clear();
    m_queue.clear();
}

void MemorySession::Close() {
    leave();
}

SessionData MemorySession::GetSessionDesc() {
    requireOpen();
    const MemoryWorld::SessionRec* s = m_world.session(m_session);
    SessionData d;
    d.SetGuidApplication(s->guid);
    d.SetSessionName(s->name);
    d.setInstance(s->instance);
    d.SetMaxPlayers(s->maxPlayers);
    d.setCurrentPlayers(static_cast<int>(s->players.size()));
    return d;
}

qint32 MemorySession::CreatePlayer(const QString& friendlyName, const QString& formalName, qint64, int) {
    requireOpen();
    MemoryWorld::SessionRec* s = m_world.session(m_session);
    if (s->maxPlayers > 0 && s->players.size() >= s->maxPlayers) {
        throw dp::DpError(dp::DPERR_CANTCREATEPLAYER);
    }
    const qint32 id = m_world.newId();
    m_world.m_players.insert(id, MemoryWorld::PlayerRec{friendlyName, formalName, m_session, this});
    s->players.append(id);
    m_ownPlayers.append(id);
    m_world.notifyClients(m_session, this, notice(dp::SysMsg::CreatePlayerOrGroup, kPlayerType, id));
    if (m_world.onClientPlayerCreated) {
        m_world.onClientPlayerCreated(id, friendlyName, formalName);
    }
    return id;
}

void MemorySession::DestroyPlayer(qint32 player) {
    requireOpen();
    if (!m_ownPlayers.contains(player)) {
        throw dp::DpError(m_world.m_players.contains(player) ? dp::DPERR_ACCESSDENIED : dp::DPERR_INVALIDPLAYER);
    }
    m_ownPlayers.removeAll(player);
    m_world.m_players.remove(player);
    m_world.session(m_session)->players.removeAll(player);
    for (auto& g : m_world.m_groups) {
        g.members.removeAll(player);
    }
    // Messages already queued for that player are gone with it.
    m_queue.removeIf([player](const SessionQueue::Item& q) { return q.to == player; });
    m_world.notifyClients(m_session, this, notice(dp::SysMsg::DestroyPlayerOrGroup, kPlayerType, player));
    if (m_world.onClientPlayerDestroyed) {
        m_world.onClientPlayerDestroyed(player);
    }
}

GroupList MemorySession::GetDPEnumGroups(const QString&, int) {
    requireOpen();
    QList<GroupInfo> list;
    for (const qint32 g : std::as_const(m_world.session(m_session)->groups)) {
        list.append({g, m_world.m_groups[g].name});
    }
    return GroupList(list);
}

void MemorySession::AddPlayerToGroup(qint32 group, qint32 player) {
    requireOpen();
    const auto g = m_world.m_groups.find(group);
    if (g == m_world.m_groups.end() || g->session != m_session) {
        throw dp::DpError(dp::DPERR_INVALIDGROUP);
    }
    const auto p = m_world.m_players.constFind(player);
    if (p == m_world.m_players.constEnd() || p->session != m_session) {
        throw dp::DpError(dp::DPERR_INVALIDPLAYER);
    }
    if (!g->members.contains(player)) {
        g->members.append(player);
    }
    m_world.notifyClients(m_session, this, notice(dp::SysMsg::AddPlayerToGroup, group, player));
}

QString MemorySession::GetPlayerFriendlyName(qint32 player) {
    requireOpen();
    const auto it = m_world.m_players.constFind(player);
    if (it == m_world.m_players.constEnd() || it->session != m_session) {
        throw dp::DpError(dp::DPERR_INVALIDPLAYER);
    }
    return it->friendly;
}

void MemorySession::Send(qint32 from, qint32 to, int, const SimMessage& message) {
    requireOpen();
    if (!m_ownPlayers.contains(from)) {
        throw dp::DpError(dp::DPERR_INVALIDPLAYER, "send from a player that is not ours");
    }
    if (to != dpflags::AllPlayers) {
        // A player of another session exists in the world but cannot be reached from this one;
        // without this check the message would vanish without an error.
        const auto target = m_world.m_players.constFind(to);
        if (target == m_world.m_players.constEnd() || target->session != m_session) {
            throw dp::DpError(dp::DPERR_INVALIDPLAYER, "send to an unknown player");
        }
    }
    // As the session layer does: to everybody but the sender, our own other players included.
    bool toHost = false;
    for (const qint32 p : std::as_const(m_world.session(m_session)->players)) {
        if (p == from || (to != dpflags::AllPlayers && to != p)) {
            continue;
        }
        // A const look-up: the non-const operator[] would check for a copy to detach on every call.
        const auto rec = std::as_const(m_world.m_players).constFind(p);
        if (rec != m_world.m_players.constEnd() && rec->owner != nullptr) {
            m_world.deliver(rec->owner, from, to, p, message.bytes());
        } else {
            toHost = true;
        }
    }
    if (toHost) {
        const MemoryWorld::Sent sent{from, to, message.bytes()};
        m_world.m_sentToHost.append(sent);
        if (m_world.onSendToHost) {
            m_world.onSendToHost(sent);
        }
    }
}

int MemorySession::GetMessageQueue(qint32, qint32, int, int* bytes) {
    // What waits is still there after the host ended the session, the session-lost notice
    // among it; refusing to read the queue would hide that notice from the client.
    requireJoined();
    if (bytes) {
        *bytes = static_cast<int>(m_queue.bytes());
    }
    return static_cast<int>(m_queue.size());
}

SimMessage MemorySession::Receive(qint32& fromId, qint32& toId, int) {
    requireJoined();
    if (m_queue.empty()) {
        throw dp::DpError(dp::DPERR_NOMESSAGES);
    }
    SessionQueue::Item q = m_queue.pop();
    fromId = q.from;
    toId = q.to;
    return SimMessage(std::move(q.bytes));
}

void MemorySession::waitForMessage(int maxMs) {
    // Nothing really passes in memory: time is whatever the test's clock says, moved by the hook.
    if (maxMs > 0 && m_queue.empty() && m_world.onWait) {
        m_world.onWait(maxMs);
    }
}

} // namespace standin
} // namespace airmesh
