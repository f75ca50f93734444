#include "dphost.h"

#include "hostwire.h"

#include "simlink/dperr.h"

#include <QRandomGenerator>

#include <algorithm>

namespace airmesh::dphost {

namespace {
constexpr int kMaxEvents = 8192;
constexpr quint32 kMaxIds = 4096;
constexpr size_t kMaxEarly = 256;
constexpr qint64 kEarlyKeepMs = 3000;
constexpr int kMaxPendingPerConnection = 16; // ids asked for and not yet used

bool isLoopback(quint32 ip) {
    return (ip >> 24) == 127;
}

// A machine on the host's own computer is known by a loopback address, which means nothing to
// a machine elsewhere: to that one its address is given as "where this came from", i.e. the
// host's computer, which is where it is.
PlayerRecord addressedTo(PlayerRecord p, quint32 recipientIp) {
    if (!isLoopback(recipientIp)) {
        if (isLoopback(p.stream.ip)) {
            p.stream.ip = 0;
        }
        if (isLoopback(p.datagram.ip)) {
            p.datagram.ip = 0;
        }
    }
    return p;
}

Node::Config nodeConfig(const HostOptions& o) {
    Node::Config c;
    c.bindIp = o.bindIp;
    c.listenForEnum = true;
    c.enumPort = o.enumPort;
    c.enumBindIp = o.enumBindIp;
    c.log = o.log;
    c.clock = o.clock;
    return c;
}
} // namespace

DpHost::DpHost(HostOptions options) : Node(nodeConfig(options)), m_options(std::move(options)) {
    m_desc.size = m_options.wideDescription ? 88 : 80;
    m_desc.flags = m_options.flags | (m_options.password.isEmpty() ? 0 : sessionflag::PasswordRequired);
    for (auto& b : m_desc.instance) {
        b = static_cast<quint8>(QRandomGenerator::global()->bounded(256));
    }
    m_desc.instance = m_options.instance.value_or(m_desc.instance);
    m_desc.application = m_options.application;
    m_desc.maxPlayers = m_options.maxPlayers;
    m_desc.reserved1 = m_options.key.value_or(QRandomGenerator::global()->generate() & 0x7FFFFFFFu);
    m_systemPlayer = newId();
    m_ownPlayer = newId();
}

DpHost::~DpHost() {
    stop();
}

bool DpHost::start(QString& error) {
    return Node::start(error);
}

void DpHost::stop() {
    Node::stop();
}

quint32 DpHost::newId() {
    for (quint32 i = 1; i < kMaxIds; ++i) { // index 0 is never used: id 0 means "everybody"
        if (i >= m_used.size()) {
            m_used.resize(i + 1, false);
            m_counters.resize(i + 1, 0);
        }
        if (!m_used[i]) {
            m_used[i] = true;
            ++m_counters[i];
            return ((static_cast<quint32>(m_counters[i]) << 16) | i) ^ m_desc.reserved1;
        }
    }
    return 0;
}

void DpHost::releaseId(quint32 id) {
    const quint32 index = (id ^ m_desc.reserved1) & 0xFFFF;
    if (index < m_used.size()) {
        m_used[index] = false;
    }
}

quint32 DpHost::addGroup(const QString& name) {
    std::lock_guard lock(m_mutex);
    PlayerRecord g;
    g.isGroup = true;
    g.flags = 0x48;
    g.id = newId();
    g.systemPlayer = m_systemPlayer;
    g.shortName = name;
    g.longName = name;
    m_groups[g.id] = g;
    m_groupOrder.push_back(g.id);
    sendToMachines(Command::CreateGroup, createPlayerBody(groupRecord(g), false), 0);
    return g.id;
}

std::vector<DpHost::Event> DpHost::takeEvents() {
    std::lock_guard lock(m_mutex);
    std::vector<Event> out;
    out.swap(m_events);
    return out;
}

void DpHost::post(Event e) {
    if (static_cast<int>(m_events.size()) >= kMaxEvents) {
        return; // the owner is not taking them: drop rather than grow
    }
    m_events.push_back(std::move(e));
    if (notify) {
        notify();
    }
}

QString DpHost::shortName(quint32 player) const {
    std::lock_guard lock(m_mutex);
    if (player == m_ownPlayer) {
        return m_options.ownShortName;
    }
    const auto it = m_players.find(player);
    return it == m_players.end() ? QString() : it->second.shortName;
}

QList<quint32> DpHost::groupMembers(quint32 group) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_groups.find(group);
    return it == m_groups.end() ? QList<quint32>() : it->second.members;
}

