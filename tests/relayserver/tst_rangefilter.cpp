// The range filter's decisions: who gets whose positions, with pilots at known places (across
// the date line, near both poles), the pilots without a position, and the grid's answers
// against every pair's distance for crowds spread over the world and heaped at the poles.
#include "relayserver/rangefilter.h"
#include "wire/positionblock.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <set>

using namespace airmesh;

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

std::set<RangeFilter::Id> recipientsOf(const RangeFilter& f, RangeFilter::Id from) {
    std::set<RangeFilter::Id> out;
    f.forEachRecipient(from, [&](RangeFilter::Id id) {
        if (!out.insert(id).second) {
            qFatal("pilot %llu named twice", static_cast<unsigned long long>(id));
        }
    });
    return out;
}

} // namespace

class TestRangeFilter : public QObject {
    Q_OBJECT
private slots:
    void pairs_data();
    void pairs();
    void pilotsWithoutPositionHearAndAreHeardByAll();
    void gridAgreesWithEveryPairsDistance_data();
    void gridAgreesWithEveryPairsDistance();
};

void TestRangeFilter::pairs_data() {
    QTest::addColumn<double>("range");
    QTest::addColumn<double>("lat1");
    QTest::addColumn<double>("lon1");
    QTest::addColumn<double>("lat2");
    QTest::addColumn<double>("lon2");
    QTest::addColumn<bool>("inRange");
    // 1.5 degrees of latitude are 90 nm, 1.8 are 108.
    QTest::newRow("north 90 nm") << 100.0 << 47.0 << 8.0 << 48.5 << 8.0 << true;
    QTest::newRow("north 108 nm") << 100.0 << 47.0 << 8.0 << 48.8 << 8.0 << false;
    QTest::newRow("same cell, same place") << 100.0 << 47.0 << 8.0 << 47.0 << 8.0 << true;
    QTest::newRow("date line 60 nm") << 100.0 << 0.0 << 179.5 << 0.0 << -179.5 << true;
    QTest::newRow("date line 150 nm") << 100.0 << 0.0 << 179.5 << 0.0 << -178.0 << false;
    QTest::newRow("date line at 70 N") << 100.0 << 70.0 << 179.9 << 70.0 << -178.0 << true;
    QTest::newRow("date line at 70 S, too far") << 50.0 << -70.0 << -179.0 << -70.0 << 177.0 << false;
    QTest::newRow("over the north pole 60 nm") << 100.0 << 89.5 << 0.0 << 89.5 << 180.0 << true;
    QTest::newRow("over the north pole 120 nm") << 100.0 << 89.0 << -90.0 << 89.0 << 90.0 << false;
    QTest::newRow("at the north pole") << 10.0 << 90.0 << 0.0 << 89.9 << 123.0 << true;
    QTest::newRow("over the south pole 54 nm") << 100.0 << -89.9 << 45.0 << -89.2 << -135.0 << true;
    QTest::newRow("far side of the south pole") << 30.0 << -89.9 << 45.0 << -89.2 << -135.0 << false;
    QTest::newRow("world apart") << 100.0 << 47.46 << 8.55 << -33.95 << 151.18 << false;
    QTest::newRow("1200 nm over the pole") << 2000.0 << 80.0 << 0.0 << 80.0 << 180.0 << true;
}

void TestRangeFilter::pairs() {
    QFETCH(double, range);
    QFETCH(double, lat1);
    QFETCH(double, lon1);
    QFETCH(double, lat2);
    QFETCH(double, lon2);
    QFETCH(bool, inRange);
    RangeFilter f(range);
    f.place(1, lat1, lon1);
    f.place(2, lat2, lon2);
    f.place(3, -lat1, lon1 + 90.0); // a third pilot a quarter of the world away from both
    const std::set<RangeFilter::Id> expected = inRange ? std::set<RangeFilter::Id>{2} : std::set<RangeFilter::Id>{};
    QCOMPARE(recipientsOf(f, 1), expected);
    QCOMPARE(recipientsOf(f, 2).contains(1), inRange); // both ways
    // Moving away and back again.
    f.place(2, -lat2, lon2 + 180.0);
    QVERIFY(!recipientsOf(f, 1).contains(2));
    f.place(2, lat2, lon2);
    QCOMPARE(recipientsOf(f, 1), expected);
}

