// Position blocks: any bytes decode without reading past the input, to "position unknown" or to
// values an aircraft can have; a decoded position encodes back to the bits it came from (all but
// the north and east speeds, which the encoder works out, and what the decoder does not read) and
// decodes again to itself. Any
// position, numbers or not, encodes to a block whose decoded values are in range.
#include "wire/positionblock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace airmesh::wire;

namespace {

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void checkInRange(const AircraftPosition& p) {
    require(std::abs(p.latitudeDeg) <= 90.0);
    require(p.longitudeDeg >= -180.0 && p.longitudeDeg <= 180.0);
    require(p.altitudeFt >= kMinBelievableAltitudeFt && p.altitudeFt <= kMaxBelievableAltitudeFt);
    require(p.headingDeg >= 0.0 && p.headingDeg < 360.0);
    require(p.bankDeg >= -180.0 && p.bankDeg < 180.0);
    require(p.pitchDeg >= -180.0 && p.pitchDeg < 180.0);
    require(p.groundSpeedKt >= 0.0 && std::isfinite(p.groundSpeedKt));
    require(std::isfinite(p.verticalSpeedFpm));
    const double nm = distanceNm(0, 0, p.latitudeDeg, p.longitudeDeg);
    require(nm >= 0.0 && nm <= 10808.0);
    const double b = bearingDeg(p.latitudeDeg, p.longitudeDeg, 0, 0);
    require(b >= 0.0 && b < 360.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<PositionBlockFields> fields = PositionBlockFields::read(bytes);
    require(fields.has_value() == (size >= kPositionBlockBytes));
    if (fields) {
        require(fields->toBytes() == bytes.left(kPositionBlockBytes));
    }
    if (const std::optional<AircraftPosition> p = decodePosition(bytes)) {
        checkInRange(*p);
        const QByteArray again = encodePosition(*p, fields->packetIndex, fields->applicationTime);
        const std::optional<PositionBlockFields> g = PositionBlockFields::read(again);
        require(g.has_value());
        require(g->packetIndex == fields->packetIndex && g->applicationTime == fields->applicationTime);
        require(g->altVelocity == fields->altVelocity && g->groundVelocity == fields->groundVelocity);
        // Bit 0 of pbh is not the decoder's; reserved and unused bytes are the encoder's zeros.
        require(g->pbh == (fields->pbh & ~1U) && g->reserved == 0 && g->unused == 0);
        require(g->latitude == fields->latitude && g->longitude == fields->longitude);
        require(g->altitude == fields->altitude);
        const std::optional<AircraftPosition> q = decodePosition(again);
        require(q.has_value());
        require(q->latitudeDeg == p->latitudeDeg && q->longitudeDeg == p->longitudeDeg);
        require(q->altitudeFt == p->altitudeFt && q->headingDeg == p->headingDeg && q->bankDeg == p->bankDeg);
    }

    // The same bytes as the doubles of a position, whatever they hold.
    double v[8] = {};
    if (size > 0) {
        std::memcpy(v, data, std::min(size, sizeof v));
    }
    AircraftPosition in{v[0], v[1], v[2], v[3], v[4], v[5], size > sizeof v && (data[sizeof v] & 1) != 0, v[6], v[7]};
    if (const std::optional<AircraftPosition> out = decodePosition(encodePosition(in))) {
        checkInRange(*out);
    } else {
        // Only an altitude out of range makes the encoder's block unknown.
        require(!(std::abs(in.altitudeFt) <= 2000.0));
    }
    return 0;
}
