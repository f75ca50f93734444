#pragma once

#include "dperr.h"
#include "simmessage.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace airmesh {
inline namespace simlink {

// The simulator's multiplayer session as the client uses it: the operations of a DirectPlay 4
// session object, under the same names. Every failing operation throws dp::DpError with the
// session layer's result code. Positions in the lists are 1-based.

// A service provider the session can use.
struct Connection {
    QString name;
    QByteArray address; // opaque to callers; handed back to InitializeConnection
};

class ConnectionList {
public:
    ConnectionList() = default;
    explicit ConnectionList(QList<Connection> items) : m_items(std::move(items)) {}
    int GetCount() const { return static_cast<int>(m_items.size()); }
    QString GetName(int i) const { return at(i).name; }
    QByteArray GetAddress(int i) const { return at(i).address; }

private:
    const Connection& at(int i) const;
    QList<Connection> m_items;
};

// A session description: what a search looks for, or one session found.
class SessionData {
public:
    void SetGuidApplication(const QString& guid) { m_guid = guid; }
    void SetSessionPassword(const QString& password) { m_password = password; }
    QString GetGuidApplication() const { return m_guid; }
    QString GetSessionPassword() const { return m_password; }
    QString GetSessionName() const { return m_name; }
    void SetSessionName(const QString& name) { m_name = name; }
    // Which session this is, as the back-end knows it; empty in a search description.
    QByteArray instance() const { return m_instance; }
    void setInstance(const QByteArray& instance) { m_instance = instance; }
    // The most ordinary players the session holds (0: no limit), and how many it holds now.
    int GetMaxPlayers() const { return m_maxPlayers; }
    int GetCurrentPlayers() const { return m_currentPlayers; }
    void SetMaxPlayers(int n) { m_maxPlayers = n; }
    void setCurrentPlayers(int n) { m_currentPlayers = n; }

private:
    QString m_guid;
    QString m_password;
    QString m_name;
    QByteArray m_instance;
    int m_maxPlayers = 0;
    int m_currentPlayers = 0;
};

class SessionList {
public:
    SessionList() = default;
    explicit SessionList(QList<SessionData> items) : m_items(std::move(items)) {}
    int GetCount() const { return static_cast<int>(m_items.size()); }
    // Throws DPERR_INVALIDPARAMS for a position that is not in the list.
    SessionData GetItem(int i) const;

private:
    QList<SessionData> m_items;
};

struct GroupInfo {
    qint32 id = 0;
    QString name;
};

class GroupList {
public:
    GroupList() = default;
    explicit GroupList(QList<GroupInfo> items) : m_items(std::move(items)) {}
    int GetCount() const { return static_cast<int>(m_items.size()); }
    qint32 GetItem(int i) const { return at(i).id; }
    QString GetName(int i) const { return at(i).name; }

private:
    const GroupInfo& at(int i) const;
    QList<GroupInfo> m_items;
};

// Flags and reserved ids the client passes.
namespace dpflags {
inline constexpr int ConnectionsServiceProviders = 1; // GetDPEnumConnections
inline constexpr int EnumSessionsAll = 2;             // GetDPEnumSessions: all, not only open ones
inline constexpr int OpenJoin = 1;                    // Open: join an existing session
inline constexpr int QueueReceive = 2;                // GetMessageQueue: the receive queue
inline constexpr int ReceiveAll = 1;                  // Receive: any message
inline constexpr qint32 AllPlayers = 0;               // Send to everybody
inline constexpr qint32 SystemSender = 0;             // sender of session-layer notices
} // namespace dpflags

// One message arriving for one of our players, as the intake filter sees it.
struct Arrival {
    qint32 from = 0;        // the sender
    qint32 addressedTo = 0; // what the sender addressed: a player, a group, or 0 for all players
    qint32 recipient = 0;   // which of our players this copy is for
    qint32 number = 0;      // the message's first 32-bit integer (its number); 0 when shorter
    bool fromOurs = false;  // the sender is one of our own players
};
enum class Intake {
    Drop,       // never queued
    Queue,      // queued; dropped when the queue is full
    QueueFirst, // queued; pushes out a Queue message when the queue is full
};
using IntakeFilter = std::function<Intake(const Arrival&)>;

class Session {
public:
    virtual ~Session() = default;

    virtual ConnectionList GetDPEnumConnections(const QString& guid, int flags) = 0;
    virtual void InitializeConnection(const QByteArray& address) = 0;
    // The session object's own factories, called through it as the session layer's interface has
    // them, so they stay members.
    // NOLINTNEXTLINE(readability-convert-member-functions-to-static)
    SessionData CreateSessionData() const { return {}; }
    virtual SessionList GetDPEnumSessions(const SessionData& search, int timeoutMs, int flags) = 0;
    virtual void Open(const SessionData& session, int flags) = 0;
    virtual void Close() = 0;
    // The open session's description as it stands now: its name, its limit of players and how
    // many ordinary players (not the machines' system players) it holds, ours included.
    virtual SessionData GetSessionDesc() = 0;
    // Returns the new player's id.
    virtual qint32 CreatePlayer(const QString& friendlyName, const QString& formalName, qint64 event, int flags) = 0;
    virtual void DestroyPlayer(qint32 player) = 0;
    virtual GroupList GetDPEnumGroups(const QString& guid, int flags) = 0;
    virtual void AddPlayerToGroup(qint32 group, qint32 player) = 0;
    virtual QString GetPlayerFriendlyName(qint32 player) = 0;
    // NOLINTNEXTLINE(readability-convert-member-functions-to-static)
    SimMessage CreateMessage() const { return {}; }
    // Sends from one of our players to one player, or to all others (to = 0).
    virtual void Send(qint32 from, qint32 to, int flags, const SimMessage& message) = 0;
    // The number of waiting messages; `bytes`, when given, receives their total size.
    virtual int GetMessageQueue(qint32 from, qint32 to, int flags, int* bytes = nullptr) = 0;
    // The next waiting message with its sender and receiver; throws DPERR_NOMESSAGES when none.
    virtual SimMessage Receive(qint32& fromId, qint32& toId, int flags) = 0;
    // Returns once a message waits in the receive queue, or after at most `maxMs` milliseconds
    // when none arrives: lets a caller that polls for an answer give up the processor meanwhile.
    // Never fails; a session that is not open simply waits out the time.
    virtual void waitForMessage(int maxMs) = 0;
    // Which messages for our own players take room in the receive queue. By default every one
    // does: each of our players gets its own copy of what is sent to all players or to a group,
    // and of what our other players send, as DirectPlay delivers them. A program that places
    // many players in the session but reads only some of what they get says here what it
    // wants, so that copies it would throw away never fill the queue. Session-layer notices are
    // always queued. When the queue is full, a message the filter puts first (and any notice)
    // pushes out the oldest waiting message that it did not put first; only when there is none
    // is it dropped. The filter runs on whatever thread the message arrives on: it must look at
    // nothing but its argument and what it holds by value. An empty filter restores the default.
    virtual void setIntakeFilter(IntakeFilter filter) = 0;
    // Called each time a message is queued for the receive queue, so the reader can come for it
    // at once instead of polling. It runs on whatever thread the message arrives on, possibly
    // with the session's own lock held: it must only hand a wake-up on (post an event, set a
    // flag) and never call back into the session. An empty function stops the calls; once this
    // returns, the function it replaced is not running and will not run again. By default a
    // session makes no such calls.
    // By value, so that a back-end keeps it by moving.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual void setArrivalNotifier(std::function<void()> /*notify*/) {}
};

// The root object that creates sessions.
class SessionFactory {
public:
    virtual ~SessionFactory() = default;
    // An empty guid asks for the default implementation.
    virtual std::unique_ptr<Session> DirectPlayCreate(const QString& guid) = 0;
};

} // namespace simlink
} // namespace airmesh