int DpHost::machineCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_machines.size());
}

int DpHost::playerCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(currentPlayers());
}

quint32 DpHost::currentPlayers() const {
    return static_cast<quint32>(m_players.size()) + 1;
}

PlayerRecord DpHost::hostSystemRecord() const {
    PlayerRecord p;
    p.flags = playerflag::SysPlayer | playerflag::NameServer | playerflag::InGroup | playerflag::Local;
    p.id = m_systemPlayer;
    p.systemPlayer = m_systemPlayer;
    p.hasSpData = true;
    p.stream = {Node::tcpPort(), 0}; // address 0: the receiver takes the one the message came from
    p.datagram = {Node::udpPort(), 0};
    return p;
}

PlayerRecord DpHost::ownRecord() const {
    PlayerRecord p = hostSystemRecord(); // reached at the host's addresses
    p.flags = playerflag::Local | (inAnyGroup(m_ownPlayer) ? playerflag::InGroup : 0);
    p.id = m_ownPlayer;
    p.shortName = m_options.ownShortName;
    p.longName = m_options.ownLongName;
    return p;
}

PlayerRecord DpHost::groupRecord(const PlayerRecord& g) const {
    PlayerRecord p = g; // the host's groups live on the host's machine
    p.hasSpData = true;
    p.stream = {Node::tcpPort(), 0};
    p.datagram = {Node::udpPort(), 0};
    return p;
}

PlayerRecord DpHost::joinerRecord(const PlayerRecord& player) const {
    PlayerRecord p = player;
    p.flags = (p.flags & ~playerflag::InGroup) | (inAnyGroup(p.id) ? playerflag::InGroup : 0);
    return p;
}

bool DpHost::inAnyGroup(quint32 player) const {
    return std::any_of(m_groups.begin(), m_groups.end(),
                       [player](const auto& g) { return g.second.members.contains(player); });
}

QByteArray DpHost::nameTable(quint32 newcomer, quint32 recipientIp) const {
    QList<PlayerRecord> players{hostSystemRecord(), ownRecord()};
    for (const auto& [id, other] : m_machines) {
        if (id != newcomer) {
            players.append(addressedTo(other.system, recipientIp));
        }
    }
    for (const auto& [id, p] : m_players) {
        players.append(addressedTo(joinerRecord(p), recipientIp));
    }
    if (const auto it = m_machines.find(newcomer); it != m_machines.end()) {
        players.append(it->second.system);
    }
    QList<PlayerRecord> groups;
    for (const quint32 id : m_groupOrder) {
        groups.append(groupRecord(m_groups.at(id)));
    }
    SessionDesc d = m_desc;
    d.currentPlayers = currentPlayers();
    return dphost::superEnumPlayersReplyBody(d, m_options.sessionName, players, groups);
}

void DpHost::forgetPending(int conn) {
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second.conn == conn) {
            releaseId(it->first);
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
}

