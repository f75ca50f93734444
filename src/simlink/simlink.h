#pragma once

#include "chatwindow.h"
#include "session.h"
#include "simmessage.h"

#include "core/clientservices.h"
#include "registry/players.h"

#include <functional>
#include <memory>

namespace airmesh {

// What the simulator side needs of the server link: whether the client is logged on, and the
// records that carry the user's traffic to the server.
class RelayOutput {
public:
    virtual ~RelayOutput() = default;
    // blnConnected: logged on; gates all relay traffic.
    virtual bool isConnected() const = 0;
    // AircraftDetails over UDP, the title followed by U+0000.
    virtual void sendOwnAircraft(qint32 engineType, const QString& title) = 0;
    virtual void sendQueryPlane() = 0;
    virtual void sendPlayerCrashed() = 0;
    // PositionUpdate over UDP with the 52-byte block unchanged.
    virtual void sendPosition(const QByteArray& block) = 0;
    // A chat line over TCP: its pieces one after another, each once the previous send has
    // completed, then the end mark; " - Send Chat to Host" is logged once the end mark is out.
    virtual void sendChat(const QString& text) = 0;
};

// The simulator link: the joined session and everything done in it.
class SimLink {
public:
    // The two application identifiers the simulator hosts its session under.
    static inline const QString kFirstAppGuid = QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}");
    static inline const QString kSecondAppGuid = QStringLiteral("{1F0CB318-F159-432F-8C38-8CE753A03CDA}");
    static constexpr int kAnswerPeriodSeconds = 15;

    SimLink(ClientServices& services, Players& colPlayers, WindowSystem& windows);

    // ---- Joining (join.cpp) ----
    // Finds the simulator's session, joins it as the observer and learns the user's handle.
    // Returns false on failure: the user has been shown why and the session is closed and
    // cleared, except after a cancelled address prompt, which shows nothing and leaves it be.
    bool Join_Session(SessionFactory& objDX);

    // State the join leaves behind.
    std::unique_ptr<Session> objDP;
    qint32 lngMyPlayerID = 0;   // the observer
    qint32 lngHostPlayerID = 0; // the user's own simulator player
    QString strHandle;          // its friendly name: the user's handle
    bool blnAltGuid = false;    // joined under the second application identifier
    QString strAppGuid;
    GroupList objEnumGroups;
    int intRequestParamsGroup = 0; // 1-based positions in objEnumGroups; 0 when absent
    int intRefuseParamsGroup = 0;
    SimMessage objDPMsg;

    // ---- Message pump and handling (pump.cpp) ----
    // Drains the receive queue once and dispatches each message addressed to the observer, and
    // the simulator's rejections and queries (4101, 4103) addressed to one of our remote players
    // (the pump part of a Timer1 tick). A tick that finds a dispatch already running does
    // nothing; it neither receives nor waits. Never throws.
    void pumpMessages();
    bool blnPumpBusy = false;
    // The reaction to one message from the session; never throws.
    void Process_MP_Packet(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer,
                           qint32 lngNoBytes);
    // The user's aircraft as last reported by the simulator.
    qint32 lngMyEngineType = 0;
    QString strMyAircraft;
    // The server link; nothing is forwarded while it is unset.
    void setRelay(RelayOutput* relay) { m_relay = relay; }
    // What of the session's traffic the pump reads, for the session's intake: nothing our own
    // players send, everything for the observer (first when the queue is full), and of what
    // reaches our remote players only the simulator's questions to them and its rejections
    // addressed to one of them.
    static IntakeFilter intakeFilter(qint32 observer);

    // ---- The end of the simulator's session ----
    // Its notice came, or a session operation failed with DPERR_SESSIONLOST or
    // DPERR_CONNECTIONLOST: logged once, then `onSessionLost` runs once. From then on the pump
    // reads nothing and no error of the dead session is logged.
    void noteSessionLost();
    bool sessionLost() const { return m_sessionLost; }
    std::function<void()> onSessionLost;
    // True, after noting the loss, when `e` says the session is gone.
    bool noteIfSessionGone(const std::exception& e);

    // ---- Remote players (remoteplayers.cpp) ----
    // Places a pilot announced by the server into the session and the registry. Throws the
    // session's error on failure, leaving no player behind in either.
    void Add_Remote_Player(const QString& handle, qint32 sessionNumber);
    // Takes the first pilot with that server session number out of the session and the registry.
    void Remove_Remote_Player(qint32 sessionNumber);
    // A text line shown in the simulator: a ChatMessage from the observer to all players. An
    // empty text goes out with payload length 0 and no zero byte.
    void sendTextLine(const QString& text);
    // Sends `message` from one of our players to all players.
    void sendToAll(qint32 fromPlayer, const SimMessage& message);
    // Closes and clears the session, ignoring any failure (quitting).
    void closeSession();

    // ---- Chat window upkeep (chatwindow.cpp) ----
    void Scroll_Chat_Window() { m_chatWindow.Scroll_Chat_Window(blnAltGuid); }
    ChatWindowBridge& chatWindow() { return m_chatWindow; }

    ClientServices& services() { return m_services; }
    Players& players() { return m_players; }

private:
    void forwardChat(SimMessage& dpMsg, qint32 lngNoBytes);
    // The reactions of Process_MP_Packet, outside its error trap; false: not handled.
    bool react(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer, qint32 lngNoBytes);
    // One received message: logged and dropped, dispatched, or dropped silently.
    void dispatch(SimMessage& dpMsg, qint32 fromId, qint32 toId);
    // Logged on to the server through a relay.
    bool relayConnected() const { return m_relay && m_relay->isConnected(); }
    // The joined session; throws DPERR_NOCONNECTION when there is none.
    Session& session();
    // Takes one registry player out of the session and the registry.
    void removePlayer(const Players::PlayerPtr& player);

    ClientServices& m_services;
    Players& m_players;
    ChatWindowBridge m_chatWindow;
    RelayOutput* m_relay = nullptr;
    bool m_sessionLost = false;
};

} // namespace airmesh
