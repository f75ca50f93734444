#include "positionblock.h"

#include "core/bytes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace airmesh::wire {

namespace {

constexpr double kFixedOne = 65536.0;
constexpr double kLatitudeUnitsPer90 = 10001750.0;
constexpr double kTwoTo32 = 4294967296.0;
constexpr double kFeetPerMetre = 1.0 / 0.3048;
constexpr double kKnotsPerFootPerSecond = 3600.0 / 6076.12;
constexpr double kEarthRadiusNm = 3440.065;

// A 48-bit fixed-point value from its integer part and its fraction, and back. The integer
// part carries the sign; the fraction is the low 16 bits of the whole, never a signed amount.
qint64 join48(qint32 high, quint16 low) {
    return static_cast<qint64>(high) * 65536 + low;
}
qint32 high48(qint64 v) {
    // Floor division, so the fraction stays in 0..65535 for negative values too.
    return static_cast<qint32>(v >> 16);
}
quint16 low48(qint64 v) {
    return static_cast<quint16>(static_cast<quint64>(v) & 0xFFFFU);
}

qint64 clamp48(double v) {
    constexpr double kMax = 140737488355327.0; // 2^47 - 1
    if (!std::isfinite(v)) {
        return 0;
    }
    return std::llround(std::clamp(v, -kMax - 1, kMax));
}

qint32 clampI32(double v) {
    if (!std::isfinite(v)) {
        return 0;
    }
    return static_cast<qint32>(std::llround(std::clamp(v, -2147483648.0, 2147483647.0)));
}

// A signed 10-bit angle stored as the bitwise NOT of its two's complement.
double angle10(quint32 raw, double degreesPerUnit) {
    int v = static_cast<int>(~raw & 0x3FFU);
    if ((v & 0x200) != 0) {
        v -= 0x400;
    }
    return v * degreesPerUnit;
}
quint32 raw10(double degrees, double degreesPerUnit) {
    // Clamped before rounding: lround has no defined result for values beyond its type.
    const double units = std::isfinite(degrees) ? std::clamp(degrees / degreesPerUnit, -512.0, 511.0) : 0.0;
    const auto v = static_cast<int>(std::lround(units));
    return ~static_cast<quint32>(v) & 0x3FFU;
}

constexpr double kHeadingDegPerUnit = 360.0 / 1024.0;
constexpr double kBankDegPerUnit = 180.0 / 512.0;
constexpr double kPitchDegPerUnit = 90.0 / 256.0;
constexpr quint32 kOnGroundBit = 1U << 1;

double radians(double deg) {
    return deg * std::numbers::pi / 180.0;
}

} // namespace

std::optional<PositionBlockFields> PositionBlockFields::read(QByteArrayView block) {
    ByteReader r(block);
    PositionBlockFields f;
    f.packetIndex = r.u32();
    f.applicationTime = r.u32();
    f.latVelocity = r.i32();
    f.lonVelocity = r.i32();
    f.altVelocity = r.i32();
    f.groundVelocity = r.u32();
    f.reserved = r.u32();
    f.pbh = r.u32();
    const qint32 latI = r.i32();
    const qint32 lonHi = r.i32();
    const qint32 altI = r.i32();
    const quint16 latF = r.u16();
    const quint16 lonLo = r.u16();
    const quint16 altF = r.u16();
    f.unused = r.u16();
    if (!r.ok()) {
        return std::nullopt;
    }
    f.latitude = join48(latI, latF);
    f.longitude = join48(lonHi, lonLo);
    f.altitude = join48(altI, altF);
    return f;
}

QByteArray PositionBlockFields::toBytes() const {
    QByteArray out;
    out.reserve(kPositionBlockBytes);
    ByteWriter w(out);
    w.u32(packetIndex);
    w.u32(applicationTime);
    w.i32(latVelocity);
    w.i32(lonVelocity);
    w.i32(altVelocity);
    w.u32(groundVelocity);
    w.u32(reserved);
    w.u32(pbh);
    w.i32(high48(latitude));
    w.i32(high48(longitude));
    w.i32(high48(altitude));
    w.u16(low48(latitude));
    w.u16(low48(longitude));
    w.u16(low48(altitude));
    w.u16(unused);
    return out;
}