bool DpHost::sendFromOwn(quint32 to, const QByteArray& payload, bool guaranteed) {
    std::vector<std::pair<quint32, quint16>> targets;
    {
        std::lock_guard lock(m_mutex);
        std::set<quint32> machines;
        if (to == 0) {
            for (const auto& [id, m] : m_machines) {
                machines.insert(id);
            }
        } else if (const auto p = m_players.find(to); p != m_players.end()) {
            machines.insert(p->second.systemPlayer);
        } else if (const auto g = m_groups.find(to); g != m_groups.end()) {
            for (const quint32 member : g->second.members) {
                if (const auto q = m_players.find(member); q != m_players.end()) {
                    machines.insert(q->second.systemPlayer);
                }
            }
        } else {
            return false;
        }
        for (const quint32 id : machines) {
            const auto m = m_machines.find(id);
            if (m == m_machines.end()) {
                continue;
            }
            if (guaranteed) {
                const int conn = connectionTo(m->second.system.stream.ip, m->second.system.stream.port);
                if (conn >= 0) {
                    sendOn(conn, playerMessageTcp(Node::tcpPort(), m_ownPlayer, to, payload));
                }
            } else {
                targets.emplace_back(m->second.system.datagram.ip, m->second.system.datagram.port);
            }
        }
    }
    const QByteArray datagram = playerMessageUdp(m_ownPlayer, to, payload);
    bool ok = true;
    for (const auto& [ip, port] : targets) {
        ok = sendDatagram(ip, port, datagram) && ok;
    }
    return ok;
}

void DpHost::reply(const Origin& origin, quint16 listenPort, Command c, const QByteArray& body) {
    if (listenPort == 0) {
        return;
    }
    const int conn = connectionTo(origin.ip, listenPort);
    if (conn >= 0) {
        sendOn(conn, systemMessage(Node::tcpPort(), c, body));
    }
}

void DpHost::sendToMachines(Command c, const QByteArray& body, quint32 except) {
    sendToMachines(
        c, [&body](const Machine&) { return body; }, except);
}

void DpHost::sendToMachines(Command c, const std::function<QByteArray(const Machine&)>& body, quint32 except) {
    // Opening or writing a connection may find a machine gone and drop it, telling the others in
    // turn, before it returns: go by a list of ids and look each one up again.
    std::vector<quint32> ids;
    for (const auto& [id, m] : m_machines) {
        if (id != except) {
            ids.push_back(id);
        }
    }
    for (const quint32 id : ids) {
        const auto m = m_machines.find(id);
        if (m == m_machines.end()) {
            continue;
        }
        const QByteArray bytes = systemMessage(Node::tcpPort(), c, body(m->second));
        const int conn = connectionTo(m->second.system.stream.ip, m->second.system.stream.port);
        if (conn >= 0) {
            sendOn(conn, bytes);
        }
    }
}

std::optional<quint32> DpHost::machineOfConnection(int conn) const {
    for (const auto& [id, m] : m_machines) {
        if (m.inbound == conn) {
            return id;
        }
        if (connListenPort(conn) == m.system.stream.port && connPeerIp(conn) == m.system.stream.ip) {
            return id;
        }
    }
    return std::nullopt;
}

void DpHost::removePlayer(quint32 id) {
    m_players.erase(id);
    for (auto& [gid, g] : m_groups) {
        g.members.removeAll(id);
    }
    releaseId(id);
}

void DpHost::dropMachine(quint32 system, const QString& why) {
    const auto it = m_machines.find(system);
    if (it == m_machines.end()) {
        return;
    }
    log(QStringLiteral("machine %1 left: %2").arg(system, 8, 16, QLatin1Char('0')).arg(why));
    std::vector<quint32> owned;
    for (const auto& [id, p] : m_players) {
        if (p.systemPlayer == system) {
            owned.push_back(id);
        }
    }
    m_machines.erase(it);
    for (auto p = m_pending.begin(); p != m_pending.end();) {
        if (!p->second.system && p->second.machine == system) {
            releaseId(p->first);
            p = m_pending.erase(p);
        } else {
            ++p;
        }
    }
    for (const quint32 id : owned) {
        const auto p = m_players.find(id);
        if (p == m_players.end()) {
            continue;
        }
        Event e;
        e.kind = Event::PlayerDestroyed;
        e.id = id;
        e.shortName = p->second.shortName;
        removePlayer(id);
        post(e);
        sendToMachines(Command::DeletePlayer, playerIdsBody(0, id, 0), 0);
    }
    releaseId(system);
    sendToMachines(Command::DeletePlayer, playerIdsBody(0, system, 0), 0);
    Event e;
    e.kind = Event::MachineLeft;
    e.id = system;
    post(e);
}

