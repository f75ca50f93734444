#pragma once

#include "core/clientservices.h"
#include "hangar/matcher.h"
#include "hangar/titlechoice.h"
#include "registry/players.h"
#include "serverlink/relayoutput.h"
#include "serverlink/serverevents.h"
#include "simlink/simlink.h"

#include <memory>
#include <optional>
#include <vector>

namespace airmesh {
inline namespace relay {

// What the traffic means on the other side: a server record in the simulator (the reactions of
// Process_Packet and Process_TCPPacket: remote players, their positions, aircraft, crashes and
// chat, the answer to a plane query, the logon's text lines and plane query, and Set_Closed's
// clean-up), and a simulator message on the server (Process_MP_Packet). The server link and the
// simulator link never meet but here.
//
// It connects itself to nothing: start-up hands it to the links (SimLink::setHandler,
// ServerLink::setEvents and setLogonDetails).
class Relay : public ServerEvents, public LogonDetails, public SimMessageHandler {
public:
    // The most chat text gathered for one pilot while the end mark has not come; far above
    // any chat line the simulator lets a user type. Pieces beyond it are dropped and logged.
    static constexpr int kMaxChatTextChars = 4096;
    // A chat piece this long after the pilot's previous one starts afresh: what was gathered
    // before it is dropped.
    static constexpr qint64 kChatPieceGapMs = 5000;
    // The number of the failure when a chat end mark comes from a pilot not in the registry.
    static constexpr int kErrNoMatchingPlayer = 91;
    // The most pilots kept in the registry; a server that announces more is not believed.
    static constexpr int kMaxPilots = 4096;
    // A pilot whose player could not be made (for a reason other than a full session) is
    // tried again after this.
    static constexpr qint64 kRetryShowMs = 30000;
    // Why pilots wait: the session holds no more, or the user's [General] MaxShown.
    enum class WaitReason { SessionFull, MaxShown };

    // Acts in `sim` and sends the user's traffic to `out`.
    Relay(ClientServices& services, SimLink& sim, Players& colPlayers, RelayOutput& out);
    ~Relay() override = default;
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // The user's aircraft as last reported by the simulator.
    qint32 lngMyEngineType() const { return m_lngMyEngineType; }
    const QString& strMyAircraft() const { return m_strMyAircraft; }
    // The user's aircraft's last position block from the simulator (empty before the first),
    // and when it came on the clock's steady milliseconds.
    const QByteArray& myPosition() const { return m_myPosition; }
    qint64 myPositionMs() const { return m_myPositionMs; }

    // Builds the aircraft matching's index from the scanned hangar (once, after the scan);
    // from then on remote aircraft are shown as the closest installed one unless the user
    // chose otherwise. Before, they are shown as GetAlias says.
    void useHangar(const Hangar& hangar);
    const Matcher* matcher() const { return m_matcher.get(); }

    // ---- Who is shown while more pilots are online than the session holds (placekeeping.cpp) ----
    // For every Timer1 tick: a full pass every two seconds (free places, then swaps toward the
    // nearest pilots), and in between free places filled once they may be. Never throws.
    void keepPlaces();
    // Why pilots wait, as of the last pass.
    WaitReason waitReason() const { return m_waitReason; }

    // ---- A simulator message on the server (simreactions.cpp) ----
    void Process_MP_Packet(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer,
                           qint32 lngNoBytes) override;

    // ---- A server record in the simulator (serverreactions.cpp) ----
    void logonAccepted(const QString& greeting) override;
    void loggedOn() override;
    void logonRejected() override;
    void playerJoined(qint32 session, const QString& handle) override;
    void playerLeft(qint32 session) override;
    void playerCrashed(qint32 session, const QString& text) override;
    void queryPlane(qint32 session) override;
    void positionUpdate(qint32 session, const QByteArray& block) override;
    void aircraftDetails(qint32 session, qint32 engineType, const QString& title) override;
    void chatPiece(qint32 session, const QString& piece) override;
    void linkClosed() override;
    void linkCue(LinkCue cue) override;

    // ---- What the logon says of the user ----
    QString logonHandle() const override;
    UserAircraft userAircraft() const override;

private:
    // Runs a reaction to a server record in the simulator's session. A failure that says the
    // session is gone is noted once (SimLink's loss) and goes no further: it is not the
    // record's, and the server link logs nothing for it. Once the session is gone, traffic
    // has nowhere to go and `traffic` reactions do nothing.
    enum class Kind { Logon, Traffic };
    template <typename F> void inSession(Kind kind, F&& reaction);
    // The traffic reactions themselves.
    void answerPlaneQuery(qint32 session);
    void placePosition(qint32 session, const QByteArray& block);
    void placeAircraft(qint32 session, qint32 engineType, const QString& title);
    void gatherChat(qint32 session, const QString& piece);
    // The places: the pass, and its steps.
    void arrangePlaces(bool full);
    std::optional<int> placesAllowed(int shown);
    enum class Shown { Yes, Refused, Failed };
    Shown show(const Players::PlayerPtr& p);
    void hide(const Players::PlayerPtr& p);
    // Logs once each pilot of the pass who has started to wait.
    void noteWaiting(const std::vector<Players::PlayerPtr>& pilots);
    // A pilot shown after waiting, now approved: what came for him meanwhile goes to FS.
    void catchUp(const Players::PlayerPtr& p);

    // The reactions of Process_MP_Packet, outside its error trap; false: not handled.
    bool react(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer, qint32 lngNoBytes);
    void forwardChat(SimMessage& dpMsg, qint32 lngNoBytes);
    // Logs `e` as "<prefix><number> <text>", unless it says the simulator's session is gone.
    void logError(const QString& prefix, const std::exception& e);

    ClientServices& m_services;
    SimLink& m_sim;
    Players& m_players;
    RelayOutput& m_out;
    qint32 m_lngMyEngineType = 0;
    QString m_strMyAircraft;
    QByteArray m_myPosition;
    qint64 m_myPositionMs = 0;
    std::unique_ptr<Matcher> m_matcher;
    TitleChooser m_titles;
    std::optional<int> m_refusedAt;     // the session refused a player when this many were shown
    std::optional<int> m_roomAtRefusal; // and what its description said it had room for
    WaitReason m_waitReason = WaitReason::SessionFull;
    qint64 m_lastPassMs = 0;
    bool m_fillDue = false;     // the last pass kept free places: for the next tick
    qint64 m_settleUntilMs = 0; // after a logon, no places are given before this
};

} // namespace relay
} // namespace airmesh
