#include "clock.h"

#include <chrono>

namespace airmesh {
inline namespace core {

qint64 SystemClock::steadyMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 secondsSince(const QDateTime& then, const QDateTime& now) {
    const qint64 a = then.toMSecsSinceEpoch();
    const qint64 b = now.toMSecsSinceEpoch();
    // Floor division, so instants before the epoch and negative spans count correctly too.
    auto floorSec = [](qint64 ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); };
    return floorSec(b) - floorSec(a);
}

QString logTime(const QDateTime& t) {
    return t.time().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace core
} // namespace airmesh
