#include "simlink.h"

#include "simcodec.h"

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

void SimLink::Add_Remote_Player(const QString& handle, qint32 sessionNumber) {
    Session& dp = session();
    const qint32 id = dp.CreatePlayer(handle, handle + QLatin1Char(' ') + handle, 0, 0);
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

        // Last, so that the simulator's answer always finds the entry.
        const Players::PlayerPtr p = m_players.Add(QString::number(id));
        p->Server_Session_ID = sessionNumber;
        p->PlayerHandle = handle;
        p->Rcv_Detailed_Info = true;
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
}

void SimLink::Remove_Remote_Player(qint32 sessionNumber) {
    if (const Players::PlayerPtr p = m_players.findBySession(sessionNumber)) {
        removePlayer(p);
    }
}

void SimLink::removePlayer(const Players::PlayerPtr& player) {
    session().DestroyPlayer(player->Key.toInt());
    const QString handle = player->PlayerHandle;
    m_players.Remove(player->Key);
    m_services.debug(QStringLiteral(" - Removed Player ") + handle);
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
        if (alive) {
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
