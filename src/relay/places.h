#pragma once

#include <QtGlobal>

#include <optional>
#include <utility>
#include <vector>

namespace airmesh {
inline namespace relay {

// Who of the pilots online gets a place in the simulator's session when it cannot hold them
// all: the nearest to the user, without flicker. Plain rules on plain data, so that they can be
// read and tried on their own; the relay gathers the pilots and carries out the plan.
namespace places {

// A full pass (free places, then swaps) this often, and on every join and leave.
inline constexpr qint64 kPassIntervalMs = 2000;
// A shown pilot stays at least this long before a nearer one may take his place.
inline constexpr qint64 kMinShownMs = 10000;
// A waiting pilot takes a shown one's place only when he is nearer by both of these.
inline constexpr double kSwapRatio = 0.8; // at most 80 % of the other's distance
inline constexpr double kSwapMinNm = 2.0;
inline constexpr int kMaxSwapsPerPass = 2;
// While more pilots wait than places are free, a place is held this long for a pilot just
// announced whose position has not come yet: he may be the nearest.
inline constexpr qint64 kPositionGraceMs = 2000;
// Right after a logon the server announces everybody online at once; a session with a limit
// gives no places until they are all in and have said where they are, so that the first to be
// announced are not simply the ones shown.
inline constexpr qint64 kLogonSettleMs = 1000;

// One pilot as the rules see him. `id` is the caller's.
struct Candidate {
    int id = 0;
    bool shown = false;
    std::optional<double> distanceNm; // from the user; none when either position is unknown
    quint64 joinOrder = 0;
    qint64 joinedMs = 0;
    qint64 shownSinceMs = 0;
    bool eligible = true; // false: not to be shown now (refused by the simulator, a failed try)
};

struct Plan {
    std::vector<int> hide;                  // too many are shown: these go, farthest first
    std::vector<int> show;                  // free places: nearest first, or as announced when all fit
    std::vector<std::pair<int, int>> swaps; // (shown pilot who goes, waiting pilot who comes)
    bool held = false;                      // free places kept for pilots whose position is due
};

// True when `a` ranks before `b`: known distance before unknown, nearer first, then the one
// announced first.
inline bool ranksBefore(const Candidate& a, const Candidate& b) {
    if (a.distanceNm.has_value() != b.distanceNm.has_value()) {
        return a.distanceNm.has_value();
    }
    if (a.distanceNm && *a.distanceNm != *b.distanceNm) {
        return *a.distanceNm < *b.distanceNm;
    }
    return a.joinOrder < b.joinOrder;
}

// What to change, as of `nowMs`, so that at most `places` pilots are shown (none: no limit).
// `swaps`: a full pass, which may also swap; otherwise only free places are filled.
// `userKnown`: the user's own position is known, so distances can be.
Plan plan(std::vector<Candidate> pilots, std::optional<int> places, qint64 nowMs, bool swaps, bool userKnown);

} // namespace places
} // namespace relay
} // namespace airmesh
