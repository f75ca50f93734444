#include "simlink.h"

#include "simcodec.h"

#include <vector>

namespace airmesh {

namespace {

constexpr qsizetype kHeaderBytes = 8;
constexpr qsizetype kSystemTypeBytes = 4;

// Clears the pump's gate however the dispatch loop ends.
class BusyGate {
public:
    explicit BusyGate(bool& flag) : m_flag(flag) { m_flag = true; }
    ~BusyGate() { m_flag = false; }
    BusyGate(const BusyGate&) = delete;
    BusyGate& operator=(const BusyGate&) = delete;

private:
    bool& m_flag;
};

// The system message type as the log shows it: upper-case hexadecimal of the 32 bits, no
// prefix, no leading zeros.
QString systemTypeText(qint32 type) {
    return QString::number(static_cast<quint32>(type), 16).toUpper();
}

} // namespace

void SimLink::pumpMessages() {
    // A tick that arrives while an earlier one is dispatching (a reaction let events run) must
    // neither take messages out of order nor wait for the tick it interrupted: it would wait
    // for ever, since that tick cannot go on before this one returns.
    if (blnPumpBusy || !objDP || m_sessionLost) {
        return;
    }

    struct Received {
        SimMessage message;
        qint32 from = 0;
        qint32 to = 0;
    };
    std::vector<Received> batch;

    try {
        int bytes = 0;
        const int n = objDP->GetMessageQueue(0, 0, dpflags::QueueReceive, &bytes);
        if (n <= 0 || bytes <= 0) {
            return;
        }
        for (int i = 0; i < n; ++i) {
            Received r;
            try {
                r.message = objDP->Receive(r.from, r.to, dpflags::ReceiveAll);
            } catch (const dp::DpError& e) {
                if (noteIfSessionGone(e)) {
                    return;
                }
                // What was received is still dispatched; the rest waits for the next tick.
                m_services.debug(QStringLiteral(" - Receive from FS failed, error %1; %2 of %3 messages taken")
                                     .arg(e.code())
                                     .arg(i)
                                     .arg(n));
                break;
            }
            batch.push_back(std::move(r));
        }
    } catch (const dp::DpError& e) {
        if (!noteIfSessionGone(e)) {
            m_services.debug(QStringLiteral(" - FS message queue not readable, error %1").arg(e.code()));
        }
        return;
    }

    BusyGate gate(blnPumpBusy);
    for (Received& r : batch) {
        try {
            dispatch(r.message, r.from, r.to);
        } catch (const std::exception& e) {
            // Process_MP_Packet traps its own errors; this only guards the pump itself.
            m_services.debug(QStringLiteral(" - FS message dropped: %1").arg(QString::fromLocal8Bit(e.what())));
        }
        // The session may have been closed, or found gone, by something that ran during the dispatch.
        if (!objDP || m_sessionLost) {
            break;
        }
    }
}

void SimLink::dispatch(SimMessage& dpMsg, qint32 fromId, qint32 toId) {
    if (fromId == dpflags::SystemSender) {
        if (dpMsg.size() < kSystemTypeBytes) {
            m_services.debug(QStringLiteral(" - Short system message dropped, %1 bytes").arg(dpMsg.size()));
            return;
        }
        // Session-layer notices are shown, whatever the log flags say. The end of the session is
        // the one acted on: nothing said to the session from now on can reach the simulator.
        const qint32 type = dpMsg.ReadLong();
        m_services.log.line(QStringLiteral(" - ****System Message ignored, Type: ") + systemTypeText(type));
        if (type == static_cast<qint32>(dp::SysMsg::SessionLost)) {
            noteSessionLost();
        }
        return;
    }
    if (dpMsg.size() < kHeaderBytes) {
        m_services.debug(
            QStringLiteral(" - Short message from player %1 dropped, %2 bytes").arg(fromId).arg(dpMsg.size()));
        return;
    }
    // The session hands the observer a copy of everything our own remote players send to all
    // (their addition requests, their answers to the simulator): our own echoes, not news.
    if (m_players.findByPlayerId(fromId) != nullptr) {
        return;
    }
    const sim::Header header = sim::readHeader(dpMsg);
    bool deliver = toId == lngMyPlayerID;
    if (!deliver && (header.number == simMsgNumber(SimMsg::AddPlayerRejected) ||
                     header.number == simMsgNumber(SimMsg::PlayerQuery))) {
        // The simulator's verdict on, or question to, one of the players we placed in the session
        // is addressed to that player; its reaction needs it.
        deliver = m_players.findByPlayerId(toId) != nullptr;
    }
    if (deliver) {
        Process_MP_Packet(dpMsg, header.number, fromId, toId, header.payloadLength);
    }
}

void SimLink::Process_MP_Packet(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer,
                                qint32 lngNoBytes) {
    try {
        if (!react(dpMsg, lngMsgNo, lngFromPlayer, lngToPlayer, lngNoBytes)) {
            m_services.lowLevel(QStringLiteral(" - Missed Packet ") + QString::number(lngMsgNo));
        }
    } catch (const std::exception& e) {
        if (noteIfSessionGone(e)) {
            return;
        }
        m_services.debug(errorLine(QStringLiteral(" - Error Process_MP_Packet "), errorInfo(e)));
    }
}

IntakeFilter SimLink::intakeFilter(qint32 observer) {
    return [observer](const Arrival& a) {
        if (a.fromOurs) {
            return Intake::Drop; // our own echoes
        }
        if (a.recipient == observer) {
            return Intake::QueueFirst;
        }
        if (a.number == simMsgNumber(SimMsg::PlayerQuery)) {
            return Intake::Queue; // answered from the player it reached
        }
        if (a.number == simMsgNumber(SimMsg::AddPlayerRejected) && a.addressedTo == a.recipient) {
            return Intake::Queue;
        }
        return Intake::Drop;
    };
}

void SimLink::noteSessionLost() {
    if (m_sessionLost) {
        return;
    }
    m_sessionLost = true;
    m_services.log.line(QStringLiteral(" - Simulator session lost"));
    if (onSessionLost) {
        onSessionLost();
    }
}

bool SimLink::noteIfSessionGone(const std::exception& e) {
    const auto* de = dynamic_cast<const dp::DpError*>(&e);
    if (!de || (de->code() != dp::DPERR_SESSIONLOST && de->code() != dp::DPERR_CONNECTIONLOST)) {
        return false;
    }
    noteSessionLost();
    return true;
}

bool SimLink::react(SimMessage& dpMsg, qint32 lngMsgNo, qint32 lngFromPlayer, qint32 lngToPlayer, qint32 lngNoBytes) {
    SimMessage reply = objDP ? objDP->CreateMessage() : SimMessage();

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
            m_services.debug(QStringLiteral(" - Player addition Rejected by your machine: ") + p->PlayerHandle);
            removePlayer(p);
        }
        return true;
    }

    case SimMsg::PlayerQuery:
        sim::writeHeaderOnly(reply, SimMsg::AddPlayerApproved);
        if (const Players::PlayerPtr p = m_players.findByPlayerId(lngToPlayer)) {
            session().Send(p->Key.toInt(), dpflags::AllPlayers, 0, reply);
        }
        return true;

    case SimMsg::AircraftDetails:
        if (lngFromPlayer == lngHostPlayerID) {
            // Both fields are read before either is kept, so a cut message changes nothing.
            const sim::AircraftDetails d = sim::readAircraftDetails(dpMsg);
            lngMyEngineType = d.engineType;
            strMyAircraft = d.title;
            m_services.debug(QStringLiteral(" - Your aircraft is ") + strMyAircraft + engineTypeText(lngMyEngineType));
            if (relayConnected()) {
                m_relay->sendOwnAircraft(lngMyEngineType, strMyAircraft);
                m_services.debug(QStringLiteral(" - Send Aircraft Details to Host"));
            }
        }
        return true;

    case SimMsg::QueryPlane:
        if (relayConnected()) {
            m_relay->sendQueryPlane();
            m_services.lowLevel(QStringLiteral(" - Query all players on plane type"));
        }
        return true;

    case SimMsg::PlayerCrashed:
        if (relayConnected()) {
            m_relay->sendPlayerCrashed();
            m_services.lowLevel(QStringLiteral(" - Send Player Crashed to host"));
        }
        return true;

    case SimMsg::PositionUpdate:
        if (relayConnected() && lngFromPlayer == lngHostPlayerID && lngToPlayer == lngMyPlayerID) {
            m_relay->sendPosition(sim::readPositionBlock(dpMsg));
        }
        return true;

    case SimMsg::ChatMessageAlt:
        if (!blnAltGuid) {
            return false;
        }
        [[fallthrough]];
    case SimMsg::ChatMessage:
        if (lngNoBytes > 1 && lngFromPlayer == lngHostPlayerID) {
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

void SimLink::forwardChat(SimMessage& dpMsg, qint32 lngNoBytes) {
    // The length comes from the sender; the reader never goes past the bytes that are there.
    const QString text = sim::readChatText(dpMsg, lngNoBytes);
    if (!relayConnected()) {
        return;
    }
    // The server link sends the pieces and the end mark one at a time and logs when done.
    m_relay->sendChat(text);
}

} // namespace airmesh
