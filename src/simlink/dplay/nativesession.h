#pragma once

#include "node.h"
#include "reassembly.h"

#include "simlink/session.h"
#include "simlink/sessionqueue.h"

#include <QSet>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace airmesh::dplay {

// The TCP/IP service provider's question for the host address. Returns the address typed
// ("localhost", "192.168.1.5", optionally ":port" for the enumeration port; empty = search the
// local network), or nullopt when the user cancelled.
using AddressPrompt = std::function<std::optional<QString>(const QString& suggested)>;

struct NativeOptions {
    AddressPrompt prompt; // none: the suggested address is used
    QString suggestedAddress = QStringLiteral("localhost");
    std::function<void(const QString&)> rememberAddress; // called with the address once a session is found
    std::function<void(const QString&)> log;
    int enumWindowMs = 3000; // a search with time-out 0
    int enumResendMs = 500;
    int enumSettleMs = 30; // a host that answered a direct question has said all it will after this
    // A host asked at its address that has not answered after this is also searched for by
    // broadcast for the rest of the search.
    int enumBroadcastAfterMs = 1000;
    int connectTimeoutMs = 5000;
    int playerIdTimeoutMs = 15000;
    int nameTableTimeoutMs = 30000;
    int pingIntervalMs = 35000;
    int pingMisses = 8;
    int maxQueuedMessages = 8192;
    qint64 maxQueuedBytes = qint64{16} * 1024 * 1024;
    // The clock every period above runs on, and the fragments' expiry; none: the system's
    // steady clock. Tests move a manual one by hand.
    std::shared_ptr<NodeClock> clock;
};

// The session a joining program uses, speaking DirectPlay 4 on the wire: finds sessions with
// ENUMSESSIONS, joins with REQUESTPLAYERID / ADDFORWARDREQUEST, keeps the name table, creates
// and destroys its players, sends and receives player messages, and turns wire events into the
// session layer's notices. Every failure throws dp::DpError with DirectPlay's result code.
class NativeSession final : public Session, private Node {
public:
    explicit NativeSession(NativeOptions options);
    ~NativeSession() override;

    static constexpr const char* kProviderName = "Internet TCP/IP Connection For DirectPlay";
    static constexpr const char* kProviderGuid = "{36E95EE0-8577-11CF-960C-0080C7534E82}";

    ConnectionList GetDPEnumConnections(const QString& guid, int flags) override;
    void InitializeConnection(const QByteArray& address) override;
    SessionList GetDPEnumSessions(const SessionData& search, int timeoutMs, int flags) override;
    void Open(const SessionData& session, int flags) override;
    void Close() override;
    SessionData GetSessionDesc() override;
    qint32 CreatePlayer(const QString& friendlyName, const QString& formalName, qint64 event, int flags) override;
    void DestroyPlayer(qint32 player) override;
    GroupList GetDPEnumGroups(const QString& guid, int flags) override;
    void AddPlayerToGroup(qint32 group, qint32 player) override;
    QString GetPlayerFriendlyName(qint32 player) override;
    void Send(qint32 from, qint32 to, int flags, const SimMessage& message) override;
    int GetMessageQueue(qint32 from, qint32 to, int flags, int* bytes = nullptr) override;
    SimMessage Receive(qint32& fromId, qint32& toId, int flags) override;
    void waitForMessage(int maxMs) override;
    void setIntakeFilter(IntakeFilter filter) override;
    void setArrivalNotifier(std::function<void()> notify) override;

    // For tests and logs.
    quint16 listenPort() const { return tcpPort(); }
    quint16 datagramPort() const { return udpPort(); }
    quint32 systemPlayerId() const;
    bool isOpen() const;
    bool sessionLost() const;
    // How many of our keep-alive pings the host has answered; any thread.
    int pingsAnswered() const { return m_pingsAnswered.load(std::memory_order_relaxed); }
    qint64 droppedMessages() const;

private:
    struct Found {
        SessionDesc desc;
        QString name;
        quint32 hostIp = 0;
        quint16 hostPort = 0;
        quint16 hostVersion = kDialect;
    };

    // The search: the address asked for once, the questions sent until the window closes or a
    // host asked directly has answered, and the sessions found.
    void chooseAddress();
    void searchFor(NodeClock::Lock& lock, const QByteArray& request, qint64 window);
    void sendSearch(quint32 ip, const QByteArray& request, QSet<quint32>& unsendable);
    SessionList foundSessions();
    // The join: the session found by the search, refused here when this client cannot use it,
    // and the name table the host answered with.
    Found sessionToJoin(const SessionData& session) const;
    void adoptNameTable(quint32 hostIp);

