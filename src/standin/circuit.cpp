#include "circuit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace airmesh {
inline namespace standin {

namespace {

constexpr double kNmPerDegreeLatitude = 60.0;
constexpr double kFeetPerNm = 6076.12;
constexpr double kG = 32.174; // ft/s²

} // namespace

double Circuit::lapSeconds() const {
    if (radiusNm <= 0 || speedKt <= 0) {
        return 0;
    }
    return 2 * std::numbers::pi * radiusNm / speedKt * 3600.0;
}

wire::AircraftPosition Circuit::at(double seconds) const {
    wire::AircraftPosition p;
    p.altitudeFt = altitudeFt;
    p.latitudeDeg = centreLatitude;
    p.longitudeDeg = centreLongitude;
    const double lap = lapSeconds();
    if (lap <= 0) {
        return p; // nothing to fly: the aircraft hangs over the centre
    }
    // Clockwise from the north point: the angle from north grows with time, and the aircraft
    // heads 90° to the right of the direction from the centre to itself.
    const double angle = 2 * std::numbers::pi * std::fmod(seconds, lap) / lap;
    p.latitudeDeg += radiusNm * std::cos(angle) / kNmPerDegreeLatitude;
    const double cosLat = std::cos(centreLatitude * std::numbers::pi / 180.0);
    if (cosLat > 1e-6) {
        p.longitudeDeg += radiusNm * std::sin(angle) / (kNmPerDegreeLatitude * cosLat);
    }
    p.headingDeg = std::fmod(angle * 180.0 / std::numbers::pi + 90.0, 360.0);
    p.groundSpeedKt = speedKt;
    // A coordinated turn: tan(bank) = v² / (g r).
    const double v = speedKt * kFeetPerNm / 3600.0;
    const double r = radiusNm * kFeetPerNm;
    p.bankDeg = std::atan(v * v / (kG * r)) * 180.0 / std::numbers::pi;
    return p;
}

QByteArray Circuit::block(double seconds, quint32 sequence) const {
    // A 32-bit millisecond count, wrapping as the simulator's own does.
    const double ms = std::fmod(std::round(std::max(0.0, seconds) * 1000.0), 4294967296.0);
    return wire::encodePosition(at(seconds), sequence, std::isfinite(ms) ? static_cast<quint32>(ms) : 0U);
}

} // namespace standin
} // namespace airmesh
