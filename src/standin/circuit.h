#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace airmesh {
inline namespace standin {

// The 52-byte position block our stand-in simulator sends for its aircraft. The client passes
// the block on unchanged and never reads it; this is our own deterministic layout, all fields
// little-endian:
//
//   +0  double  latitude, degrees north
//   +8  double  longitude, degrees east
//   +16 double  altitude, feet above mean sea level
//   +24 float   true heading, degrees 0..360
//   +28 float   pitch, degrees, nose up positive
//   +32 float   bank, degrees, right wing down positive
//   +36 float   ground speed, knots
//   +40 float   vertical speed, feet per minute
//   +44 uint32  sequence number of the block, counting from 0
//   +48 uint32  flags (bit 0: on the ground); 0 in flight
struct PositionBlock {
    double latitude = 0;
    double longitude = 0;
    double altitudeFt = 0;
    float headingDeg = 0;
    float pitchDeg = 0;
    float bankDeg = 0;
    float groundSpeedKt = 0;
    float verticalSpeedFpm = 0;
    quint32 sequence = 0;
    quint32 flags = 0;

    bool operator==(const PositionBlock&) const = default;

    static constexpr int kBytes = 52;
    QByteArray toBytes() const;
    // Reads a block; `ok` is false (and the result empty) unless exactly kBytes are given.
    static PositionBlock fromBytes(const QByteArray& bytes, bool* ok = nullptr);
};

// A closed flight path: a level circle flown clockwise around a centre point at constant speed
// and altitude, so that a stand-in aircraft moves plausibly and comes back where it began.
struct Circuit {
    double centreLatitude = 47.4502; // a field to circle over
    double centreLongitude = -122.3088;
    double radiusNm = 2.0;
    double altitudeFt = 1500.0;
    double speedKt = 100.0;

    // Seconds for one lap; 0 for a degenerate circuit (no radius or no speed).
    double lapSeconds() const;
    // Where the aircraft is `seconds` after it started the lap at the circle's north point.
    PositionBlock at(double seconds, quint32 sequence) const;
};

} // namespace standin
} // namespace airmesh
