#include "traffic.h"

#include "relay.h"

#include "core/clock.h"
#include "registry/players.h"

#include <algorithm>

namespace airmesh {
inline namespace relay {

TrafficPicture trafficPicture(const Players& players, const QByteArray& ownBlock, const QDateTime& ownAt,
                              const QDateTime& now) {
    TrafficPicture picture;
    picture.ownHeard = !ownBlock.isEmpty();
    if (picture.ownHeard) {
        picture.own = wire::decodePosition(ownBlock);
        picture.ownHeardSeconds = ownAt.isValid() ? secondsSince(ownAt, now) : -1;
    }
    for (const Players::PlayerPtr& p : players.NewEnum()) {
        TrafficRow row;
        row.handle = p->PlayerHandle;
        row.title = p->Aircraft_Name;
        row.shownTitle = p->shownTitle;
        row.heard = !p->lastPosition.isEmpty();
        if (row.heard) {
            row.position = wire::decodePosition(p->lastPosition);
            row.heardSeconds = p->lastPositionAt.isValid() ? secondsSince(p->lastPositionAt, now) : -1;
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

TrafficPicture trafficPicture(const Players& players, const Relay& relay, const QDateTime& now) {
    return trafficPicture(players, relay.myPosition(), relay.myPositionAt(), now);
}

} // namespace relay
} // namespace airmesh