void TestRangeFilter::pilotsWithoutPositionHearAndAreHeardByAll() {
    RangeFilter f(50);
    f.place(1, 47.0, 8.0);
    f.place(2, -33.0, 151.0);
    f.place(3, std::nullopt, std::nullopt); // logged on, no position yet
    f.place(4, 47.1, 8.1);
    QCOMPARE(recipientsOf(f, 1), (std::set<RangeFilter::Id>{3, 4}));
    QCOMPARE(recipientsOf(f, 2), (std::set<RangeFilter::Id>{3}));
    QCOMPARE(recipientsOf(f, 3), (std::set<RangeFilter::Id>{1, 2, 4}));
    // A block that no longer holds a position puts a pilot back among those without one.
    f.place(4, std::nullopt, std::nullopt);
    QCOMPARE(recipientsOf(f, 2), (std::set<RangeFilter::Id>{3, 4}));
    QCOMPARE(recipientsOf(f, 4), (std::set<RangeFilter::Id>{1, 2, 3}));
    f.remove(3);
    f.remove(4);
    QCOMPARE(recipientsOf(f, 1), (std::set<RangeFilter::Id>{}));
    QCOMPARE(f.size(), std::size_t{2});
    QVERIFY(recipientsOf(f, 4).empty()); // gone
}

void TestRangeFilter::gridAgreesWithEveryPairsDistance_data() {
    QTest::addColumn<double>("range");
    QTest::addColumn<double>("minAbsLat"); // pilots between this latitude and the pole
    QTest::newRow("100 nm, whole world") << 100.0 << 0.0;
    QTest::newRow("100 nm, polar caps") << 100.0 << 85.0;
    QTest::newRow("5 nm, polar caps") << 5.0 << 89.5;
    QTest::newRow("1000 nm, whole world") << 1000.0 << 0.0;
}

void TestRangeFilter::gridAgreesWithEveryPairsDistance() {
    QFETCH(double, range);
    QFETCH(double, minAbsLat);
    QRandomGenerator rng(4711);
    RangeFilter f(range);
    struct P {
        double lat, lon;
    };
    std::vector<P> pilots;
    const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * rng.generateDouble(); };
    for (int i = 0; i < 600; ++i) {
        // Half in clusters around a few spots (so there are pairs in range), some on the date line.
        P p;
        if (i % 2 == 0) {
            const double centres[][2] = {{minAbsLat + 1, 179.9}, {-minAbsLat - 1, -179.9}, {89.99, 0}, {-89.99, 0}};
            const auto* c = centres[i / 2 % 4];
            const double spread = range / 60.0 * 2;
            p = {std::clamp(c[0] + uniform(-spread, spread), -90.0, 90.0), c[1] + uniform(-spread, spread)};
        } else {
            const double lat = uniform(minAbsLat, 90.0);
            p = {i % 4 == 1 ? lat : -lat, uniform(-180.0, 180.0)};
        }
        if (p.lon > 180) {
            p.lon -= 360;
        } else if (p.lon < -180) {
            p.lon += 360;
        }
        pilots.push_back(p);
        f.place(static_cast<RangeFilter::Id>(i), p.lat, p.lon);
    }
    std::size_t pairsInRange = 0;
    for (std::size_t i = 0; i < pilots.size(); ++i) {
        std::set<RangeFilter::Id> expected;
        for (std::size_t j = 0; j < pilots.size(); ++j) {
            if (j != i && wire::distanceNm(pilots[i].lat, pilots[i].lon, pilots[j].lat, pilots[j].lon) <= range) {
                expected.insert(j);
            }
        }
        pairsInRange += expected.size();
        QCOMPARE(recipientsOf(f, i), expected);
    }
    QVERIFY(pairsInRange > pilots.size()); // the crowds do meet
}

QTEST_APPLESS_MAIN(TestRangeFilter)
#include "tst_rangefilter.moc"
