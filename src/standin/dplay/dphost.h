#pragma once

#include "simlink/dplay/node.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace airmesh::dphost {

// The host is built on the joiner's wire: its names are this library's words too.
using namespace airmesh::dplay;

struct HostOptions {
    Guid application{};
    QString sessionName = QStringLiteral("FS Session");
    QString password;
    quint32 maxPlayers = 16; // ordinary players, the host's own included (0 = no limit)
    quint32 flags = sessionflag::KeepAlive;
    // The layout of 64-bit DirectPlay builds: the session description in 88 bytes and the
    // security description in 32 (a 32-bit build, as the simulator is, uses 80 and 24).
    bool wideDescription = false;
    QString ownShortName; // the host's own player (the user's aircraft)
    QString ownLongName;
    quint32 bindIp = 0;
    quint16 enumPort = kEnumPort;
    // The address the enumeration socket takes (0 = every local address): a test binds the
    // loopback broadcast address to stand for a host that hears only broadcast searches.
    quint32 enumBindIp = 0;
    // The session's instance and id key; random unless given (a test replays a recorded join).
    std::optional<Guid> instance;
    std::optional<quint32> key;
    std::function<void(const QString&)> log;
    // What times the host's memory of early datagrams; none: the system's steady clock.
    std::shared_ptr<NodeClock> clock;
};

// The host role of a DirectPlay 4 session on the wire, as a simulator runs it: answers session
// searches on the enumeration port, gives out player ids (scrambled with the session's key),
// admits joining machines and tells them the name table, keeps players and groups, and has one
// ordinary player of its own. What the joiners do arrives as events, taken on the owner's
// thread; `notify` is called from the node's thread whenever new events wait.
//
// Every player it tells a machine about carries its machine's addresses (the service
// provider's data): a real DirectPlay joiner refuses a remote player without them. Only the
// host's own players and groups are flagged as local to the sender.
class DpHost final : private Node {
public:
    struct Event {
        enum Kind { MachineJoined, MachineLeft, PlayerCreated, PlayerDestroyed, Message } kind = Message;
        quint32 id = 0; // the player (or the machine's system player)
        quint32 to = 0; // Message: whom it was sent to
        QString shortName;
        QString longName;
        QByteArray bytes; // Message: the payload
    };

    explicit DpHost(HostOptions options);
    ~DpHost() override;

    bool start(QString& error);
    void stop();
    // Creates a group of the session (before or after joiners came); returns its id.
    quint32 addGroup(const QString& name);
    quint32 ownPlayer() const { return m_ownPlayer; }
    quint32 key() const { return m_desc.reserved1; }
    std::vector<Event> takeEvents();
    std::function<void()> notify;
    // Sends a player message from the host's own player: to 0 = everybody, else a player or
    // a group. Unguaranteed messages go as datagrams, guaranteed ones over TCP.
    bool sendFromOwn(quint32 to, const QByteArray& payload, bool guaranteed = false);
    QString shortName(quint32 player) const;
    QList<quint32> groupMembers(quint32 group) const;
    int machineCount() const;
    int playerCount() const; // ordinary players, ours included
    quint16 enumPort() const { return Node::enumPort(); }
    quint16 tcpPort() const { return Node::tcpPort(); }
    quint16 udpPort() const { return Node::udpPort(); }

private:
    struct Machine {
        PlayerRecord system; // its addresses complete (a joiner sends them without its IP)
        int inbound = -1;    // the connection it sends on
        quint32 ip = 0;
    };
    // An id handed out and not yet used: a machine's system player (the join to come on that
    // connection) or an ordinary player of a machine that has joined.
    struct Pending {
        int conn = -1;
        bool system = false;
        quint32 machine = 0;
    };

    void handle(const WireMessage& m, const Origin& origin) override;
    void connectionClosed(int conn) override;
    // A system message: one switch over its command, to the handlers below.
    void handleSystem(const WireMessage& m, const Origin& origin);
    void answerSearch(const WireMessage& m, const Origin& origin);
    void giveId(const WireMessage& m, const Origin& origin);
    // A machine's join (ADDFORWARDREQUEST) with the system player id it was given.
    void admitMachine(const WireMessage& m, const Origin& origin);
    static Machine joiningMachine(const PlayerRecord& system, const Origin& origin);
    void takePlayer(Command command, const WireMessage& m, const Origin& origin);
    // The datagrams a player sent before its creation arrived, heard now.
    void hearEarly(quint32 player);
    void takeDeletion(const WireMessage& m, const Origin& origin);
    void takeMembership(Command command, const WireMessage& m);
    void answerPing(const WireMessage& m, const Origin& origin);
    void handlePlayerMessage(const QByteArray& body);
    void tick(qint64 nowMs) override;
    void reply(const Origin& origin, quint16 listenPort, Command c, const QByteArray& body);
    void sendToMachines(Command c, const QByteArray& body, quint32 except);
    void sendToMachines(Command c, const std::function<QByteArray(const Machine&)>& body, quint32 except);
    quint32 newId();
    void releaseId(quint32 id);
    void dropMachine(quint32 system, const QString& why);
    void removePlayer(quint32 id);
    void post(Event e);
    PlayerRecord hostSystemRecord() const;
    PlayerRecord ownRecord() const;
    PlayerRecord groupRecord(const PlayerRecord& g) const;
    PlayerRecord joinerRecord(const PlayerRecord& p) const;
    bool inAnyGroup(quint32 player) const;
    QByteArray nameTable(quint32 newcomer, quint32 recipientIp) const;
    void forgetPending(int conn);
    quint32 currentPlayers() const;
    std::optional<quint32> machineOfConnection(int conn) const;

    HostOptions m_options;
    SessionDesc m_desc;
    quint32 m_systemPlayer = 0;
    quint32 m_ownPlayer = 0;
    std::map<quint32, Machine> m_machines;     // by system player id
    std::map<quint32, PlayerRecord> m_players; // ordinary players of the joiners, addresses complete
    std::map<quint32, Pending> m_pending;      // by id
    std::map<quint32, PlayerRecord> m_groups;
    std::vector<quint32> m_groupOrder;
    std::vector<quint16> m_counters; // per id index: reuse counter
    std::vector<bool> m_used;
    std::vector<Event> m_events;
    // Datagrams from players whose CREATEPLAYER (sent over TCP) has not arrived yet: a joiner's
    // first message may overtake it. Bounded, and forgotten after a while.
    struct Early {
        quint32 from = 0;
        QByteArray body;
        qint64 at = 0;
    };
    std::deque<Early> m_early;
};

} // namespace airmesh::dphost
