#pragma once

#include "wire/positionblock.h"

#include <QByteArray>
#include <QtGlobal>

namespace airmesh {
inline namespace standin {

// A closed flight path: a level circle flown clockwise around a centre point at constant speed
// and altitude, so that a stand-in aircraft moves plausibly and comes back where it began. Its
// positions go out as the simulator's own 52-byte blocks (wire::encodePosition).
struct Circuit {
    double centreLatitude = 47.4502; // Seattle-Tacoma (KSEA)
    double centreLongitude = -122.3088;
    double radiusNm = 2.0;
    double altitudeFt = 1500.0;
    double speedKt = 100.0;

    // Seconds for one lap; 0 for a degenerate circuit (no radius or no speed).
    double lapSeconds() const;
    // Where the aircraft is `seconds` after it started the lap at the circle's north point: in
    // the air, level, banked into the turn (right wing down positive), at the circuit's speed.
    wire::AircraftPosition at(double seconds) const;
    // That position as the block the simulator sends: packet index `sequence`, application time
    // the milliseconds since the lap began.
    QByteArray block(double seconds, quint32 sequence) const;
};

} // namespace standin
} // namespace airmesh
