#include "relay.h"

#include "simlink/simcodec.h"

namespace airmesh {
inline namespace relay {

void Relay::Process_MP_Packet(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer,
                              qint32 lngNoBytes) {
    try {
        if (!react(dpMsg, lngMsgNo, lngFromPlayer, lngToPlayer, lngNoBytes)) {
            m_services.lowLevel(QStringLiteral(" - Missed Packet ") + QString::number(lngMsgNo));
        }
    } catch (const std::exception& e) {
        logError(QStringLiteral(" - Error Process_MP_Packet "), e);
    }
}

bool Relay::react(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer, qint32 lngNoBytes) {
    // Numbers outside the table match no case and count as not handled.
    switch (static_cast<SimMsg>(lngMsgNo)) {
    case SimMsg::Unnamed4096:
    case SimMsg::Unnamed4119:
    case SimMsg::Unnamed4120:
        return true;

    case SimMsg::AddPlayerApproved: {
        const qint32 id = sim::readApprovedPlayerId(dpMsg);
        if (const Players::PlayerPtr p = m_players.findByPlayerId(id)) {
            p->Add_Success = true;
            m_services.debug(QStringLiteral(" - Player addition approved: ") + p->PlayerHandle);
            if (p->catchUp) {
                catchUp(p);
            }
        }
        return true;
    }

    case SimMsg::AddPlayerRejected: {
        // The rejected player is named after the header when the simulator says which; else it
        // is the player the rejection was addressed to (the intake passes no copies of a
        // rejection sent to all). Only that one player is taken out, whatever else shares its
        // server session number, and a copy that comes after it is gone finds nobody.
        Players::PlayerPtr p;
        if (lngNoBytes >= 4 && dpMsg.remaining() >= 4) {
            p = m_players.findByPlayerId(dpMsg.ReadLong());
        }
        if (!p) {
            p = m_players.findByPlayerId(lngToPlayer);
        }
        if (p) {
            // He stays listed, without a player in FS, and is not offered to it again; his
            // place goes to the nearest who waits.
            m_services.debug(QStringLiteral(" - Player addition Rejected by your machine: ") + p->PlayerHandle);
            p->rejectedByFs = true;
            m_sim.hideRemotePlayer(p);
            arrangePlaces(true);
        }
        return true;
    }

    case SimMsg::PlayerQuery:
        if (const Players::PlayerPtr p = m_players.findByPlayerId(lngToPlayer)) {
            m_sim.answerPlayerQuery(p->Key.toInt());
        }
        return true;

    case SimMsg::AircraftDetails:
        if (lngFromPlayer == m_sim.lngHostPlayerID()) {
            // Both fields are read before either is kept, so a cut message changes nothing.
            const sim::AircraftDetails d = sim::readAircraftDetails(dpMsg);
            m_lngMyEngineType = d.engineType;
            m_strMyAircraft = d.title;
            m_services.debug(QStringLiteral(" - Your aircraft is ") + m_strMyAircraft +
                             engineTypeText(m_lngMyEngineType));
            if (m_out.isConnected()) {
                m_out.sendOwnAircraft(m_lngMyEngineType, m_strMyAircraft);
                m_services.debug(QStringLiteral(" - Send Aircraft Details to Host"));
            }
        }
        return true;

    case SimMsg::QueryPlane:
        if (m_out.isConnected()) {
            m_out.sendQueryPlane();
            m_services.lowLevel(QStringLiteral(" - Query all players on plane type"));
        }
        return true;

    case SimMsg::PlayerCrashed:
        if (m_out.isConnected()) {
            m_out.sendPlayerCrashed();
            m_services.lowLevel(QStringLiteral(" - Send Player Crashed to host"));
        }
        return true;

    case SimMsg::PositionUpdate:
        if (lngFromPlayer == m_sim.lngHostPlayerID() && lngToPlayer == m_sim.lngMyPlayerID()) {
            if (m_out.isConnected()) {
                m_myPosition = sim::readPositionBlock(dpMsg);
                m_out.sendPosition(m_myPosition);
            } else if (dpMsg.remaining() >= kPositionBlockBytes) {
                // Where the user is, for the traffic picture, also while not logged on; a
                // short block then goes unread, as it always did.
                m_myPosition = sim::readPositionBlock(dpMsg);
            }
            m_myPositionMs = m_services.clock.steadyMs();
        }
        return true;

    case SimMsg::ChatMessageAlt:
        if (!m_sim.blnAltGuid()) {
            return false;
        }
        [[fallthrough]];
    case SimMsg::ChatMessage:
        if (lngNoBytes > 1 && lngFromPlayer == m_sim.lngHostPlayerID()) {
            forwardChat(dpMsg, lngNoBytes);
        }
        return true;

    // What the client itself sends, or only the join reads: nothing to do here.
    case SimMsg::AddPlayerRequest:
    case SimMsg::ObserverJoinRequest:
    case SimMsg::ObserverJoinAccepted:
    case SimMsg::ObserverJoinRefused:
    case SimMsg::ObserverJoinRetry:
        return false;
    }
    return false;
}

void Relay::forwardChat(SimMessage& dpMsg, qint32 lngNoBytes) {
    // The length comes from the sender; the reader never goes past the bytes that are there.
    const QString text = sim::readChatText(dpMsg, lngNoBytes);
    if (!m_out.isConnected()) {
        return;
    }
    // The server link sends the pieces and the end mark one at a time and logs when done.
    m_out.sendChat(text);
}

} // namespace relay
} // namespace airmesh