std::optional<AircraftPosition> decodePosition(QByteArrayView block) {
    const std::optional<PositionBlockFields> f = PositionBlockFields::read(block);
    if (!f) {
        return std::nullopt;
    }
    AircraftPosition p;
    p.latitudeDeg = static_cast<double>(f->latitude) / kFixedOne * 90.0 / kLatitudeUnitsPer90;
    p.longitudeDeg = static_cast<double>(f->longitude) / kFixedOne * 360.0 / kTwoTo32;
    p.altitudeFt = static_cast<double>(f->altitude) / kFixedOne * kFeetPerMetre;
    if (!(std::abs(p.latitudeDeg) <= 90.0) || p.altitudeFt > kMaxBelievableAltitudeFt ||
        p.altitudeFt < kMinBelievableAltitudeFt) {
        return std::nullopt;
    }
    p.onGround = (f->pbh & kOnGroundBit) != 0;
    p.headingDeg = static_cast<double>((f->pbh >> 2) & 0x3FFU) * kHeadingDegPerUnit;
    p.bankDeg = angle10(f->pbh >> 12, kBankDegPerUnit);
    p.pitchDeg = angle10(f->pbh >> 22, kPitchDegPerUnit);
    p.groundSpeedKt = static_cast<double>(f->groundVelocity) / kFixedOne * kKnotsPerFootPerSecond;
    p.verticalSpeedFpm = static_cast<double>(f->altVelocity) / kFixedOne * 60.0;
    return p;
}

void setPosition(PositionBlockFields& f, const AircraftPosition& p) {
    f.latitude = clamp48(std::clamp(p.latitudeDeg, -90.0, 90.0) * kLatitudeUnitsPer90 / 90.0 * kFixedOne);
    // Longitude covers the whole 48-bit range: 180 east is the same meridian as 180 west.
    double lon = std::isfinite(p.longitudeDeg) ? std::fmod(p.longitudeDeg, 360.0) : 0.0;
    if (lon >= 180.0) {
        lon -= 360.0;
    } else if (lon < -180.0) {
        lon += 360.0;
    }
    const qint64 lonUnits = clamp48(lon / 360.0 * kTwoTo32 * kFixedOne);
    f.longitude = std::min<qint64>(lonUnits, (qint64{1} << 47) - 1);
    f.altitude = clamp48(p.altitudeFt / kFeetPerMetre * kFixedOne);

    double heading = std::isfinite(p.headingDeg) ? std::fmod(p.headingDeg, 360.0) : 0.0;
    if (heading < 0) {
        heading += 360.0;
    }
    const auto headingUnits = static_cast<quint32>(std::lround(heading / kHeadingDegPerUnit)) & 0x3FFU;
    f.pbh = (raw10(p.pitchDeg, kPitchDegPerUnit) << 22) | (raw10(p.bankDeg, kBankDegPerUnit) << 12) |
            (headingUnits << 2) | (p.onGround ? kOnGroundBit : 0U);

    const double groundFps = std::max(0.0, p.groundSpeedKt) / kKnotsPerFootPerSecond;
    // Rounded, not cut: a decoded speed encodes back to the bits it came from.
    f.groundVelocity = static_cast<quint32>(std::llround(std::min(groundFps * kFixedOne, 4294967295.0)));
    f.altVelocity = clampI32(p.verticalSpeedFpm / 60.0 * kFixedOne);
    // The simulator also gives the speed north and east; they follow from speed and heading.
    f.latVelocity = clampI32(groundFps * std::cos(radians(heading)) * kFixedOne);
    f.lonVelocity = clampI32(groundFps * std::sin(radians(heading)) * kFixedOne);
}

QByteArray encodePosition(const AircraftPosition& p, quint32 index, quint32 time) {
    PositionBlockFields f;
    f.packetIndex = index;
    f.applicationTime = time;
    setPosition(f, p);
    return f.toBytes();
}

DistanceFrom::DistanceFrom(double latDeg, double lonDeg)
    : m_lat(radians(latDeg)), m_lonDeg(lonDeg), m_cosLat(std::cos(m_lat)) {}

double DistanceFrom::nm(double latDeg, double lonDeg) const {
    const double lat2 = radians(latDeg);
    const double sLat = std::sin((lat2 - m_lat) / 2);
    const double sLon = std::sin(radians(lonDeg - m_lonDeg) / 2);
    // Haversine: well conditioned for the short distances pilots flying together have.
    const double a = sLat * sLat + m_cosLat * std::cos(lat2) * sLon * sLon;
    return 2 * kEarthRadiusNm * std::asin(std::sqrt(std::clamp(a, 0.0, 1.0)));
}

double distanceNm(double lat1Deg, double lon1Deg, double lat2Deg, double lon2Deg) {
    return DistanceFrom(lat1Deg, lon1Deg).nm(lat2Deg, lon2Deg);
}

double bearingDeg(double lat1Deg, double lon1Deg, double lat2Deg, double lon2Deg) {
    const double lat1 = radians(lat1Deg);
    const double lat2 = radians(lat2Deg);
    const double dLon = radians(lon2Deg - lon1Deg);
    const double y = std::sin(dLon) * std::cos(lat2);
    const double x = std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
    double b = std::atan2(y, x) * 180.0 / std::numbers::pi;
    if (b < 0) {
        b += 360.0;
    }
    return b >= 360.0 ? b - 360.0 : b;
}

} // namespace airmesh::wire
