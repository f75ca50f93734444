#include "places.h"

#include <algorithm>
#include <limits>

namespace airmesh {
inline namespace relay {
namespace places {

namespace {

// Nearer by enough to be worth a swap: a shown pilot whose position is unknown always is.
bool worthSwapping(const Candidate& in, const Candidate& out) {
    if (!in.distanceNm) {
        return false;
    }
    if (!out.distanceNm) {
        return true;
    }
    return *in.distanceNm <= kSwapRatio * *out.distanceNm && *out.distanceNm - *in.distanceNm >= kSwapMinNm;
}

} // namespace

Plan plan(std::vector<Candidate> pilots, std::optional<int> places, qint64 nowMs, bool swaps, bool userKnown) {
    Plan out;
    std::sort(pilots.begin(), pilots.end(), [](const Candidate& a, const Candidate& b) { return ranksBefore(a, b); });
    std::vector<const Candidate*> shown;
    std::vector<const Candidate*> waiting;
    for (const Candidate& c : pilots) {
        if (c.shown) {
            shown.push_back(&c);
        } else if (c.eligible) {
            waiting.push_back(&c);
        }
    }
    const std::size_t limit =
        places ? static_cast<std::size_t>(std::max(0, *places)) : std::numeric_limits<std::size_t>::max();

    // More shown than allowed (the user asked for fewer): the farthest go, whatever their time.
    while (shown.size() > limit) {
        out.hide.push_back(shown.back()->id);
        shown.pop_back();
    }

    // Free places. When they are enough for everybody nobody is ranked against anybody: all go
    // in at once, as they come. Otherwise the nearest, once every newcomer had the time to say
    // where he is.
    const std::size_t free = limit - shown.size();
    std::size_t taken = 0;
    if (waiting.size() <= free) {
        taken = waiting.size();
        std::sort(waiting.begin(), waiting.end(),
                  [](const Candidate* a, const Candidate* b) { return a->joinOrder < b->joinOrder; });
    } else {
        const bool due = std::any_of(waiting.begin(), waiting.end(), [nowMs](const Candidate* c) {
            return !c->distanceNm && nowMs - c->joinedMs < kPositionGraceMs;
        });
        // Without the user's own position nobody is nearer than anybody: first come, first shown.
        out.held = due && userKnown && free > 0;
        taken = out.held ? 0 : free;
    }
    for (std::size_t i = 0; i < taken; ++i) {
        out.show.push_back(waiting[i]->id);
    }
    waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(taken));

    // Swaps: the nearest waiting pilot for the farthest one who has been shown long enough.
    if (!swaps) {
        return out;
    }
    // The farthest shown pilot is the one to go, and only once he has had his time in FS: a
    // nearer one who goes instead would be the wrong one.
    for (int n = 0; n < kMaxSwapsPerPass && !waiting.empty() && !shown.empty(); ++n) {
        const Candidate* in = waiting.front();
        const Candidate* goes = shown.back();
        if (nowMs - goes->shownSinceMs < kMinShownMs || !worthSwapping(*in, *goes)) {
            break;
        }
        out.swaps.emplace_back(goes->id, in->id);
        waiting.erase(waiting.begin());
        shown.pop_back();
    }
    return out;
}

} // namespace places
} // namespace relay
} // namespace airmesh
