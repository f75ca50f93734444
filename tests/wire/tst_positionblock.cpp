// The simulator's 52-byte position block: recorded blocks decoded, the encoder's round trip and
// its clamping, and the distance and bearing between two points.
#include "wire/positionblock.h"

#include <QTest>

#include <cctype>
#include <cmath>
#include <limits>
#include <optional>

using namespace airmesh::wire;

Q_DECLARE_METATYPE(airmesh::wire::AircraftPosition)
Q_DECLARE_METATYPE(std::optional<airmesh::wire::AircraftPosition>)

namespace {

// A recorded block as hex, one group per field in block order (index, time, three velocities,
// ground velocity, reserved, pbh, latitude, longitude and altitude integer parts, their three
// fractions, unused); every field little-endian. Worked out by hand from the field formulas.
QByteArray block(QByteArray hex) {
    hex.replace(' ', QByteArray());
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            qFatal("block holds a non-hex character '%c'", c);
        }
    }
    if (hex.size() != 2 * kPositionBlockBytes) {
        qFatal("block of %lld hex digits", static_cast<long long>(hex.size()));
    }
    return QByteArray::fromHex(hex);
}

// Level flight heading north in the air: pbh with bank and pitch 0 (stored as NOT 0).
const char* const kLevel = "00f0ffff";

QByteArray still(const char* pbh, const char* lat, const char* lon, const char* alt, const char* fractions) {
    return block(QByteArray("00000000 00000000 00000000 00000000 00000000 00000000 00000000 ") + pbh + ' ' + lat + ' ' +
                 lon + ' ' + alt + ' ' + fractions + " 0000");
}

AircraftPosition at(double lat, double lon, double ft, double hdg = 0, double bank = 0, double pitch = 0,
                    bool ground = false, double kt = 0, double fpm = 0) {
    return AircraftPosition{lat, lon, ft, hdg, pitch, bank, ground, kt, fpm};
}

// Empty when `got` is `want` within what a block can resolve; else what differs.
QString differs(const AircraftPosition& got, const AircraftPosition& want) {
    QStringList out;
    const auto check = [&out](const char* what, double g, double w, double tolerance) {
        if (!(std::abs(g - w) <= tolerance)) {
            out << QStringLiteral("%1 %2, want %3").arg(QLatin1String(what)).arg(g, 0, 'g', 12).arg(w, 0, 'g', 12);
        }
    };
    check("latitude", got.latitudeDeg, want.latitudeDeg, 1e-7);
    check("longitude", got.longitudeDeg, want.longitudeDeg, 1e-7);
    check("altitude", got.altitudeFt, want.altitudeFt, 1e-3);
    check("heading", got.headingDeg, want.headingDeg, 1e-9);
    check("bank", got.bankDeg, want.bankDeg, 1e-9);
    check("pitch", got.pitchDeg, want.pitchDeg, 1e-9);
    check("ground speed", got.groundSpeedKt, want.groundSpeedKt, 1e-3);
    check("vertical speed", got.verticalSpeedFpm, want.verticalSpeedFpm, 1e-3);
    if (got.onGround != want.onGround) {
        out << QStringLiteral("on ground %1").arg(got.onGround);
    }
    return out.join(QStringLiteral("; "));
}

const QByteArray kZurich = block("01000000 e8030000 00000000 00000000 55550800 9157a000 00000000 405cfffd "
                                 "9a7c5000 98551406 af010000 f37a 82e8 c898 0000");

} // namespace

