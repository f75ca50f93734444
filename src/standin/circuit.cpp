#include "circuit.h"

#include <QtEndian>

#include <cmath>
#include <cstring>
#include <numbers>

namespace airmesh {
inline namespace standin {

namespace {

constexpr double kNmPerDegreeLatitude = 60.0;
constexpr double kFeetPerNm = 6076.12;
constexpr double kG = 32.174; // ft/s²

template <typename T> void put(QByteArray& out, int at, T v) {
    // Bit copy first: floats go out as their IEEE bits in little-endian order.
    using U = std::conditional_t<sizeof(T) == 8, quint64, quint32>;
    U bits;
    std::memcpy(&bits, &v, sizeof bits);
    qToLittleEndian(bits, out.data() + at);
}

template <typename T> T get(const QByteArray& in, int at) {
    using U = std::conditional_t<sizeof(T) == 8, quint64, quint32>;
    const U bits = qFromLittleEndian<U>(in.constData() + at);
    T v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace

QByteArray PositionBlock::toBytes() const {
    QByteArray out(kBytes, '\0');
    put(out, 0, latitude);
    put(out, 8, longitude);
    put(out, 16, altitudeFt);
    put(out, 24, headingDeg);
    put(out, 28, pitchDeg);
    put(out, 32, bankDeg);
    put(out, 36, groundSpeedKt);
    put(out, 40, verticalSpeedFpm);
    put(out, 44, sequence);
    put(out, 48, flags);
    return out;
}

PositionBlock PositionBlock::fromBytes(const QByteArray& bytes, bool* ok) {
    const bool good = bytes.size() == kBytes;
    if (ok) {
        *ok = good;
    }
    if (!good) {
        return {};
    }
    PositionBlock b;
    b.latitude = get<double>(bytes, 0);
    b.longitude = get<double>(bytes, 8);
    b.altitudeFt = get<double>(bytes, 16);
    b.headingDeg = get<float>(bytes, 24);
    b.pitchDeg = get<float>(bytes, 28);
    b.bankDeg = get<float>(bytes, 32);
    b.groundSpeedKt = get<float>(bytes, 36);
    b.verticalSpeedFpm = get<float>(bytes, 40);
    b.sequence = get<quint32>(bytes, 44);
    b.flags = get<quint32>(bytes, 48);
    return b;
}

double Circuit::lapSeconds() const {
    if (radiusNm <= 0 || speedKt <= 0) {
        return 0;
    }
    return 2 * std::numbers::pi * radiusNm / speedKt * 3600.0;
}

PositionBlock Circuit::at(double seconds, quint32 sequence) const {
    PositionBlock b;
    b.sequence = sequence;
    b.altitudeFt = altitudeFt;
    const double lap = lapSeconds();
    if (lap <= 0) {
        // Nothing to fly: the aircraft hangs over the centre.
        b.latitude = centreLatitude;
        b.longitude = centreLongitude;
        return b;
    }
    // Clockwise from the north point: the angle from north grows with time, and the aircraft
    // heads 90° to the right of the direction from the centre to itself.
    const double angle = 2 * std::numbers::pi * std::fmod(seconds, lap) / lap;
    const double northNm = radiusNm * std::cos(angle);
    const double eastNm = radiusNm * std::sin(angle);
    b.latitude = centreLatitude + northNm / kNmPerDegreeLatitude;
    const double cosLat = std::cos(centreLatitude * std::numbers::pi / 180.0);
    b.longitude = centreLongitude + (cosLat > 1e-6 ? eastNm / (kNmPerDegreeLatitude * cosLat) : 0.0);
    double heading = angle * 180.0 / std::numbers::pi + 90.0;
    heading = std::fmod(heading, 360.0);
    b.headingDeg = static_cast<float>(heading);
    b.groundSpeedKt = static_cast<float>(speedKt);
    // A coordinated turn: tan(bank) = v² / (g r).
    const double v = speedKt * kFeetPerNm / 3600.0;
    const double r = radiusNm * kFeetPerNm;
    b.bankDeg = static_cast<float>(std::atan(v * v / (kG * r)) * 180.0 / std::numbers::pi);
    return b;
}

} // namespace standin
} // namespace airmesh
