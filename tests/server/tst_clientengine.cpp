// The Timer1 tick and the quit sequence over a real server link and the in-memory simulator.
#include "linkrig.h"
#include "server/clientengine.h"

#include <QtTest>

using namespace airmesh;

namespace {

// The simulator reports the user's aircraft to the observer; a pump reads it.
void fsReportsAircraft(LinkRig& rig, const QString& title) {
    SimMessage m;
    sim::writeAircraftDetails(m, 0, title);
    rig.world.sendFromHost(rig.hostId, rig.sim.lngMyPlayerID, m);
}

} // namespace

class TestClientEngine : public QObject {
    Q_OBJECT

private slots:
    void loadStartsTheTick();
    void tickThatTearsDownReadsNothing();
    void quit();
};

void TestClientEngine::loadStartsTheTick() {
    LinkRig rig;
    ClientEngine engine(rig.sim, rig.link);
    QVERIFY(!engine.Timer1.isActive());
    engine.windowLoaded();
    QVERIFY(engine.Timer1.isActive());
    QCOMPARE(engine.Timer1.interval(), ClientEngine::kTimer1Ms);

    // Logged off, the tick still reads the simulator.
    fsReportsAircraft(rig, QStringLiteral("Trainer"));
    engine.Timer1_Timer();
    QCOMPARE(rig.sim.strMyAircraft, QStringLiteral("Trainer"));
}

void TestClientEngine::tickThatTearsDownReadsNothing() {
    LinkRig rig;
    ClientEngine engine(rig.sim, rig.link);
    engine.windowLoaded();
    QVERIFY(rig.logon());

    rig.clock.advance(ServerLink::kServerSilenceSeconds);
    fsReportsAircraft(rig, QStringLiteral("Trainer"));
    engine.Timer1_Timer();
    QVERIFY(!rig.link.blnConnected);
    QVERIFY(rig.sim.strMyAircraft.isEmpty());

    // The message waited for the next tick.
    engine.Timer1_Timer();
    QCOMPARE(rig.sim.strMyAircraft, QStringLiteral("Trainer"));
}

void TestClientEngine::quit() {
    LinkRig rig;
    ClientEngine engine(rig.sim, rig.link);
    engine.windowLoaded();
    QVERIFY(rig.logon());
    rig.world.failOperation(MemoryWorld::Op::Close, dp::DPERR_GENERIC);

    engine.quit();
    QVERIFY(!engine.Timer1.isActive());
    QCOMPARE(rig.link.ctlWinsock.State(), int(SocketState::Closed));
    QVERIFY(!rig.sim.objDP);
}

QTEST_GUILESS_MAIN(TestClientEngine)
#include "tst_clientengine.moc"
