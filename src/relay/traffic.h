#pragma once

#include "wire/positionblock.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace airmesh {
inline namespace registry {
class Players;
} // namespace registry
inline namespace relay {
class Relay;

// Whether a pilot flies in the user's simulator, and if not, why not.
enum class InFs {
    Shown,        // he has a player in FS's session
    SessionFull,  // waiting: the session holds no more
    MaxShown,     // waiting: the user's [General] MaxShown
    RejectedByFs, // FS refused his player
};

// One remote pilot as the traffic picture shows him.
struct TrafficRow {
    QString handle;
    InFs inFs = InFs::Shown;
    QString title;       // the aircraft he flies, as the server reported it; empty until it came
    QString shownTitle;  // the local aircraft the simulator shows for it (alias applied)
    QString shownReason; // why, when it is the automatic choice
    // Where he is; none before his first position, or when his last block made no sense.
    std::optional<wire::AircraftPosition> position;
    bool heard = false;       // a position block has come from him
    qint64 heardSeconds = -1; // whole seconds since his last block; -1 before the first
    // From the user's own aircraft; none unless both positions are known.
    std::optional<double> distanceNm;
    std::optional<double> bearingDeg;
};

// Who is flying where, as of one instant: the user's own aircraft and every remote pilot,
// nearest first (pilots whose distance is unknown last, by handle).
struct TrafficPicture {
    std::optional<wire::AircraftPosition> own;
    bool ownHeard = false; // the simulator has sent the user's position at least once
    qint64 ownHeardSeconds = -1;
    std::vector<TrafficRow> rows;
    int shown = 0;   // rows whose pilot flies in FS
    int waiting = 0; // rows whose pilot waits for a place
};

// Decodes the blocks the relay kept. Costs one decode per pilot: made when someone looks,
// never per position.
// Times are the clock's steady milliseconds.
// `whyWaiting` says what a waiting pilot waits for.
TrafficPicture trafficPicture(const Players& players, const QByteArray& ownBlock, qint64 ownMs, qint64 nowMs,
                              InFs whyWaiting = InFs::SessionFull);
TrafficPicture trafficPicture(const Players& players, const Relay& relay, qint64 nowMs);

} // namespace relay
} // namespace airmesh