void DpHost::connectionClosed(int conn) {
    forgetPending(conn);
    if (const auto machine = machineOfConnection(conn)) {
        dropMachine(*machine, QStringLiteral("its connection closed"));
    }
}

void DpHost::tick(qint64 now) {
    while (!m_early.empty() && now - m_early.front().at > kEarlyKeepMs) {
        m_early.pop_front();
    }
}

void DpHost::handle(const WireMessage& m, const Origin& origin) {
    if (m.system) {
        handleSystem(m, origin);
    } else if (!origin.enumSocket) {
        handlePlayerMessage(m.body);
    }
}

void DpHost::handlePlayerMessage(const QByteArray& body) {
    ByteReader r(body);
    const quint32 from = r.u32();
    const quint32 to = r.u32();
    if (!r.ok()) {
        return;
    }
    if (!m_players.contains(from)) {
        // Only the joiners' players speak here; one that is still being created over TCP is
        // heard once it exists.
        if (m_early.size() < kMaxEarly && from != m_ownPlayer && from != m_systemPlayer) {
            m_early.push_back({from, body, nowMs()});
        }
        return;
    }
    bool forUs = to == 0 || to == m_ownPlayer;
    if (const auto g = m_groups.find(to); g != m_groups.end()) {
        forUs = g->second.members.contains(m_ownPlayer);
    }
    if (!forUs) {
        return;
    }
    Event e;
    e.kind = Event::Message;
    e.id = from;
    e.to = to;
    e.bytes = body.mid(8);
    post(e);
}

void DpHost::handleSystem(const WireMessage& m, const Origin& origin) {
    const std::optional<Command> command = knownCommand(m.command);
    if (!command) {
        return;
    }
    switch (*command) {
    case Command::EnumSessions:
        answerSearch(m, origin);
        break;
    case Command::RequestPlayerId:
        giveId(m, origin);
        break;
    case Command::AddForwardRequest:
        admitMachine(m, origin);
        break;
    case Command::CreatePlayer:
    case Command::CreatePlayerVerify:
        takePlayer(*command, m, origin);
        break;
    case Command::DeletePlayer:
        takeDeletion(m, origin);
        break;
    case Command::AddPlayerToGroup:
    case Command::DeletePlayerFromGroup:
        takeMembership(*command, m);
        break;
    case Command::Ping:
        answerPing(m, origin);
        break;
    // What the host itself tells its joiners, and what these sessions need from none of them.
    case Command::EnumSessionsReply:
    case Command::EnumPlayersReply:
    case Command::RequestPlayerReply:
    case Command::CreateGroup:
    case Command::DeleteGroup:
    case Command::PlayerDataChanged:
    case Command::PlayerNameChanged:
    case Command::Packet:
    case Command::PingReply:
    case Command::YouAreDead:
    case Command::PlayerWrapper:
    case Command::SessionDescChanged:
    case Command::AddForwardReply:
    case Command::SuperEnumPlayersReply:
    case Command::AddForward:
    case Command::AddForwardAck:
    case Command::IAmNameServer:
        break;
    }
}

void DpHost::answerSearch(const WireMessage& m, const Origin& origin) {
    const auto q = dphost::readEnumSessions(m.body);
    if (!q) {
        log(QStringLiteral("malformed ENUMSESSIONS from %1 dropped").arg(net::ipText(origin.ip)));
        return;
    }
    if (q->application != kNullGuid && q->application != m_desc.application) {
        return;
    }
    if (!m_options.password.isEmpty() && q->password != m_options.password && !(q->flags & 0x40)) {
        return;
    }
    SessionDesc d = m_desc;
    d.currentPlayers = currentPlayers();
    const quint32 ip = m.replyTo.ip != 0 ? m.replyTo.ip : origin.ip;
    const int conn = connectionTo(ip, m.replyTo.port);
    if (conn >= 0) {
        sendOn(conn, systemMessage(Node::tcpPort(), Command::EnumSessionsReply,
                                   dphost::enumSessionsReplyBody(d, m_options.sessionName)));
    }
}

