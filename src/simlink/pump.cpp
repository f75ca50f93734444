#include "simlink.h"

#include "simcodec.h"

#include <vector>

namespace airmesh {
inline namespace simlink {

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
    // for ever, since that tick cannot go on before this one returns. What it came for is
    // fetched once that dispatch is over.
    if (m_blnPumpBusy) {
        m_wakeMissed = true;
        return;
    }
    // The join reads the queue itself until it is done.
    if (!m_objDP || m_sessionLost || m_joining) {
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
        const int n = m_objDP->GetMessageQueue(0, 0, dpflags::QueueReceive, &bytes);
        if (n <= 0 || bytes <= 0) {
            return;
        }
        for (int i = 0; i < n; ++i) {
            Received r;
            try {
                r.message = m_objDP->Receive(r.from, r.to, dpflags::ReceiveAll);
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

    // Declared before the gate, so it runs after the gate has been released.
    struct MakeUp {
        SimLink& link;
        ~MakeUp() {
            if (link.m_wakeMissed) {
                link.m_wakeMissed = false;
                if (link.m_pumpOnArrival) {
                    link.postWakeUp();
                }
            }
        }
    } makeUp{*this};
    BusyGate gate(m_blnPumpBusy);
    for (Received& r : batch) {
        try {
            dispatch(r.message, r.from, r.to);
        } catch (const std::exception& e) {
            // Process_MP_Packet traps its own errors; this only guards the pump itself.
            m_services.debug(QStringLiteral(" - FS message dropped: %1").arg(QString::fromLocal8Bit(e.what())));
        }
        // The session may have been closed, or found gone, by something that ran during the dispatch.
        if (!m_objDP || m_sessionLost) {
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
    bool deliver = toId == m_joined.lngMyPlayerID;
    if (!deliver && (header.number == simMsgNumber(SimMsg::AddPlayerRejected) ||
                     header.number == simMsgNumber(SimMsg::PlayerQuery))) {
        // The simulator's verdict on, or question to, one of the players we placed in the session
        // is addressed to that player; its reaction needs it.
        deliver = m_players.findByPlayerId(toId) != nullptr;
    }
    if (deliver && m_handler) {
        m_handler->Process_MP_Packet(dpMsg, header.number, fromId, toId, header.payloadLength);
    }
}

void SimLink::pumpOnArrival() {
    m_pumpOnArrival = true;
    watchArrivals(true);
    // What came before this call has had no wake-up of its own.
    postWakeUp();
}

void SimLink::watchArrivals(bool on) {
    if (!m_objDP) {
        return;
    }
    if (on) {
        m_objDP->setArrivalNotifier([this] { postWakeUp(); });
    } else {
        m_objDP->setArrivalNotifier({});
    }
}

void SimLink::postWakeUp() {
    // Messages that arrive while a wake-up waits are taken by it: it reads the queue's size
    // only when it runs. The flag is cleared before the queue is read, so nothing that arrives
    // later goes without a wake-up.
    if (m_wakePending.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &m_wakeTarget,
        [this] {
            m_wakePending = false;
            pumpMessages();
        },
        Qt::QueuedConnection);
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
    watchArrivals(false); // the pump reads nothing more from it
    m_services.log.line(QStringLiteral(" - Simulator session lost"));
    if (m_onSessionLost) {
        m_onSessionLost();
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

} // namespace simlink
} // namespace airmesh
