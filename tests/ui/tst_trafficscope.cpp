// The Traffic window's scope on the offscreen platform: where a pilot is drawn (north up, at his
// bearing and distance, on the outer ring beyond the range), what his label says, the range
// steps and auto, and that a picture that changes nothing paints nothing.
#include "ui/trafficscope.h"

#include <QApplication>
#include <QPaintEvent>
#include <QtTest>

using namespace airmesh;

namespace {

TrafficRow pilot(const QString& handle, double distanceNm, double bearingDeg, double altitudeFt = 3000,
                 InFs inFs = InFs::Shown, double speedKt = 120, double headingDeg = 90) {
    TrafficRow r;
    r.handle = handle;
    r.inFs = inFs;
    wire::AircraftPosition p;
    p.altitudeFt = altitudeFt;
    p.groundSpeedKt = speedKt;
    p.headingDeg = headingDeg;
    r.position = p;
    r.heard = true;
    r.distanceNm = distanceNm;
    r.bearingDeg = bearingDeg;
    return r;
}

TrafficPicture around(std::vector<TrafficRow> rows) {
    TrafficPicture pic;
    pic.own = wire::AircraftPosition{};
    pic.ownHeard = true;
    pic.rows = std::move(rows);
    return pic;
}

// Counts the scope's paint events and the area they covered.
struct Paints : QObject {
    int count = 0;
    QRect area;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            ++count;
            area |= static_cast<QPaintEvent*>(e)->rect();
        }
        return false;
    }
};

} // namespace

class TestTrafficScope : public QObject {
    Q_OBJECT

private slots:
    void placeNorthUp_data();
    void placeNorthUp();
    void labels_data();
    void labels();
    void sceneOfAPicture();
    void rangeSteps();
    void paintsOnlyWhatChanged();
    void drawsEachLook();
};

void TestTrafficScope::placeNorthUp_data() {
    QTest::addColumn<double>("bearing");
    QTest::addColumn<double>("distance");
    QTest::addColumn<QPointF>("at");
    // Centre (200, 200), outer ring 100 px for 10 nm.
    QTest::newRow("north is up") << 0.0 << 5.0 << QPointF(200, 150);
    QTest::newRow("east is right") << 90.0 << 10.0 << QPointF(300, 200);
    QTest::newRow("south is down") << 180.0 << 2.5 << QPointF(200, 225);
    QTest::newRow("west is left") << 270.0 << 5.0 << QPointF(150, 200);
    QTest::newRow("beyond the range: on the outer ring") << 90.0 << 300.0 << QPointF(300, 200);
    QTest::newRow("at the centre") << 45.0 << 0.0 << QPointF(200, 200);
}

