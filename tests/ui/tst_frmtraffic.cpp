// The Traffic window: what it shows of the registry and the user's position, that it refreshes
// only while shown, and that it keeps its place; and the main window's ways to open it.
#include "linkrig.h"

#include "core/settings.h"
#include "ui/frmmain.h"
#include "ui/frmtraffic.h"
#include "ui/trafficscope.h"
#include "wire/positionblock.h"

#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTableView>
#include <QtTest>

using namespace airmesh;

namespace {

QByteArray at(double lat, double lon, double ft, double heading, double kt) {
    wire::AircraftPosition p;
    p.latitudeDeg = lat;
    p.longitudeDeg = lon;
    p.altitudeFt = ft;
    p.headingDeg = heading;
    p.groundSpeedKt = kt;
    return wire::encodePosition(p);
}

Players::PlayerPtr addPilot(LinkRig& rig, const QString& key, const QString& handle, const QString& title) {
    Players::PlayerPtr p = rig.players.Add(key);
    p->inSession = true;
    p->PlayerHandle = handle;
    p->Aircraft_Name = title;
    p->shownTitle = title.isEmpty() ? QString() : QStringLiteral("Local ") + title;
    return p;
}

QStringList rowText(const FrmTraffic& w, int row) {
    QStringList out;
    for (int c = 0; c < FrmTraffic::kColumns; ++c) {
        out << w.cellText(row, c);
    }
    return out;
}

} // namespace

class TestFrmTraffic : public QObject {
    Q_OBJECT

private slots:
    void showsWhoIsWhereWhileShown();
    void keepsItsPlace();
    void scopeAndTableChooseTogether();
    void opensFromTheTrafficLightAndCtrlT();
};

void TestFrmTraffic::showsWhoIsWhereWhileShown() {
    LinkRig rig;
    const Players::PlayerPtr bob = addPilot(rig, QStringLiteral("11"), QStringLiteral("Bob"), QStringLiteral("Cessna"));
    addPilot(rig, QStringLiteral("12"), QStringLiteral("Quiet"), QString());
    bob->lastPosition = at(47.53, -122.30, 2000, 181, 95);
    bob->lastPositionMs = rig.clock.steadyMs();
    rig.clock.advance(4);

    FrmTraffic w(rig.services, rig.players, rig.relay);
    QVERIFY(!w.refreshing());
    w.show();
    QVERIFY(w.refreshing());
    QCOMPARE(w.lblOwn()->text(), QStringLiteral("Your aircraft: no position from the simulator yet"));
    // Without the user's position there is no distance: dashes, and the rows by handle.
    QCOMPARE(rowText(w, 0), (QStringList{"Bob", "Cessna", "Local Cessna", "yes", "-", "-", "2000", "181", "95", "4"}));
    QCOMPARE(rowText(w, 1), (QStringList{"Quiet", "-", "-", "yes", "-", "-", "-", "-", "-", "-"}));

    // The user's aircraft over Seattle-Tacoma, on the ground: Bob is 4.8 nm north.
    rig.world.sendFromHost(rig.hostId, rig.sim.lngMyPlayerID(), fromFs([](SimMessage& m) {
                               wire::AircraftPosition p;
                               p.latitudeDeg = 47.45;
                               p.longitudeDeg = -122.31;
                               p.altitudeFt = 433;
                               p.headingDeg = 340;
                               p.onGround = true;
                               sim::writePositionUpdate(m, wire::encodePosition(p));
                           }));
    rig.sim.pumpMessages();
    w.refresh();
    QCOMPARE(w.lblOwn()->text(),
             QStringLiteral("Your aircraft: 47.4500 N 122.3100 W, 433 ft, heading 340, 0 kt, on the ground"));
    QCOMPARE(w.cellText(0, FrmTraffic::Distance), QStringLiteral("4.8"));
    QCOMPARE(w.cellText(0, FrmTraffic::Bearing), QStringLiteral("005"));

    // A block no aircraft can have, and a pilot who left.
    wire::PositionBlockFields inSpace;
    inSpace.altitude = qint64{40000} << 16;
    bob->lastPosition = inSpace.toBytes();
    rig.players.Remove(QStringLiteral("12"));
    w.refresh();
    QCOMPARE(w.rowCount(), 1);
    QCOMPARE(w.cellText(0, FrmTraffic::Distance), QStringLiteral("position unknown"));
    QVERIFY(w.lblShown()->isHidden());

    // Pilots without a place in FS are listed all the same, and a line says how many fly.
    addPilot(rig, QStringLiteral("~13"), QStringLiteral("Waits"), QStringLiteral("Piper Cub"))->inSession = false;
    const Players::PlayerPtr refused = addPilot(rig, QStringLiteral("~14"), QStringLiteral("Refused"), QString());
    refused->inSession = false;
    refused->rejectedByFs = true;
    w.refresh();
    QCOMPARE(w.rowCount(), 3);
    QCOMPARE(w.cellText(1, FrmTraffic::Pilot), QStringLiteral("Refused"));
    QCOMPARE(w.cellText(1, FrmTraffic::Place), QStringLiteral("no: FS refused him"));
    QCOMPARE(w.cellText(2, FrmTraffic::Place), QStringLiteral("waiting: session full"));
    QVERIFY(!w.lblShown()->isHidden());
    QCOMPARE(w.lblShown()->text(), QStringLiteral("1 of 3 pilots are shown in FS (its session is full)"));

    // Hidden, it does nothing at all.
    w.hide();
    QVERIFY(!w.refreshing());
}