class TestPositionBlock : public QObject {
    Q_OBJECT

private slots:
    void decodesRecordedBlocks_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<AircraftPosition>>("want");
        const std::optional<AircraftPosition> unknown;
        // Heading 784/1024 of a turn, bank NOT 10, pitch NOT 8; 95 kt, climbing 500 fpm.
        QTest::newRow("Zurich, N and E, airborne")
            << kZurich << std::optional(at(47.4647, 8.5492, 1416, 275.625, 3.515625, 2.8125, false, 95, 500));
        QTest::newRow("Sydney, S and E, on the ground, heading 1023/1024")
            << block("02000000 d0070000 00000000 00000000 00000000 00000000 00000000 feffffff "
                     "df6fc6ff 29f8806b 06000000 4d0c 7fb9 9b66 0000")
            << std::optional(at(-33.9461, 151.1772, 21, 359.6484375, 0, 0, true));
        // Bank NOT -20, pitch NOT -6; 160 kt, descending 700 fpm.
        QTest::newRow("New York, N and W, banked and descending")
            << block("03000000 b80b0000 00000000 00000000 5555f4ff be0c0e01 00000000 00344101 "
                     "8aea4400 551b89cb 92030000 5c3f 477f 6666 0000")
            << std::optional(at(40.6413, -73.7781, 3000, 90, -7.03125, -2.109375, false, 160, -700));
        QTest::newRow("Buenos Aires, S and W, taxiing south")
            << block("04000000 a00f0000 00000000 00000000 00000000 f5401400 00000000 02f8ffff "
                     "8df3c4ff ffe15fd6 14000000 7e91 6ac3 ee6b 0000")
            << std::optional(at(-34.8222, -58.5358, 67, 180, 0, 0, true, 12));
        QTest::newRow("179.99 E") << still(kLevel, "4905e4ff", "f72dfe7f", "e80b0000", "55d5 575a 0000")
                                  << std::optional(at(-16.5, 179.99, 10000));
        QTest::newRow("179.99 W") << still(kLevel, "4905e4ff", "08d20180", "e80b0000", "55d5 a9a5 0000")
                                  << std::optional(at(-16.5, -179.99, 10000));
        QTest::newRow("180, read as 180 W")
            << still(kLevel, "00000000", "00000080", "f4050000", "0000 0000 0000") << std::optional(at(0, -180, 5000));
        QTest::newRow("north pole") << still(kLevel, "569d9800", "00000000", "00000000", "0000 0000 0000")
                                    << std::optional(at(90, 0, 0));
        QTest::newRow("south pole") << still(kLevel, "aa6267ff", "00000000", "00000000", "0000 0000 0000")
                                    << std::optional(at(-90, 0, 0));
        QTest::newRow("a fraction past the north pole")
            << still(kLevel, "569d9800", "00000000", "00000000", "0100 0000 0000") << unknown;
        QTest::newRow("a fraction past the south pole")
            << still(kLevel, "a96267ff", "00000000", "00000000", "ffff 0000 0000") << unknown;
        QTest::newRow("100,000 ft") << still(kLevel, "00000000", "00000000", "10770000", "0000 0000 0000")
                                    << std::optional(at(0, 0, 100000));
        QTest::newRow("a fraction above 100,000 ft")
            << still(kLevel, "00000000", "00000000", "10770000", "0000 0000 0100") << unknown;
        QTest::newRow("610 m below the sea")
            << still(kLevel, "00000000", "00000000", "9efdffff", "0000 0000 0000") << unknown;
        QTest::newRow("half a metre below the sea")
            << still(kLevel, "00000000", "00000000", "ffffffff", "0000 0000 0080")
            << std::optional(at(0, 0, -0.5 / 0.3048));
        // Ground velocity above 2^31 is a speed, not a negative number. A pbh of all zeros is
        // bank and pitch -1 (NOT 0), not level.
        QTest::newRow("bank -512, pitch 511, fastest ground speed")
            << block("00000000 00000000 00000000 00000000 00000000 00000080 00000000 00f01f80 "
                     "00000000 00000000 00000000 0000 0000 0000 0000")
            << std::optional(at(0, 0, 0, 0, -180, 179.6484375, false, 32768 * 3600 / 6076.12));
        QTest::newRow("bank 511, pitch -512") << still("0000e07f", "00000000", "00000000", "00000000", "0000 0000 0000")
                                              << std::optional(at(0, 0, 0, 0, 179.6484375, -180));
        QTest::newRow("pbh all zeros") << still("00000000", "00000000", "00000000", "00000000", "0000 0000 0000")
                                       << std::optional(at(0, 0, 0, 0, -0.3515625, -0.3515625));
        QTest::newRow("51 bytes") << kZurich.left(51) << unknown;
        QTest::newRow("empty") << QByteArray() << unknown;
    }
    void decodesRecordedBlocks() {
        QFETCH(QByteArray, bytes);
        QFETCH(std::optional<AircraftPosition>, want);
        const std::optional<AircraftPosition> got = decodePosition(bytes);
        QCOMPARE(got.has_value(), want.has_value());
        if (got) {
            const QString diff = differs(*got, *want);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
        }
    }

    // What the decoder reads back, the encoder writes as the same bits: every field but the
    // north and east speeds, which the encoder works out from speed and heading.
    void encoderRoundTrip_data() { decodesRecordedBlocks_data(); }
    void encoderRoundTrip() {
        QFETCH(QByteArray, bytes);
        const std::optional<AircraftPosition> p = decodePosition(bytes);
        if (!p) {
            QSKIP("not a position");
        }
        const std::optional<PositionBlockFields> f = PositionBlockFields::read(bytes);
        QVERIFY(f);
        const QByteArray again = encodePosition(*p, f->packetIndex, f->applicationTime);
        QCOMPARE(again.size(), kPositionBlockBytes);
        QCOMPARE(again.left(8).toHex(' '), bytes.left(8).toHex(' '));
        QCOMPARE(again.mid(16).toHex(' '), bytes.mid(16).toHex(' '));
        QCOMPARE(f->toBytes(), bytes);
    }

    void encoderKeepsFieldsInRange_data() {
        QTest::addColumn<AircraftPosition>("in");
        QTest::addColumn<AircraftPosition>("want");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("east of 180") << at(10, 190, 500) << at(10, -170, 500);
        QTest::newRow("west of 180 W") << at(10, -190, 500) << at(10, 170, 500);
        QTest::newRow("one and a half turns east") << at(10, 540, 500) << at(10, -180, 500);
        QTest::newRow("beyond the pole") << at(95, 0, 500) << at(90, 0, 500);
        QTest::newRow("heading -90") << at(0, 0, 0, -90, 0, 0) << at(0, 0, 0, 270, 0, 0);
        QTest::newRow("heading rounds up to north") << at(0, 0, 0, 359.9, 0, 0) << at(0, 0, 0, 0, 0, 0);
        QTest::newRow("bank and pitch past their fields")
            << at(0, 0, 0, 0, 1e300, -1e300) << at(0, 0, 0, 0, 179.6484375, -180);
        QTest::newRow("negative ground speed") << at(0, 0, 0, 0, 0, 0, false, -5, 0) << at(0, 0, 0, 0, 0, 0);
        QTest::newRow("not numbers") << at(nan, inf, nan, nan, nan, inf, true, nan, nan) << at(0, 0, 0, 0, 0, 0, true);
    }
    void encoderKeepsFieldsInRange() {
        QFETCH(AircraftPosition, in);
        QFETCH(AircraftPosition, want);
        const std::optional<AircraftPosition> got = decodePosition(encodePosition(in));
        QVERIFY(got);
        const QString diff = differs(*got, want);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    void distanceAndBearing_data() {
        QTest::addColumn<double>("lat1");
        QTest::addColumn<double>("lon1");
        QTest::addColumn<double>("lat2");
        QTest::addColumn<double>("lon2");
        QTest::addColumn<double>("nm");
        QTest::addColumn<double>("bearing");
        // One degree of a great circle is 60.04 nm on a sphere of 3440.065 nm.
        QTest::newRow("along the equator") << 0.0 << 0.0 << 0.0 << 1.0 << 60.040 << 90.0;
        QTest::newRow("east across the date line") << 0.0 << 179.5 << 0.0 << -179.5 << 60.040 << 90.0;
        QTest::newRow("west across the date line") << 0.0 << -179.5 << 0.0 << 179.5 << 60.040 << 270.0;
        QTest::newRow("over the pole") << 89.0 << 0.0 << 89.0 << 180.0 << 120.081 << 0.0;
        QTest::newRow("the same point") << 47.0 << 8.0 << 47.0 << 8.0 << 0.0 << 0.0;
        QTest::newRow("KSEA to KPAE") << 47.4502 << -122.3088 << 47.9063 << -122.2816 << 27.407 << 2.289;
        QTest::newRow("JFK to Heathrow") << 40.6413 << -73.7781 << 51.4700 << -0.4543 << 2991.367 << 51.353;
        QTest::newRow("Honolulu to Nadi") << 21.3245 << -157.9251 << -17.7553 << 177.4430 << 2757.640 << 213.536;
    }
    void distanceAndBearing() {
        QFETCH(double, lat1);
        QFETCH(double, lon1);
        QFETCH(double, lat2);
        QFETCH(double, lon2);
        QFETCH(double, nm);
        QFETCH(double, bearing);
        const double d = distanceNm(lat1, lon1, lat2, lon2);
        QVERIFY2(std::abs(d - nm) < 0.001, qPrintable(QString::number(d, 'f', 4)));
        QVERIFY(std::abs(distanceNm(lat2, lon2, lat1, lon1) - d) < 1e-9);
        const double b = bearingDeg(lat1, lon1, lat2, lon2);
        QVERIFY2(b >= 0 && b < 360, qPrintable(QString::number(b)));
        const double off = std::abs(std::remainder(b - bearing, 360.0));
        QVERIFY2(off < 0.001, qPrintable(QString::number(b, 'f', 4)));
    }
};

QTEST_APPLESS_MAIN(TestPositionBlock)
#include "tst_positionblock.moc"