void TestTrafficScope::placeNorthUp() {
    QFETCH(double, bearing);
    QFETCH(double, distance);
    QFETCH(QPointF, at);
    const QPointF p = TrafficScope::place(bearing, distance, 10, QPointF(200, 200), 100);
    QVERIFY2(std::hypot(p.x() - at.x(), p.y() - at.y()) < 1e-9,
             qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
}

void TestTrafficScope::labels_data() {
    QTest::addColumn<double>("feet");
    QTest::addColumn<QString>("text");
    QTest::newRow("hundreds of feet") << 4020.0 << "Goose 040";
    QTest::newRow("low") << 460.0 << "Goose 005";
    QTest::newRow("at 18,000 ft still feet") << 18000.0 << "Goose 180";
    QTest::newRow("above: a flight level") << 35040.0 << "Goose FL350";
    QTest::newRow("below sea level") << -300.0 << "Goose 000";
}

void TestTrafficScope::labels() {
    QFETCH(double, feet);
    QFETCH(QString, text);
    QCOMPARE(TrafficScope::label(QStringLiteral("Goose"), feet), text);
}

void TestTrafficScope::sceneOfAPicture() {
    TrafficScope scope;
    scope.resize(400, 400); // centre (200, 200), outer ring 186 px
    // Without the user's own position there is nothing to draw around.
    TrafficPicture unknown = around({pilot("Near", 3, 0)});
    unknown.own.reset();
    scope.setPicture(unknown);
    QVERIFY(!scope.scene().ownKnown);
    QVERIFY(scope.scene().items.empty());

    TrafficRow lost;
    lost.handle = QStringLiteral("Lost");
    lost.heard = true;
    TrafficPicture pic =
        around({pilot("Near", 3, 0), pilot("Mid", 14, 90), pilot("Waits", 8, 180, 3000, InFs::SessionFull),
                pilot("Far", 900, 270, 3000, InFs::SessionFull), lost});
    scope.setPicture(pic);
    const ScopeScene& s = scope.scene();
    QVERIFY(s.ownKnown);
    QCOMPARE(s.rangeNm, 20.0); // auto: the smallest step holding the shown pilots (14 nm and room)
    QCOMPARE(s.rings.back(), 20.0);
    QCOMPARE(s.withoutPosition, 1);
    QCOMPARE(s.items.size(), size_t{4});
    const ScopeItem& near = s.items[0];
    QCOMPARE(near.at, QPointF(200, std::round(200 - 3.0 / 20 * 186)));
    QCOMPARE(near.label, QStringLiteral("Near 030"));
    // Heading east at 120 kt: the next minute is 2 nm to the right.
    QCOMPARE(near.ahead, QPointF(std::round(200 + 2.0 / 20 * 186), near.at.y()));
    QVERIFY(!near.waiting && !near.offRange);
    QVERIFY(s.items[2].waiting);
    const ScopeItem& far = s.items[3];
    QVERIFY(far.offRange && far.waiting);
    QCOMPARE(far.at, QPointF(200 - 186, 200));
    QCOMPARE(scope.handleAt(near.at + QPointF(4, 3)), QStringLiteral("Near"));
    QCOMPARE(scope.handleAt(QPointF(5, 5)), QString());
}

void TestTrafficScope::rangeSteps() {
    TrafficScope scope;
    QSignalSpy changed(&scope, &TrafficScope::rangeChanged);
    scope.resize(300, 300);
    scope.setPicture(around({pilot("Mid", 14, 90)}));
    QCOMPARE(scope.range(), TrafficScope::kAuto);
    // From auto (20 nm here) a step each way; the wheel and + / - alike.
    scope.zoomIn();
    QCOMPARE(scope.range(), 10);
    QTest::keyClick(&scope, Qt::Key_Minus);
    QCOMPARE(scope.range(), 20);
    QTest::keyClick(&scope, Qt::Key_Plus);
    QCOMPARE(scope.range(), 10);
    QWheelEvent out(QPointF(150, 150), QPointF(150, 150), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
    QApplication::sendEvent(&scope, &out);
    QCOMPARE(scope.range(), 20);
    QCOMPARE(scope.scene().rangeNm, 20.0);
    // The ends hold.
    for (int i = 0; i < 10; ++i) {
        scope.zoomOut();
    }
    QCOMPARE(scope.range(), 500);
    for (int i = 0; i < 10; ++i) {
        scope.zoomIn();
    }
    QCOMPARE(scope.range(), 2);
    QCOMPARE(changed.count(), 15); // every change, none for a step past an end
    // A range that is not a step is auto.
    scope.setRange(7);
    QCOMPARE(scope.range(), TrafficScope::kAuto);
}

void TestTrafficScope::paintsOnlyWhatChanged() {
    TrafficScope scope;
    scope.resize(400, 400);
    scope.show();
    QVERIFY(QTest::qWaitForWindowExposed(&scope));
    const TrafficPicture pic = around({pilot("Near", 3, 0), pilot("Mid", 14, 90)});
    scope.setPicture(pic);
    QCoreApplication::processEvents();
    Paints paints;
    scope.installEventFilter(&paints);

    scope.setPicture(pic); // a second later, nobody moved
    QCoreApplication::processEvents();
    QCOMPARE(paints.count, 0);

    TrafficPicture moved = pic;
    moved.rows[1].distanceNm = 15; // Mid moves east; Near stays
    scope.setPicture(moved);
    QCoreApplication::processEvents();
    QCOMPARE(paints.count, 1);
    QVERIFY(paints.area.width() < scope.width() / 2);
    QVERIFY(!paints.area.contains(scope.scene().items[0].at.toPoint()));
}

// Symbols come from pictures made once per heading and look: each pilot must still be drawn as
// he is (filled, hollow when waiting, in the highlight when chosen), also after a move.
void TestTrafficScope::drawsEachLook() {
    TrafficScope scope;
    scope.resize(400, 400);
    scope.setRange(20);
    scope.show();
    QVERIFY(QTest::qWaitForWindowExposed(&scope));
    TrafficPicture pic = around({pilot("Shown", 8, 0), pilot("Waits", 8, 90, 3000, InFs::SessionFull),
                                 pilot("Chosen", 8, 180), pilot("Far", 40, 270)});
    scope.setSelected(QStringLiteral("Chosen"));
    const QPalette pal = scope.palette();
    for (const double heading : {90.0, 200.0}) {
        for (TrafficRow& r : pic.rows) {
            r.position->headingDeg = heading;
        }
        scope.setPicture(pic);
        QCoreApplication::processEvents();
        const QImage shot = scope.grab().toImage();
        // A little behind the middle of a symbol: inside it, off the line ahead.
        const double h = heading * M_PI / 180;
        const QPointF behind(-3 * std::sin(h), 3 * std::cos(h));
        const auto colourAt = [&](const char* handle) {
            for (const ScopeItem& i : scope.scene().items) {
                if (i.handle == QLatin1String(handle)) {
                    const QPointF at = i.offRange ? i.at : i.at + behind;
                    return shot.pixelColor((at * shot.devicePixelRatio()).toPoint()).rgb();
                }
            }
            return QColor(Qt::magenta).rgb();
        };
        QCOMPARE(colourAt("Shown"), pal.color(QPalette::Text).rgb());
        QCOMPARE(colourAt("Waits"), pal.color(QPalette::Base).rgb()); // hollow
        QCOMPARE(colourAt("Chosen"), pal.color(QPalette::Highlight).rgb());
        QVERIFY(colourAt("Far") != pal.color(QPalette::Base).rgb()); // its mark on the ring
    }
}

QTEST_MAIN(TestTrafficScope)
#include "tst_trafficscope.moc"
