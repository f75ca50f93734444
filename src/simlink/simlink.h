#pragma once

#include "chatwindow.h"
#include "session.h"
#include "simmessage.h"

#include "core/clientservices.h"
#include "registry/players.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace airmesh {
inline namespace simlink {

// What a join leaves behind: the session's players and groups as the client uses them.
struct JoinedSession {
    qint32 lngMyPlayerID = 0;   // the observer
    qint32 lngHostPlayerID = 0; // the user's own simulator player
    QString strHandle;          // its friendly name: the user's handle
    bool blnAltGuid = false;    // joined under the second application identifier
    QString strAppGuid;
    GroupList objEnumGroups;
    int intRequestParamsGroup = 0; // 1-based positions in objEnumGroups; 0 when absent
    int intRefuseParamsGroup = 0;
};

// What the message pump hands each message it dispatches to: the reactions to the simulator.
class SimMessageHandler {
public:
    virtual ~SimMessageHandler() = default;
    // The reaction to one message from the session, read up to its header; never throws.
    virtual void Process_MP_Packet(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer,
                                   qint32 lngNoBytes) = 0;
};

// The simulator link: the joined session and everything done in it. It knows nothing of the
// server: what a message means for the server is the handler's business.
class SimLink {
public:
    // The two application identifiers the simulator hosts its session under.
    static inline const QString kFirstAppGuid = QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}");
    static inline const QString kSecondAppGuid = QStringLiteral("{1F0CB318-F159-432F-8C38-8CE753A03CDA}");
    static constexpr int kAnswerPeriodSeconds = 15;

    SimLink(ClientServices& services, Players& colPlayers, WindowSystem& windows);

    // ---- Joining (join.cpp) ----
    // Finds the simulator's session, joins it as the observer and learns the user's handle.
    // Returns what the join found, which the link keeps. Returns nothing on failure: the user
    // has been shown why and the session is closed and cleared, except after a cancelled
    // address prompt, which shows nothing and leaves it be.
    std::optional<JoinedSession> Join_Session(SessionFactory& objDX);

    // Takes `session`, joined as the observer, and what its join found: from now on the link
    // acts in it (and the pump reads it on arrival, once asked to). The join ends here; so does
    // whoever joins by other means.
    void adopt(std::unique_ptr<Session> session, JoinedSession joined);

    // The joined session object; null before a join, after a failed one and once closed.
    Session* objDP() const { return m_objDP.get(); }
    const JoinedSession& joined() const { return m_joined; }
    qint32 lngMyPlayerID() const { return m_joined.lngMyPlayerID; }
    qint32 lngHostPlayerID() const { return m_joined.lngHostPlayerID; }
    const QString& strHandle() const { return m_joined.strHandle; }
    bool blnAltGuid() const { return m_joined.blnAltGuid; }
    const QString& strAppGuid() const { return m_joined.strAppGuid; }
    const GroupList& objEnumGroups() const { return m_joined.objEnumGroups; }
    int intRequestParamsGroup() const { return m_joined.intRequestParamsGroup; }
    int intRefuseParamsGroup() const { return m_joined.intRefuseParamsGroup; }
    // The message last built for the session by the join or a text line.
    const SimMessage& objDPMsg() const { return m_objDPMsg; }

    // ---- Message pump and handling (pump.cpp) ----
    // Drains the receive queue once and dispatches each message addressed to the observer, and
    // the simulator's rejections and queries (4101, 4103) addressed to one of our remote players,
    // to the handler (the pump part of a Timer1 tick). A tick that finds a dispatch already
    // running does nothing; it neither receives nor waits. Never throws.
    void pumpMessages();
    // From now on the pump also runs as soon as the session queues a message, not only on
    // Timer1's ticks: the session's arrival notice becomes a queued call on this thread that runs
    // pumpMessages (never the chat window upkeep or the link watch). Wake-ups are coalesced: at
    // most one waits in the event queue, and each takes what the queue holds when it runs, so a
    // flood is still taken in batches with other events between them. A wake-up that finds a
    // dispatch running is made up for once that dispatch ends. Nothing is read before this is
    // called, while a join runs, once the session is closed or after its loss.
    void pumpOnArrival();
    // A dispatch of the pump is running.
    bool blnPumpBusy() const { return m_blnPumpBusy; }
    void setHandler(SimMessageHandler* handler) { m_handler = handler; }
    // What of the session's traffic the pump reads, for the session's intake: nothing our own
    // players send, everything for the observer (first when the queue is full), and of what
    // reaches our remote players only the simulator's questions to them and its rejections
    // addressed to one of them.
    static IntakeFilter intakeFilter(qint32 observer);

    // ---- The end of the simulator's session ----
    // Its notice came, or a session operation failed with DPERR_SESSIONLOST or
    // DPERR_CONNECTIONLOST: logged once, then the `onSessionLost` set here runs once. From then
    // on the pump reads nothing and no error of the dead session is logged.
    void noteSessionLost();
    bool sessionLost() const { return m_sessionLost; }
    void setOnSessionLost(std::function<void()> onSessionLost) { m_onSessionLost = std::move(onSessionLost); }
    // True, after noting the loss, when `e` says the session is gone.
    bool noteIfSessionGone(const std::exception& e);

    // ---- Remote players (remoteplayers.cpp) ----
    // Every pilot the server announces has one registry entry. He is shown (a player of his in
    // the session) or waiting (none), as the relay decides.
    // The key of a waiting pilot's entry: "~" and his session number, which no player id reads as.
    static QString waitingKey(qint32 sessionNumber);
    // Files a pilot in the registry, waiting. A session number already there is that pilot
    // announced again: his entry is returned as it is.
    Players::PlayerPtr registerPilot(const QString& handle, qint32 sessionNumber);
    // Gives a waiting pilot his player in the session: created, put into the request group,
    // its addition asked for, and his entry filed under its id. Throws the session's error,
    // leaving him waiting and no player of his in the session; logs it unless it is the
    // session's end or isSessionFull.
    void showRemotePlayer(const Players::PlayerPtr& p);
    // Takes a shown pilot's player out of the session; his entry stays, waiting. Throws the
    // session's error once he is waiting.
    void hideRemotePlayer(const Players::PlayerPtr& p);
    // The host refused a player because its session is full (DPERR_NONEWPLAYERS, or
    // DPERR_CANTCREATEPLAYER, as DirectPlay itself says it when the count is reached).
    static bool isSessionFull(const std::exception& e);
    // Registers a pilot and shows him at once. Throws the session's error on failure, leaving no
    // player behind in either.
    Players::PlayerPtr Add_Remote_Player(const QString& handle, qint32 sessionNumber);
    // Takes the pilot with that server session number out of the session and the registry.
    void Remove_Remote_Player(qint32 sessionNumber);
    // Takes one registry player out of the session (when shown) and the registry.
    void removePlayer(const Players::PlayerPtr& player);
    // How many remote players of ours the session has room for, the `ours` shown now included;
    // none when the session sets no limit. What its description says now, not a promise: a host
    // may still refuse a player.
    std::optional<int> remotePlaces(int ours);
    // Takes every registry player out of the session (unless the session has ended) and out of
    // the registry, logging " - Removed Player <handle>" for each; a step that fails goes to
    // `failed` and the rest goes on: the pilots are gone with the link whatever the session says.
    void removeAllRemotePlayers(const std::function<void(const std::exception&)>& failed);
    // The simulator's question about one of our remote players answered: AddPlayerApproved,
    // without payload, from that player to all.
    void answerPlayerQuery(qint32 fromPlayer);
    // Asks the user's own simulator player for its aircraft (QueryPlane from the observer); the
    // answer comes through the pump.
    void queryUserAircraft();
    // A text line shown in the simulator: a ChatMessage from the observer to all players. An
    // empty text goes out with payload length 0 and no zero byte.
    void sendTextLine(const QString& text);
    // Sends `message` from one of our players to all players.
    void sendToAll(qint32 fromPlayer, const SimMessage& message);
    // Closes and clears the session, ignoring any failure (quitting).
    void closeSession();
    // The joined session; throws DPERR_NOCONNECTION when there is none.
    Session& session();

    // ---- Chat window upkeep (chatwindow.cpp) ----
    void Scroll_Chat_Window() { m_chatWindow.Scroll_Chat_Window(m_joined.blnAltGuid); }
    ChatWindowBridge& chatWindow() { return m_chatWindow; }

    ClientServices& services() { return m_services; }
    Players& players() { return m_players; }

private:
    // One received message: logged and dropped, dispatched, or dropped silently.
    void dispatch(SimMessage& dpMsg, qint32 fromId, qint32 toId);
    // Installs (or, when off, removes) the arrival notice on the current session.
    void watchArrivals(bool on);
    // Posts one wake-up of the pump unless one is already waiting. Any thread.
    void postWakeUp();

    ClientServices& m_services;
    Players& m_players;
    ChatWindowBridge m_chatWindow;
    SimMessageHandler* m_handler = nullptr;
    // The wake-ups' state lives before the session, so that it outlasts the session's thread.
    QObject m_wakeTarget; // the queued wake-ups are its events: they go with it
    std::atomic<bool> m_wakePending{false};
    bool m_pumpOnArrival = false;
    bool m_wakeMissed = false;
    bool m_joining = false;
    std::unique_ptr<Session> m_objDP;
    JoinedSession m_joined;
    SimMessage m_objDPMsg;
    bool m_blnPumpBusy = false;
    quint64 m_announced = 0; // pilots registered so far: their join order
    std::function<void()> m_onSessionLost;
    bool m_sessionLost = false;
};

} // namespace simlink
} // namespace airmesh