void DpHost::giveId(const WireMessage& m, const Origin& origin) {
    if (!origin.tcp) {
        return;
    }
    ByteReader r(m.body);
    const quint32 flags = r.u32();
    if (!r.ok()) {
        return;
    }
    quint32 result = 0;
    const bool system = (flags & playerflag::SysPlayer) != 0;
    const bool full = m_desc.maxPlayers != 0 && currentPlayers() >= m_desc.maxPlayers;
    // An ordinary player belongs to a machine that has joined, on the connection it joined on.
    const auto machine = system ? std::nullopt : machineOfConnection(origin.conn);
    const auto waiting =
        std::count_if(m_pending.begin(), m_pending.end(), [&](const auto& p) { return p.second.conn == origin.conn; });
    if (system ? (full || (m_desc.flags & sessionflag::JoinDisabled))
               : (full || (m_desc.flags & sessionflag::NewPlayersDisabled))) {
        result = static_cast<quint32>(dp::DPERR_NONEWPLAYERS);
    } else if (!system && !machine) {
        result = static_cast<quint32>(dp::DPERR_ACCESSDENIED);
    } else if (waiting >= kMaxPendingPerConnection) {
        result = static_cast<quint32>(dp::DPERR_CANTCREATEPLAYER);
    }
    quint32 id = 0;
    if (result == 0) {
        id = newId();
        if (id == 0) {
            result = static_cast<quint32>(dp::DPERR_CANTCREATEPLAYER);
        } else {
            m_pending[id] = {origin.conn, system, machine.value_or(0)};
        }
    }
    reply(origin, m.replyTo.port, Command::RequestPlayerReply,
          dphost::requestPlayerReplyBody(id, result, m_options.wideDescription));
}

void DpHost::admitMachine(const WireMessage& m, const Origin& origin) {
    if (!origin.tcp) {
        return;
    }
    const auto c = readCreateMessage(m.body, false, true);
    if (!c || !(c->player.flags & playerflag::SysPlayer) || !c->player.hasSpData) {
        log(QStringLiteral("malformed ADDFORWARDREQUEST from %1 dropped").arg(net::ipText(origin.ip)));
        return;
    }
    // Only with the system player id this connection was given, and only once.
    const auto pending = m_pending.find(c->player.id);
    if (pending == m_pending.end() || !pending->second.system || pending->second.conn != origin.conn) {
        log(QStringLiteral("ADDFORWARDREQUEST from %1 for an id it was not given dropped").arg(net::ipText(origin.ip)));
        return;
    }
    m_pending.erase(pending);
    if (!m_options.password.isEmpty() && c->password != m_options.password) {
        reply(origin, m.replyTo.port, Command::AddForwardReply,
              dphost::addForwardReplyBody(static_cast<quint32>(dp::DPERR_INVALIDPASSWORD)));
        releaseId(c->player.id);
        return;
    }
    const Machine machine = joiningMachine(c->player, origin);
    // Tell the others first, each with the newcomer's addresses as it can reach them, then the
    // newcomer the whole table.
    sendToMachines(
        Command::AddForward,
        [&machine](const Machine& other) { return createPlayerBody(addressedTo(machine.system, other.ip), false); }, 0);
    m_machines[c->player.id] = machine;
    reply(origin, m.replyTo.port, Command::SuperEnumPlayersReply, nameTable(c->player.id, origin.ip));
    Event e;
    e.kind = Event::MachineJoined;
    e.id = c->player.id;
    post(e);
}

DpHost::Machine DpHost::joiningMachine(const PlayerRecord& system, const Origin& origin) {
    Machine machine;
    machine.system = system;
    machine.system.flags = playerflag::SysPlayer | playerflag::InGroup;
    machine.system.systemPlayer = system.id;
    machine.system.members.clear();
    if (machine.system.stream.ip == 0) {
        machine.system.stream.ip = origin.ip;
    }
    if (machine.system.datagram.ip == 0) {
        machine.system.datagram.ip = origin.ip;
    }
    machine.inbound = origin.conn;
    machine.ip = origin.ip;
    return machine;
}

