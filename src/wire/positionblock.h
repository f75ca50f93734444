#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

namespace airmesh::wire {

// The 52-byte position block the simulator sends for an aircraft (its position-and-velocity
// packet) and the relay carries through unchanged. All fields little-endian:
//
//   +0  u32 packet index          +28 u32 pbh (on ground, heading, bank, pitch)
//   +4  u32 application time      +32 s32 latitude, integer part
//   +8  s32 latitude velocity     +36 s32 longitude, high part
//   +12 s32 longitude velocity    +40 s32 altitude, integer part (metres)
//   +16 s32 altitude velocity     +44 u16 latitude fraction
//   +20 u32 ground velocity       +46 u16 longitude, low part
//   +24 four reserved bytes       +48 u16 altitude fraction
//                                 +50 two unused bytes
//
// Velocities are feet per second times 65536. Each coordinate is one signed 48-bit fixed-point
// value (integer part << 16 | fraction): the fraction belongs to the value's two's complement,
// so it counts up from the integer part also south of the equator and west of Greenwich.
inline constexpr int kPositionBlockBytes = 52;

// The block's fields as stored, for whoever writes blocks or reads what display ignores.
struct PositionBlockFields {
    quint32 packetIndex = 0;
    quint32 applicationTime = 0;
    qint32 latVelocity = 0;
    qint32 lonVelocity = 0;
    qint32 altVelocity = 0;
    quint32 groundVelocity = 0;
    quint32 reserved = 0;
    quint32 pbh = 0;
    qint64 latitude = 0;  // 48-bit fixed point: 1 << 16 is one unit of 90/10001750 degrees
    qint64 longitude = 0; // 48-bit fixed point: the whole range is 360 degrees
    qint64 altitude = 0;  // 48-bit fixed point: 1 << 16 is one metre
    quint16 unused = 0;

    bool operator==(const PositionBlockFields&) const = default;

    // Reads a block; nullopt unless it holds at least kPositionBlockBytes (bytes past them are
    // not read).
    static std::optional<PositionBlockFields> read(QByteArrayView block);
    // Exactly kPositionBlockBytes.
    QByteArray toBytes() const;
};

// Where an aircraft is and how it moves, in the units a pilot reads.
struct AircraftPosition {
    double latitudeDeg = 0;  // north positive
    double longitudeDeg = 0; // east positive, -180 to 180
    double altitudeFt = 0;   // above mean sea level
    double headingDeg = 0;   // true, 0 to 360
    double pitchDeg = 0;     // as the simulator signs it
    double bankDeg = 0;      // as the simulator signs it
    bool onGround = false;
    double groundSpeedKt = 0;
    double verticalSpeedFpm = 0;
};

// The highest and lowest altitude a block may place an aircraft at and still be believed.
inline constexpr double kMaxBelievableAltitudeFt = 100000.0;
inline constexpr double kMinBelievableAltitudeFt = -2000.0;

// Decodes a block; nullopt for a short block or one whose values no aircraft can have
// (latitude beyond the poles, altitude out of range): "position unknown".
std::optional<AircraftPosition> decodePosition(QByteArrayView block);
// The block for `p`; `index` and `time` go to the packet index and application time. Values
// out of a field's range are clamped (heading wrapped, longitude normalised).
QByteArray encodePosition(const AircraftPosition& p, quint32 index = 0, quint32 time = 0);
// Fills the position fields of `f` from `p` and leaves the rest as they are.
void setPosition(PositionBlockFields& f, const AircraftPosition& p);

// Great-circle distance in nautical miles and initial true bearing in degrees (0 to 360) from
// one point to another, on a sphere of the earth's mean radius.
double distanceNm(double lat1Deg, double lon1Deg, double lat2Deg, double lon2Deg);
// The distance from one point to many: what depends on that point alone is worked out once.
class DistanceFrom {
public:
    DistanceFrom(double latDeg, double lonDeg);
    double nm(double latDeg, double lonDeg) const;

private:
    double m_lat;
    double m_lonDeg;
    double m_cosLat;
};
double bearingDeg(double lat1Deg, double lon1Deg, double lat2Deg, double lon2Deg);

} // namespace airmesh::wire
