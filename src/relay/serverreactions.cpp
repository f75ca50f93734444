#include "places.h"
#include "relay.h"

#include "core/text.h"
#include "simlink/simcodec.h"
#include "wire/records.h"

#include <utility>
#include <vector>

namespace airmesh {
inline namespace relay {

namespace {

// A chat piece this long or longer after trimming was cut from a longer text: it is kept
// whole, so a space at the cut survives. Shorter pieces are kept trimmed.
constexpr int kFullChatPieceChars = 54;

} // namespace

template <typename F> void Relay::inSession(Kind kind, F&& reaction) {
    if (kind == Kind::Traffic && m_sim.sessionLost()) {
        return; // the records still arriving until the link is closed have nowhere to go
    }
    try {
        reaction();
    } catch (const std::exception& e) {
        if (m_sim.noteIfSessionGone(e)) {
            return;
        }
        throw;
    }
}

// ---- The logon ----------------------------------------------------------------------------

void Relay::logonAccepted(const QString& greeting) {
    inSession(Kind::Logon, [&] { m_sim.sendTextLine(greeting); });
}

void Relay::loggedOn() {
    m_settleUntilMs = m_services.clock.steadyMs() + places::kLogonSettleMs;
    // Ask the simulator for the user's aircraft; the answer goes to the server from the pump.
    inSession(Kind::Logon, [&] {
        m_sim.queryUserAircraft();
        m_services.debug(QStringLiteral(" - Query Plane"));
    });
}

void Relay::logonRejected() {
    inSession(Kind::Logon, [&] { m_sim.sendTextLine(QStringLiteral("Server rejected your logon.")); });
}

// ---- Traffic ------------------------------------------------------------------------------

void Relay::playerJoined(qint32 session, const QString& handle) {
    inSession(Kind::Traffic, [&] {
        // Every pilot online is in the registry, shown or waiting for a place; the same pilot
        // announced twice is still one.
        if (const Players::PlayerPtr known = m_players.findBySession(session)) {
            m_services.lowLevel(QStringLiteral(" - Pilot announced again: ") + known->PlayerHandle);
            return;
        }
        if (m_players.Count() >= kMaxPilots) {
            m_services.debug(QStringLiteral(" - Too many pilots online, %1 not listed").arg(handle));
            return;
        }
        m_sim.registerPilot(handle, session);
        arrangePlaces(true);
    });
}

void Relay::playerLeft(qint32 session) {
    inSession(Kind::Traffic, [&] {
        if (const Players::PlayerPtr p = m_players.findBySession(session)) {
            m_sim.removePlayer(p);
            arrangePlaces(true); // his place, if he had one, goes to the nearest who waits
        }
    });
}

void Relay::playerCrashed(qint32 session, const QString& text) {
    inSession(Kind::Traffic, [&] {
        QString line;
        if (const Players::PlayerPtr p = m_players.findBySession(session)) {
            line = p->PlayerHandle + QLatin1Char(' ') + text;
        }
        m_sim.sendTextLine(line);
        m_services.sound.Play_Sound(QStringLiteral("crash.wav"));
        m_services.debug(QStringLiteral(" - Player crashed "));
    });
}

void Relay::queryPlane(qint32 session) {
    inSession(Kind::Traffic, [&] { answerPlaneQuery(session); });
}

void Relay::answerPlaneQuery(qint32 session) {
    if (m_services.blnDebug) {
        for (const Players::PlayerPtr& p : m_players.NewEnum()) {
            if (p->Server_Session_ID == session) {
                m_services.debug(QStringLiteral(" - Query Plane rcvd from ") + p->PlayerHandle);
            }
        }
    }
    m_out.sendQueryPlaneReply(m_lngMyEngineType, m_strMyAircraft);
    m_services.debug(QStringLiteral(" - Send Aircraft Details to Host"));
}

void Relay::positionUpdate(qint32 session, const QByteArray& block) {
    inSession(Kind::Traffic, [&] { placePosition(session, block); });
}

void Relay::placePosition(qint32 session, const QByteArray& block) {
    // The busiest road of the relay: every pilot's positions several times a second. The players
    // it concerns (usually one) are picked out by their fields first; only they pay for the
    // registry's check that they are still in it when their turn comes, which is what walking
    // the registry's enumerator would do for every player.
    // Each of them keeps the block as it passes, for the traffic picture: nothing more is done
    // with it here, so a picture nobody looks at costs a copy of a shared buffer.
    std::vector<Players::PlayerPtr> to;
    const qint64 now = m_services.clock.steadyMs();
    for (const Players::PlayerPtr& p : m_players.inOrder()) {
        if (p->Server_Session_ID != session) {
            continue;
        }
        p->lastPosition = block;
        p->lastPositionMs = now;
        if (p->inSession && p->RcvdPlaneType && p->Add_Success) {
            to.push_back(p);
        }
    }
    if (to.empty()) {
        return;
    }
    SimMessage m;
    sim::writePositionUpdate(m, block);
    for (const Players::PlayerPtr& p : to) {
        if (m_players.contains(p.get())) {
            m_sim.sendToAll(p->Key.toInt(), m);
        }
    }
}

void Relay::aircraftDetails(qint32 session, qint32 engineType, const QString& title) {
    inSession(Kind::Traffic, [&] { placeAircraft(session, engineType, title); });
}

void Relay::useHangar(const Hangar& hangar) {
    m_titles.setMatcher(nullptr);
    m_matcher = std::make_unique<Matcher>(hangar);
    m_titles.setMatcher(m_matcher.get());
}

void Relay::placeAircraft(qint32 session, qint32 engineType, const QString& title) {
    SimMessage m;
    // The user's alias, else (unless AutoMatch=0) the closest installed aircraft.
    const TitleChoice choice = m_titles.choose(m_services.objINI, title, engineType);
    for (const QString& line : choice.firstTime) {
        m_services.debug(line);
    }
    const QString& shown = choice.title;
    sim::writeAircraftDetails(m, engineType, shown);
    for (const Players::PlayerPtr& p : m_players.NewEnum()) {
        if (p->Server_Session_ID != session) {
            continue;
        }
        p->RcvdPlaneType = true;
        p->Aircraft_Name = title;
        p->Aircraft_Type = engineType;
        p->shownTitle = shown;
        p->shownReason = choice.source == TitleChoice::Source::Automatic ? choice.reason : QString();
        // A pilot who waits for a place gets his details when he has one.
        if (p->inSession) {
            p->catchUp = false;
            m_sim.sendToAll(p->Key.toInt(), m);
        }
        m_services.debug(QStringLiteral(" - User Changed Plane ") + p->PlayerHandle + QLatin1Char(' ') + title);
    }
}

void Relay::chatPiece(qint32 session, const QString& piece) {
    inSession(Kind::Traffic, [&] { gatherChat(session, piece); });
}

void Relay::gatherChat(qint32 session, const QString& piece) {
    const QString trimmed = trimSpaces(piece);
    const Players::PlayerPtr p = m_players.findBySession(session);
    if (p) {
        // A pilot's pieces come back to back; after a long silence what was gathered is the
        // remains of a message whose end never came (his link dropped, or it was cut off as too
        // long), and must neither be glued to his next message nor swallow it.
        const QDateTime now = m_services.clock.now();
        const bool stale = p->ChatRcvd.isValid() && p->ChatRcvd.msecsTo(now) > kChatPieceGapMs;
        p->ChatRcvd = now;
        if (stale && (!p->ChatText.isEmpty() || p->ChatTooLong)) {
            m_services.debug(QStringLiteral(" - Unfinished chat from %1 dropped").arg(p->PlayerHandle));
            p->ChatText.clear();
            p->ChatTooLong = false;
            if (trimmed == wire::kChatEndMark) {
                return; // the end of what was just dropped
            }
        }
    }
    if (trimmed != wire::kChatEndMark) {
        if (!p || p->ChatTooLong) {
            return;
        }
        const QString& add = trimmed.size() < kFullChatPieceChars ? trimmed : piece;
        // A pilot whose end mark never comes must not make us hold his text without limit. The
        // whole message goes, not just its tail: a cut chat would say something he did not.
        if (p->ChatText.size() + add.size() > kMaxChatTextChars) {
            m_services.debug(QStringLiteral(" - Chat from %1 longer than %2 characters, dropped")
                                 .arg(p->PlayerHandle)
                                 .arg(kMaxChatTextChars));
            p->ChatText.clear();
            p->ChatTooLong = true;
            return;
        }
        p->ChatText += add;
        m_services.lowLevel(QStringLiteral(" - Chat ") + p->PlayerHandle + piece);
        return;
    }
    if (!p) {
        throw NumberedError(kErrNoMatchingPlayer, "Chat end from a pilot who is not in the registry");
    }
    const QString text = std::exchange(p->ChatText, QString());
    if (std::exchange(p->ChatTooLong, false)) {
        return; // the end of a chat already dropped; the next one starts clean
    }
    if (p->inSession) {
        SimMessage m;
        sim::writeChat(m, m_sim.blnAltGuid() ? SimMsg::ChatMessageAlt : SimMsg::ChatMessage, text);
        m_sim.sendToAll(p->Key.toInt(), m);
    } else {
        // Without a player of his in FS, the observer says it for him.
        m_sim.sendTextLine(p->PlayerHandle + QStringLiteral(": ") + text);
    }
    m_services.sound.Play_Sound(QStringLiteral("incoming.wav"));
    m_services.debug(QStringLiteral(" - Chat rcvd from ") + p->PlayerHandle);
}

// ---- The link's end -----------------------------------------------------------------------

void Relay::linkClosed() {
    // The tear-down always runs to its end: a session call that fails is logged and passed by.
    auto guarded = [this](auto&& step) {
        try {
            step();
        } catch (const std::exception& e) {
            logError(QStringLiteral(" - Error Set_Closed "), e);
        }
    };
    // Nothing is said into a simulator session that has ended.
    if (!m_sim.sessionLost()) {
        guarded([this] { m_sim.sendTextLine(QStringLiteral("Server connection lost.")); });
    }
    m_sim.removeAllRemotePlayers(
        [this](const std::exception& e) { logError(QStringLiteral(" - Error Set_Closed "), e); });
}

void Relay::linkCue(LinkCue cue) {
    switch (cue) {
    case LinkCue::LoggedOn:
        m_services.sound.Play_Sound(QStringLiteral("connected.wav"));
        return;
    case LinkCue::Rejected:
    case LinkCue::Lost:
        m_services.sound.Play_Sound(QStringLiteral("incoming.wav"));
        return;
    }
}

// ---- What the logon says of the user -------------------------------------------------------

QString Relay::logonHandle() const {
    return m_sim.strHandle();
}

UserAircraft Relay::userAircraft() const {
    return {m_lngMyEngineType, m_strMyAircraft};
}

} // namespace relay
} // namespace airmesh