void DpHost::takePlayer(Command command, const WireMessage& m, const Origin& origin) {
    if (!origin.tcp) {
        return;
    }
    const auto c = readCreateMessage(m.body, false, false);
    if (!c || (c->player.flags & playerflag::SysPlayer) || m_players.contains(c->player.id)) {
        return;
    }
    // A machine creates its own players, with ids it was given.
    const auto sender = machineOfConnection(origin.conn);
    const auto pending = m_pending.find(c->player.id);
    if (!sender || c->player.systemPlayer != *sender || pending == m_pending.end() || pending->second.system ||
        pending->second.machine != *sender) {
        log(QStringLiteral("%1 from %2 for a player that is not its own dropped")
                .arg(commandName(command), net::ipText(origin.ip)));
        return;
    }
    m_pending.erase(pending);
    PlayerRecord p = c->player;
    p.isGroup = false;
    p.members.clear();
    // "Local" meant local to its machine; the host passes the player on to others.
    p.flags &= ~(playerflag::SysPlayer | playerflag::NameServer | playerflag::Local | playerflag::InGroup);
    const Machine& owner = m_machines.at(*sender);
    if (!p.hasSpData) { // reached through its machine
        p.hasSpData = true;
        p.stream = owner.system.stream;
        p.datagram = owner.system.datagram;
    }
    if (p.stream.ip == 0) {
        p.stream.ip = origin.ip;
    }
    if (p.datagram.ip == 0) {
        p.datagram.ip = origin.ip;
    }
    m_players[p.id] = p;
    Event e;
    e.kind = Event::PlayerCreated;
    e.id = p.id;
    e.shortName = p.shortName;
    e.longName = p.longName;
    post(e);
    hearEarly(p.id);
}

void DpHost::hearEarly(quint32 player) {
    std::deque<Early> early;
    early.swap(m_early);
    for (Early& m : early) {
        if (m.from == player) {
            handlePlayerMessage(m.body);
        } else {
            m_early.push_back(std::move(m));
        }
    }
}

void DpHost::takeDeletion(const WireMessage& m, const Origin& origin) {
    const auto ids = readPlayerIds(m.body);
    const auto sender = origin.tcp ? machineOfConnection(origin.conn) : std::nullopt;
    if (!ids || !sender) {
        return;
    }
    // A machine deletes only its own players, or itself.
    if (const auto p = m_players.find(ids->player); p != m_players.end() && p->second.systemPlayer == *sender) {
        Event e;
        e.kind = Event::PlayerDestroyed;
        e.id = ids->player;
        e.shortName = m_players[ids->player].shortName;
        removePlayer(ids->player);
        post(e);
    } else if (ids->player == *sender) {
        dropMachine(ids->player, QStringLiteral("it left the session"));
    }
}

void DpHost::takeMembership(Command command, const WireMessage& m) {
    const auto ids = readPlayerIds(m.body);
    if (!ids) {
        return;
    }
    const auto g = m_groups.find(ids->group);
    if (g == m_groups.end() || !m_players.contains(ids->player)) {
        return;
    }
    if (command == Command::AddPlayerToGroup) {
        if (!g->second.members.contains(ids->player)) {
            g->second.members.append(ids->player);
        }
    } else {
        g->second.members.removeAll(ids->player);
    }
}

void DpHost::answerPing(const WireMessage& m, const Origin& origin) {
    const auto tick = readPingTick(m.body);
    if (!tick) {
        return;
    }
    if (origin.tcp) {
        reply(origin, m.replyTo.port, Command::PingReply, pingBody(m_systemPlayer, *tick));
    } else {
        sendDatagram(origin.ip, origin.port,
                     systemMessage(Node::tcpPort(), Command::PingReply, pingBody(m_systemPlayer, *tick)));
    }
}

} // namespace airmesh::dphost
