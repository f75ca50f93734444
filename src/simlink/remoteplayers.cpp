#include "simlink.h"

#include "simcodec.h"

#include <algorithm>

namespace airmesh {
inline namespace simlink {

SimLink::SimLink(ClientServices& services, Players& colPlayers, WindowSystem& windows)
    : m_services(services), m_players(colPlayers), m_chatWindow(windows) {}

void SimLink::adopt(std::unique_ptr<Session> session, JoinedSession joined) {
    m_objDP = std::move(session);
    m_joined = std::move(joined);
    if (m_pumpOnArrival) {
        watchArrivals(true);
    }
}

Session& SimLink::session() {
    if (!m_objDP) {
        throw dp::DpError(dp::DPERR_NOCONNECTION, "no simulator session");
    }
    return *m_objDP;
}

bool SimLink::isSessionFull(const std::exception& e) {
    const auto* dpe = dynamic_cast<const dp::DpError*>(&e);
    return dpe != nullptr && (dpe->code() == dp::DPERR_NONEWPLAYERS || dpe->code() == dp::DPERR_CANTCREATEPLAYER);
}

QString SimLink::waitingKey(qint32 sessionNumber) {
    return QLatin1Char('~') + QString::number(sessionNumber);
}

Players::PlayerPtr SimLink::registerPilot(const QString& handle, qint32 sessionNumber) {
    if (Players::PlayerPtr known = m_players.findBySession(sessionNumber)) {
        return known; // announced again: still the one pilot
    }
    Players::PlayerPtr p = m_players.Add(waitingKey(sessionNumber));
    p->Server_Session_ID = sessionNumber;
    p->PlayerHandle = handle;
    p->Rcv_Detailed_Info = true;
    p->joinOrder = ++m_announced;
    p->joinedMs = m_services.clock.steadyMs();
    return p;
}

Players::PlayerPtr SimLink::Add_Remote_Player(const QString& handle, qint32 sessionNumber) {
    const bool known = m_players.findBySession(sessionNumber) != nullptr;
    Players::PlayerPtr p = registerPilot(handle, sessionNumber);
    if (p->inSession) {
        return p;
    }
    try {
        showRemotePlayer(p);
    } catch (const std::exception&) {
        if (!known && m_players.contains(p.get())) {
            m_players.Remove(p->Key);
        }
        throw;
    }
    return p;
}

void SimLink::showRemotePlayer(const Players::PlayerPtr& p) {
    Q_ASSERT(!p->inSession);
    Session& dp = session();
    const QString& handle = p->PlayerHandle;
    qint32 id = 0;
    try {
        id = dp.CreatePlayer(handle, handle + QLatin1Char(' ') + handle, 0, 0);
    } catch (const std::exception& e) {
        // A full session is no fault: the caller lets the pilot wait.
        if (!noteIfSessionGone(e) && !isSessionFull(e)) {
            m_services.debug(errorLine(QStringLiteral(" - Error Add_Remote_Player "), errorInfo(e)) +
                             QStringLiteral(", player %1 not made").arg(handle));
        }
        throw;
    }
    m_services.lowLevel(QStringLiteral(" - DP.Createplayer done ") + handle);

    try {
        // Without the simulator's request group (not found at the join) the player still
        // goes in, in no group, rather than not at all.
        if (m_joined.intRequestParamsGroup != 0) {
            dp.AddPlayerToGroup(m_joined.objEnumGroups.GetItem(m_joined.intRequestParamsGroup), id);
            m_services.lowLevel(QStringLiteral(" - DP.Addplayertogroup detailed ") + handle);
        } else {
            m_services.lowLevel(QStringLiteral(" - No request group in FS, player in no group: ") + handle);
        }

        sim::writeHeaderOnly(m_objDPMsg, SimMsg::AddPlayerRequest);
        dp.Send(id, dpflags::AllPlayers, 0, m_objDPMsg);
        m_services.lowLevel(QStringLiteral(" - Sent Add_Player_Request ") + handle);

        // Filed under the new id before the simulator can answer: its answer always finds him.
        m_players.rekey(p, QString::number(id));
    } catch (const std::exception& e) {
        if (noteIfSessionGone(e)) {
            throw; // the session has ended, and the player with it
        }
        // A player in the simulator that the registry does not know would never get positions,
        // never be removed, and would stand in the user's sky until the session ends.
        bool removed = true;
        try {
            dp.DestroyPlayer(id);
        } catch (const dp::DpError&) {
            // Nothing more can be done about it; the original failure is what goes on.
            removed = false;
        }
        m_services.debug(errorLine(QStringLiteral(" - Error Add_Remote_Player "), errorInfo(e)) +
                         QStringLiteral(", player %1 %2")
                             .arg(handle, removed ? QStringLiteral("taken out of FS again")
                                                  : QStringLiteral("left in FS, it could not be taken out")));
        throw;
    }
    p->inSession = true;
    p->Add_Success = false;
    p->shownSinceMs = m_services.clock.steadyMs();
    // What came while he waited goes to FS once it has approved his player.
    p->catchUp = p->RcvdPlaneType || !p->lastPosition.isEmpty();
}

void SimLink::hideRemotePlayer(const Players::PlayerPtr& p) {
    Q_ASSERT(p->inSession);
    const qint32 id = p->Key.toInt();
    // Waiting from here on whatever the session says: a player it cannot take out is one it
    // no longer has, or one of a session that is gone.
    p->inSession = false;
    p->Add_Success = false;
    p->catchUp = false;
    m_players.rekey(p, waitingKey(p->Server_Session_ID));
    session().DestroyPlayer(id);
}

void SimLink::Remove_Remote_Player(qint32 sessionNumber) {
    if (const Players::PlayerPtr p = m_players.findBySession(sessionNumber)) {
        removePlayer(p);
    }
}

void SimLink::removePlayer(const Players::PlayerPtr& player) {
    if (player->inSession) {
        session().DestroyPlayer(player->Key.toInt());
    }
    const QString handle = player->PlayerHandle;
    m_players.Remove(player->Key);
    m_services.debug(QStringLiteral(" - Removed Player ") + handle);
}

std::optional<int> SimLink::remotePlaces(int ours) {
    const SessionData d = session().GetSessionDesc();
    if (d.GetMaxPlayers() <= 0) {
        return std::nullopt;
    }
    // Everybody else in it (the user's aircraft, the observer, other programs' players) keeps
    // his place; ours share the rest.
    return std::max(0, d.GetMaxPlayers() - (d.GetCurrentPlayers() - ours));
}

void SimLink::removeAllRemotePlayers(const std::function<void(const std::exception&)>& failed) {
    auto guarded = [&failed](auto&& step) {
        try {
            step();
        } catch (const std::exception& e) {
            failed(e);
        }
    };
    const bool alive = !m_sessionLost;
    for (const Players::PlayerPtr& p : m_players.NewEnum()) {
        if (alive && p->inSession) {
            guarded([&] { session().DestroyPlayer(p->Key.toInt()); });
        }
        m_services.debug(QStringLiteral(" - Removed Player ") + p->PlayerHandle);
        guarded([&] { m_players.Remove(p->Key); });
    }
}

void SimLink::answerPlayerQuery(qint32 fromPlayer) {
    SimMessage reply;
    sim::writeHeaderOnly(reply, SimMsg::AddPlayerApproved);
    sendToAll(fromPlayer, reply);
}

void SimLink::queryUserAircraft() {
    Session& dp = session();
    SimMessage m = dp.CreateMessage();
    sim::writeQueryPlaneOnLogon(m);
    dp.Send(m_joined.lngMyPlayerID, m_joined.lngHostPlayerID, 0, m);
}

void SimLink::sendTextLine(const QString& text) {
    if (text.isEmpty()) {
        // No text at all: the bare header, not a lone zero byte.
        sim::writeHeaderOnly(m_objDPMsg, SimMsg::ChatMessage);
    } else {
        sim::writeChat(m_objDPMsg, SimMsg::ChatMessage, text);
    }
    sendToAll(m_joined.lngMyPlayerID, m_objDPMsg);
}

void SimLink::sendToAll(qint32 fromPlayer, const SimMessage& message) {
    session().Send(fromPlayer, dpflags::AllPlayers, 0, message);
}

void SimLink::closeSession() {
    if (!m_objDP) {
        return;
    }
    watchArrivals(false);
    try {
        m_objDP->Close();
    } catch (const dp::DpError&) {
        // Quitting: the session object goes away all the same.
    }
    m_objDP.reset();
}

} // namespace simlink
} // namespace airmesh
