#include "traffic.h"

#include "relay.h"

#include "registry/players.h"

#include <algorithm>

namespace airmesh {
inline namespace relay {

namespace {
// Whole seconds from `thenMs` to `nowMs`; never less than 0.
qint64 wholeSeconds(qint64 thenMs, qint64 nowMs) {
    return std::max<qint64>(0, nowMs - thenMs) / 1000;
}
} // namespace

TrafficPicture trafficPicture(const Players& players, const QByteArray& ownBlock, qint64 ownMs, qint64 nowMs,
                              InFs whyWaiting) {
    TrafficPicture picture;
    picture.ownHeard = !ownBlock.isEmpty();
    if (picture.ownHeard) {
        picture.own = wire::decodePosition(ownBlock);
        picture.ownHeardSeconds = wholeSeconds(ownMs, nowMs);
    }
    for (const Players::PlayerPtr& p : players.NewEnum()) {
        TrafficRow row;
        row.handle = p->PlayerHandle;
        row.inFs = p->inSession ? InFs::Shown : p->rejectedByFs ? InFs::RejectedByFs : whyWaiting;
        picture.shown += row.inFs == InFs::Shown ? 1 : 0;
        picture.waiting += row.inFs == whyWaiting && !p->inSession ? 1 : 0;
        row.title = p->Aircraft_Name;
        row.shownTitle = p->shownTitle;
        row.shownReason = p->shownReason;
        row.heard = !p->lastPosition.isEmpty();
        if (row.heard) {
            row.position = wire::decodePosition(p->lastPosition);
            row.heardSeconds = wholeSeconds(p->lastPositionMs, nowMs);
        }
        if (row.position && picture.own) {
            const wire::AircraftPosition& a = *picture.own;
            const wire::AircraftPosition& b = *row.position;
            row.distanceNm = wire::distanceNm(a.latitudeDeg, a.longitudeDeg, b.latitudeDeg, b.longitudeDeg);
            row.bearingDeg = wire::bearingDeg(a.latitudeDeg, a.longitudeDeg, b.latitudeDeg, b.longitudeDeg);
        }
        picture.rows.push_back(std::move(row));
    }
    std::stable_sort(picture.rows.begin(), picture.rows.end(), [](const TrafficRow& a, const TrafficRow& b) {
        if (a.distanceNm.has_value() != b.distanceNm.has_value()) {
            return a.distanceNm.has_value();
        }
        if (a.distanceNm && *a.distanceNm != *b.distanceNm) {
            return *a.distanceNm < *b.distanceNm;
        }
        return a.handle.compare(b.handle, Qt::CaseInsensitive) < 0;
    });
    return picture;
}

TrafficPicture trafficPicture(const Players& players, const Relay& relay, qint64 nowMs) {
    return trafficPicture(players, relay.myPosition(), relay.myPositionMs(), nowMs,
                          relay.waitReason() == Relay::WaitReason::MaxShown ? InFs::MaxShown : InFs::SessionFull);
}

} // namespace relay
} // namespace airmesh