    void handle(const WireMessage& m, const Origin& origin) override;
    void connectionClosed(int conn) override;
    void tick(qint64 nowMs) override;

    // A system message: one switch over its command, to the handlers below.
    void handleSystem(const WireMessage& m, const Origin& origin);
    // A command a joiner has no use for; logged once the session is open.
    void ignore(quint16 command);
    // Session search.
    void takeSearchAnswer(const WireMessage& m, const Origin& origin);
    // Join and name table.
    void takePlayerId(const WireMessage& m);
    void takeNameTable(Command c, const WireMessage& m);
    void takeJoinRefusal(const WireMessage& m);
    // Players and groups of the open session.
    void takeCreated(Command c, const WireMessage& m, const Origin& origin);
    void takeDeletedPlayer(const WireMessage& m);
    void takeDeletedGroup(const WireMessage& m);
    void takeMembership(Command c, const WireMessage& m);
    // Keep-alive: the host's pings are answered the way they came.
    void answerPing(const WireMessage& m, const Origin& origin);
    void handlePlayerMessage(const WireMessage& m);
    // A PACKET fragment: once it completes its message, that message is handled as if it had
    // arrived in one piece.
    void handleFragment(const WireMessage& m, const Origin& origin);
    void addRecord(PlayerRecord p, quint32 sourceIp);
    void removePlayer(quint32 id);
    // A player message for one of our players, through the intake filter.
    void offerMessage(quint32 from, quint32 addressedTo, quint32 recipient, const QByteArray& bytes);
    void queueMessage(quint32 from, quint32 to, const QByteArray& bytes, bool first);
    void queueSystem(dp::SysMsg type, std::initializer_list<quint32> fields);
    void markLost(const QString& why);
    void sendToHost(Command c, const QByteArray& body);
    void sendToEveryMachine(Command c, const QByteArray& body);
    void requireOpen() const;
    quint32 requestPlayerId(quint32 flags);
    PlayerRecord ownAddressRecord() const;
    // Waits on the node's lock until `done` or until `ms` have passed on the session's clock;
    // false on time-out.
    bool waitFor(NodeClock::Lock& lock, int ms, const std::function<bool()>& done);

    NativeOptions m_options;
    bool m_initialized = false;
    std::optional<QString> m_address; // asked once per session object
    quint32 m_targetIp = 0;
    quint16 m_targetPort = kEnumPort;
    bool m_broadcast = false;

    // Search
    Guid m_searchApp{};
    std::map<Guid, Found> m_found;
    std::vector<Guid> m_foundOrder;
    qint64 m_lastAnswerMs = 0;
    quint64 m_answers = 0; // answers taken so far, so that a search wakes for each

    // Join
    bool m_joining = false;
    bool m_open = false;
    bool m_lost = false;
    Found m_session;
    int m_hostConn = -1;
    quint16 m_version = kDialect;
    quint32 m_sysPlayer = 0;
    quint32 m_hostSysPlayer = 0;
    std::optional<PlayerIdReply> m_idReply;
    bool m_idWaiting = false;
    std::optional<NameTable> m_table;
    std::optional<quint32> m_joinError;

    std::map<quint32, PlayerRecord> m_players; // every player of the session but our system player
    std::map<quint32, PlayerRecord> m_groups;
    std::vector<quint32> m_groupOrder;
    std::set<quint32> m_local; // our ordinary players
    std::mutex m_requestMutex; // one REQUESTPLAYERID at a time

    Reassembly m_fragments;
    IntakeFilter m_filter;
    SessionQueue m_queue;
    std::function<void()> m_arrival; // called under m_mutex, so clearing it waits for a running call

    qint64 m_lastHeardMs = 0;
    qint64 m_lastPingMs = 0;
    std::atomic<int> m_pingsAnswered{0};
    int m_missedPings = 0;
};

class NativeSessionFactory final : public SessionFactory {
public:
    explicit NativeSessionFactory(NativeOptions options) : m_options(std::move(options)) {}
    std::unique_ptr<Session> DirectPlayCreate(const QString& guid) override;

private:
    NativeOptions m_options;
};

} // namespace airmesh::dplay
