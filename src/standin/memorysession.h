#pragma once

#include "simlink/session.h"
#include "simlink/sessionqueue.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <deque>
#include <functional>
#include <limits>
#include <map>

namespace airmesh {
inline namespace standin {

class MemorySession;

// An in-memory stand-in for the machine the simulator runs on: it hosts sessions under
// application identifiers, holds the simulator's players and groups, and delivers messages
// between them and the client's players. A test or a bot plays the simulator through it.
class MemoryWorld {
public:
    // Messages waiting for one client beyond this are dropped (and counted).
    static constexpr int kMaxQueuedMessages = 4096;

    struct Sent {
        qint32 from = 0;
        qint32 to = 0;
        QByteArray bytes;
    };

    MemoryWorld();

    // The service providers every session lists, by name.
    void setProviders(const QStringList& names) { m_providers = names; }
    QStringList providers() const { return m_providers; }

    // Hosts a session; returns its instance.
    QByteArray hostSession(const QString& guid, const QString& name = QStringLiteral("FS"),
                           const QString& password = {}, int maxPlayers = 0);
    // Ends a hosted session: every client in it is told the session is lost.
    void endSession(const QByteArray& instance);
    qint32 addHostPlayer(const QByteArray& instance, const QString& friendlyName, const QString& formalName = {});
    qint32 addGroup(const QByteArray& instance, const QString& name);

    // A message from one of the simulator's players: to 0 reaches every client player in the
    // session, otherwise the one addressed.
    void sendFromHost(qint32 from, qint32 to, const SimMessage& message);
    // A session-layer notice (sender 0) to every client in the session.
    void postSystemMessage(const QByteArray& instance, const SimMessage& message);

    // What clients sent to the simulator's players, in order.
    const QList<Sent>& sentToHost() const { return m_sentToHost; }
    QList<Sent> takeSentToHost();
    // Called for every message a client sends to the simulator's players, so a scripted
    // simulator can answer at once.
    std::function<void(const Sent&)> onSendToHost;
    // Called when a client waits for a message and none is queued, with the longest it would
    // wait: a bot really sleeps there, a test moves its clock or has the simulator answer.
    // Without it the wait returns at once.
    std::function<void(int maxMs)> onWait;
    // Called when a client creates a player in a hosted session (the observer, a remote
    // player), and when one of the clients' players leaves it (destroyed, or its client closed),
    // so a scripted simulator sees who is in its session.
    std::function<void(qint32 id, const QString& friendlyName, const QString& formalName)> onClientPlayerCreated;
    std::function<void(qint32 id)> onClientPlayerDestroyed;

    bool playerExists(qint32 id) const { return m_players.contains(id); }
    QString playerFriendlyName(qint32 id) const;
    QString playerFormalName(qint32 id) const;
    QList<qint32> groupMembers(qint32 group) const;
    // Players of the session in creation order.
    QList<qint32> playersIn(const QByteArray& instance) const;
    int droppedMessages() const { return m_dropped; }

private:
    friend class MemorySession;

    struct PlayerRec {
        QString friendly;
        QString formal;
        QByteArray session;
        MemorySession* owner = nullptr; // nullptr: one of the simulator's players
    };
    struct GroupRec {
        QString name;
        QByteArray session;
        QList<qint32> members;
    };
    struct SessionRec {
        QByteArray instance;
        QString guid;
        QString name;
        QString password;
        int maxPlayers = 0;
        QList<qint32> players; // creation order
        QList<qint32> groups;
    };
    qint32 newId();
    SessionRec* session(const QByteArray& instance);
    // A message for one client player (`recipient`), through that client's intake filter; a
    // notice of the session layer comes from sender 0.
    void deliver(MemorySession* to, qint32 from, qint32 addressedTo, qint32 recipient, const QByteArray& bytes);
    void notifyClients(const QByteArray& instance, MemorySession* except, const SimMessage& notice);
    void attach(MemorySession* s) { m_clients.append(s); }
    void detach(MemorySession* s);

    QStringList m_providers;
    std::map<QByteArray, SessionRec> m_sessions;
    QHash<qint32, PlayerRec> m_players;
    QHash<qint32, GroupRec> m_groups;
    QList<MemorySession*> m_clients;
    QList<Sent> m_sentToHost;
    quint32 m_nextId = 0x2F41A7C3;
    int m_nextSession = 1;
    int m_dropped = 0;
};

// A client's session object on a MemoryWorld.
class MemorySession final : public Session {
public:
    explicit MemorySession(MemoryWorld& world);
    ~MemorySession() override;

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
    void setIntakeFilter(IntakeFilter filter) override { m_filter = std::move(filter); }
    void setArrivalNotifier(std::function<void()> notify) override { m_arrival = std::move(notify); }

    bool isOpen() const { return !m_session.isEmpty(); }
    QByteArray openSession() const { return m_session; }

private:
    friend class MemoryWorld;
    // The session is open and still hosted.
    void requireOpen() const;
    // The session was opened and not closed, even if the host has ended it since.
    void requireJoined() const;
    void leave();

    MemoryWorld& m_world;
    bool m_initialized = false;
    QByteArray m_session;
    QList<qint32> m_ownPlayers;
    IntakeFilter m_filter;
    std::function<void()> m_arrival;
    SessionQueue m_queue{MemoryWorld::kMaxQueuedMessages, std::numeric_limits<qint64>::max()};
};

class MemorySessionFactory final : public SessionFactory {
public:
    explicit MemorySessionFactory(MemoryWorld& world) : m_world(world) {}
    std::unique_ptr<Session> DirectPlayCreate(const QString&) override {
        return std::make_unique<MemorySession>(m_world);
    }

private:
    MemoryWorld& m_world;
};

} // namespace standin
} // namespace airmesh
