#include "places.h"
#include "relay.h"

#include "core/settings.h"
#include "simlink/simcodec.h"
#include "wire/positionblock.h"

#include <algorithm>

namespace airmesh {
inline namespace relay {

namespace {

QString distanceText(const std::optional<double>& nm) {
    return nm ? QStringLiteral("%1 nm").arg(*nm, 0, 'f', 1) : QStringLiteral("no position");
}

} // namespace

void Relay::keepPlaces() {
    if (m_players.Count() == 0 || m_sim.sessionLost()) {
        return;
    }
    const qint64 now = m_services.clock.steadyMs();
    const bool full = now - m_lastPassMs >= places::kPassIntervalMs;
    if ((!full && !m_fillDue) || now < m_settleUntilMs) {
        return;
    }
    try {
        arrangePlaces(full);
    } catch (const std::exception& e) {
        logError(QStringLiteral(" - Error Keep_Places "), e); // the session's end is noted, not logged
    }
}

std::optional<int> Relay::placesAllowed(int shown) {
    std::optional<int> places = m_sim.remotePlaces(shown);
    // A refusal holds until the session's description has room it did not have then: somebody
    // else's player has left it since.
    if (m_refusedAt && places && m_roomAtRefusal && *places > *m_roomAtRefusal) {
        m_refusedAt.reset();
    }
    if (m_refusedAt) {
        places = places ? std::min(*places, *m_refusedAt) : *m_refusedAt;
    }
    bool ok = false;
    const int maxShown = readSetting(m_services.objINI, setting::MaxShown).toInt(&ok);
    m_waitReason = WaitReason::SessionFull;
    if (ok && maxShown > 0 && (!places || maxShown < *places)) {
        m_waitReason = WaitReason::MaxShown;
        return maxShown;
    }
    return places;
}

void Relay::arrangePlaces(bool full) {
    const qint64 now = m_services.clock.steadyMs();
    if (full) {
        m_lastPassMs = now;
    }
    std::vector<Players::PlayerPtr> pilots;
    pilots.reserve(static_cast<std::size_t>(m_players.Count()));
    int shown = 0;
    for (int i = 1, n = m_players.Count(); i <= n; ++i) {
        pilots.push_back(m_players.Item(i));
        shown += pilots.back()->inSession ? 1 : 0;
    }
    const std::optional<int> places = placesAllowed(shown);
    if (places && now < m_settleUntilMs) {
        m_fillDue = true; // everybody online is still being announced: nobody is ranked yet
        return;
    }
    // Every pilot's distance from his last block, decoded here and nowhere on the positions' way.
    std::optional<wire::AircraftPosition> own;
    if (!m_myPosition.isEmpty()) {
        own = wire::decodePosition(m_myPosition);
    }
    std::optional<wire::DistanceFrom> from;
    if (own) {
        from.emplace(own->latitudeDeg, own->longitudeDeg);
    }
    std::vector<places::Candidate> candidates;
    candidates.reserve(pilots.size());
    for (const Players::PlayerPtr& p : pilots) {
        places::Candidate c;
        c.id = static_cast<int>(candidates.size());
        c.shown = p->inSession;
        c.joinOrder = p->joinOrder;
        c.joinedMs = p->joinedMs;
        c.shownSinceMs = p->shownSinceMs;
        c.eligible = !p->rejectedByFs && now >= p->noShowBeforeMs;
        if (from && !p->lastPosition.isEmpty()) {
            if (const auto at = wire::decodePosition(p->lastPosition)) {
                c.distanceNm = from->nm(at->latitudeDeg, at->longitudeDeg);
            }
        }
        candidates.push_back(c);
    }
    const places::Plan plan = places::plan(candidates, places, now, full, own.has_value());
    m_fillDue = plan.held;

    // Each step checks that its pilot is still the one filed: a step before it may have failed
    // in a way that ended the session's traffic.
    for (const int id : plan.hide) {
        hide(pilots[static_cast<std::size_t>(id)]);
        pilots[static_cast<std::size_t>(id)]->waitLogged = false;
    }
    bool room = true;
    for (const int id : plan.show) {
        const Shown s = show(pilots[static_cast<std::size_t>(id)]);
        if (s == Shown::Refused) {
            room = false;
            break;
        }
    }
    for (const auto& [out, in] : plan.swaps) {
        if (!room) {
            break;
        }
        const Players::PlayerPtr& goes = pilots[static_cast<std::size_t>(out)];
        const Players::PlayerPtr& comes = pilots[static_cast<std::size_t>(in)];
        hide(goes);
        goes->waitLogged = true; // the swap's line says he waits
        const Shown s = show(comes);
        if (s == Shown::Refused) {
            break;
        }
        if (s == Shown::Yes) {
            m_services.debug(
                QStringLiteral(" - Showing %1 (%2) instead of %3 (%4)")
                    .arg(comes->PlayerHandle, distanceText(candidates[static_cast<std::size_t>(in)].distanceNm),
                         goes->PlayerHandle, distanceText(candidates[static_cast<std::size_t>(out)].distanceNm)));
        }
    }
    if (!plan.held) {
        noteWaiting(pilots);
    }
}

Relay::Shown Relay::show(const Players::PlayerPtr& p) {
    if (!m_players.contains(p.get()) || p->inSession) {
        return Shown::Failed;
    }
    try {
        m_sim.showRemotePlayer(p);
        p->waitLogged = false;
        return Shown::Yes;
    } catch (const std::exception& e) {
        if (m_sim.noteIfSessionGone(e)) {
            throw;
        }
        if (SimLink::isSessionFull(e)) {
            // The host is the judge of its room: what it holds now is what it holds.
            int shown = 0;
            for (int i = 1, n = m_players.Count(); i <= n; ++i) {
                shown += m_players.Item(i)->inSession ? 1 : 0;
            }
            m_refusedAt = shown;
            m_roomAtRefusal = m_sim.remotePlaces(shown);
            return Shown::Refused;
        }
        // Logged where it failed; tried again later, not at every pass.
        p->noShowBeforeMs = m_services.clock.steadyMs() + kRetryShowMs;
        return Shown::Failed;
    }
}

void Relay::hide(const Players::PlayerPtr& p) {
    if (!m_players.contains(p.get()) || !p->inSession) {
        return;
    }
    try {
        m_sim.hideRemotePlayer(p);
    } catch (const std::exception& e) {
        if (m_sim.noteIfSessionGone(e)) {
            throw;
        }
        logError(QStringLiteral(" - Error Keep_Places "), e);
    }
}

void Relay::noteWaiting(const std::vector<Players::PlayerPtr>& pilots) {
    const qint64 now = m_services.clock.steadyMs();
    int shown = 0;
    int waiting = 0;
    std::vector<const Players::PlayerPtr*> news;
    for (const Players::PlayerPtr& p : pilots) {
        if (p->inSession) {
            ++shown;
        } else if (!p->rejectedByFs) {
            ++waiting;
            if (!p->waitLogged && now >= p->noShowBeforeMs) {
                news.push_back(&p);
            }
        }
    }
    for (const Players::PlayerPtr* p : news) {
        (*p)->waitLogged = true;
        m_services.debug(QStringLiteral(" - Session full: %1 waits (%2 shown, %3 waiting)")
                             .arg((*p)->PlayerHandle)
                             .arg(shown)
                             .arg(waiting));
    }
}

void Relay::catchUp(const Players::PlayerPtr& p) {
    p->catchUp = false;
    if (!p->RcvdPlaneType) {
        return; // his details will go when they come, and his positions after them
    }
    const TitleChoice choice = m_titles.choose(m_services.objINI, p->Aircraft_Name, p->Aircraft_Type);
    for (const QString& line : choice.firstTime) {
        m_services.debug(line);
    }
    p->shownTitle = choice.title;
    p->shownReason = choice.source == TitleChoice::Source::Automatic ? choice.reason : QString();
    const qint32 id = p->Key.toInt();
    SimMessage details;
    sim::writeAircraftDetails(details, p->Aircraft_Type, choice.title);
    m_sim.sendToAll(id, details);
    if (p->lastPosition.size() >= wire::kPositionBlockBytes) {
        SimMessage position;
        sim::writePositionUpdate(position, p->lastPosition);
        m_sim.sendToAll(id, position);
    }
}

} // namespace relay
} // namespace airmesh