void TestFrmTraffic::keepsItsPlace() {
    LinkRig rig;
    QVERIFY(!trafficWindowWanted(rig.ini));
    {
        FrmTraffic w(rig.services, rig.players, rig.relay);
        w.show();
        w.resize(700, 300);
        w.move(40, 30);
        w.rememberPlace(true);
        QVERIFY(trafficWindowWanted(rig.ini));
        w.close(); // closed by the user: not opened at the next start
    }
    QVERIFY(!trafficWindowWanted(rig.ini));
    FrmTraffic again(rig.services, rig.players, rig.relay);
    QCOMPARE(again.size(), QSize(700, 300));
    QCOMPARE(again.pos(), QPoint(40, 30));

    // A place no screen shows (another monitor, a hand-edited file) is not used.
    rig.ini.WriteINI(QStringLiteral("General"), QStringLiteral("TrafficWindow"), QStringLiteral("-9000,-9000,500,260"));
    FrmTraffic elsewhere(rig.services, rig.players, rig.relay);
    QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(elsewhere.geometry().center()));
}

// A pilot clicked in the scope is the table's row, a row chosen is marked in the scope; the
// scope's range and the splitter are kept, and a hidden window gives the scope nothing.
void TestFrmTraffic::scopeAndTableChooseTogether() {
    LinkRig rig;
    rig.world.sendFromHost(rig.hostId, rig.sim.lngMyPlayerID(),
                           fromFs([](SimMessage& m) { sim::writePositionUpdate(m, at(47.45, -122.31, 1000, 0, 0)); }));
    rig.sim.pumpMessages();
    const Players::PlayerPtr bob = addPilot(rig, QStringLiteral("11"), QStringLiteral("Bob"), QStringLiteral("Cessna"));
    bob->lastPosition = at(47.53, -122.30, 2000, 181, 95); // 4.8 nm north
    const Players::PlayerPtr ann = addPilot(rig, QStringLiteral("12"), QStringLiteral("Ann"), QStringLiteral("Cub"));
    ann->lastPosition = at(47.45, -122.20, 1500, 90, 80); // 4.5 nm east

    FrmTraffic w(rig.services, rig.players, rig.relay);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const std::vector<ScopeItem>& items = w.scope()->scene().items;
    QCOMPARE(items.size(), size_t{2});
    const auto bobAt = std::find_if(items.begin(), items.end(), [](const ScopeItem& i) { return i.handle == "Bob"; });
    QVERIFY(bobAt != items.end());
    QTest::mouseClick(w.scope(), Qt::LeftButton, {}, bobAt->at.toPoint());
    QCOMPARE(w.cellText(w.table()->currentIndex().row(), FrmTraffic::Pilot), QStringLiteral("Bob"));
    QCOMPARE(w.scope()->selected(), QStringLiteral("Bob"));
    w.table()->setCurrentIndex(w.table()->model()->index(0, 0)); // Ann is the nearer
    QCOMPARE(w.scope()->selected(), QStringLiteral("Ann"));

    QTest::keyClick(w.scope(), Qt::Key_Minus);
    QCOMPARE(readSetting(rig.ini, setting::TrafficRange), QStringLiteral("20")); // auto chose 10 nm
    w.splitter()->setSizes({0, 900});
    w.rememberPlace(true);
    FrmTraffic again(rig.services, rig.players, rig.relay);
    QCOMPARE(again.scope()->range(), 20);
    QCOMPARE(again.splitter()->sizes().value(0), 0);

    // Hidden, the scope keeps what it last drew.
    const auto bobDrawn = [&w] {
        const std::vector<ScopeItem>& now = w.scope()->scene().items;
        const auto it = std::find_if(now.begin(), now.end(), [](const ScopeItem& i) { return i.handle == "Bob"; });
        return it == now.end() ? QPointF(-1, -1) : it->at;
    };
    const QPointF drawn = bobDrawn();
    w.hide();
    bob->lastPosition = at(47.60, -122.30, 2000, 181, 95);
    w.refresh();
    QCOMPARE(w.scope()->scene().items.size(), size_t{2});
    QCOMPARE(bobDrawn(), drawn);
}

void TestFrmTraffic::opensFromTheTrafficLightAndCtrlT() {
    LinkRig rig;
    FrmMain w(rig.services);
    int opened = 0;
    w.onTraffic = [&opened] { ++opened; };
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* lamp = w.findChild<QLabel*>(QStringLiteral("ConnStatus%1").arg(w.visiblePicture()));
    QVERIFY(lamp != nullptr);
    QCOMPARE(lamp->toolTip(), FrmMain::trafficLightTip());
    QTest::mouseClick(lamp, Qt::LeftButton);
    QCOMPARE(opened, 1);
    QTest::keyClick(w.txtHostIP(), Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(opened, 2);
    QCOMPARE(w.txtHostIP()->text(), QString()); // Ctrl+T types nothing
}

QTEST_MAIN(TestFrmTraffic)
#include "tst_frmtraffic.moc"
