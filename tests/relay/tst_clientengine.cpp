// The Timer1 tick and the quit sequence over a real server link and the in-memory simulator.
#include "linkrig.h"
#include "relay/clientengine.h"

#include <QtTest>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

// The simulator reports the user's aircraft to the observer; a pump reads it.
void fsReportsAircraft(LinkRig& rig, const QString& title) {
    SimMessage m;
    sim::writeAircraftDetails(m, 0, title);
    rig.world.sendFromHost(rig.hostId, rig.sim.lngMyPlayerID(), m);
}

} // namespace

class TestClientEngine : public QObject {
    Q_OBJECT

private slots:
    void loadStartsTheTick();
    void tickThatTearsDownReadsNothing();
    void quit();
    void simulatorSessionEnds_data();
    void simulatorSessionEnds();
};

void TestClientEngine::loadStartsTheTick() {
    LinkRig rig;
    ClientEngine& engine = rig.wiring.engine();
    QVERIFY(!engine.Timer1().isActive());
    engine.windowLoaded();
    QVERIFY(engine.Timer1().isActive());

    // Logged off, the tick still reads the simulator.
    fsReportsAircraft(rig, QStringLiteral("Trainer"));
    engine.Timer1_Timer();
    QCOMPARE(rig.relay.strMyAircraft(), QStringLiteral("Trainer"));
}

void TestClientEngine::tickThatTearsDownReadsNothing() {
    LinkRig rig;
    ClientEngine& engine = rig.wiring.engine();
    engine.windowLoaded();
    QVERIFY(rig.logon());

    rig.clock.advance(ServerLink::kServerSilenceSeconds);
    fsReportsAircraft(rig, QStringLiteral("Trainer"));
    engine.Timer1_Timer();
    QVERIFY(!rig.link.blnConnected());
    QVERIFY(rig.relay.strMyAircraft().isEmpty());

    // The message waited for the next tick.
    engine.Timer1_Timer();
    QCOMPARE(rig.relay.strMyAircraft(), QStringLiteral("Trainer"));
}

void TestClientEngine::quit() {
    LinkRig rig;
    ClientEngine& engine = rig.wiring.engine();
    engine.windowLoaded();
    QVERIFY(rig.logon());
    rig.faults.failOperation(FakeSessionFaults::Op::Close, dp::DPERR_GENERIC);

    engine.quit();
    QVERIFY(!engine.Timer1().isActive());
    QCOMPARE(rig.link.ctlWinsock().State(), int(SocketState::Closed));
    QVERIFY(!rig.sim.objDP());
}

void TestClientEngine::simulatorSessionEnds_data() {
    QTest::addColumn<qint32>("failure"); // 0: the session layer's notice
    QTest::newRow("notice") << 0;
    QTest::newRow("send finds the session lost") << dp::DPERR_SESSIONLOST;
    QTest::newRow("send finds the connection lost") << dp::DPERR_CONNECTIONLOST;
}

// The simulator goes away while logged on: one line, the server sees the pilot leave, nothing
// more is said into the dead session, the user is told and the program ends.
void TestClientEngine::simulatorSessionEnds() {
    QFETCH(qint32, failure);
    LinkRig rig;
    ClientEngine& engine = rig.wiring.engine();
    rig.sim.setOnSessionLost([&engine] { engine.sessionLostNoticed(); });
    int ended = 0;
    engine.setOnEnded([&] { ++ended; });
    engine.windowLoaded();
    QVERIFY(rig.logon());
    QVERIFY(rig.readyPilot(7, QStringLiteral("Bob")) != 0);
    rig.takeFs();

    if (failure == 0) {
        rig.world.endSession(rig.fs);
        engine.Timer1_Timer();
    } else {
        rig.faults.failOperation(FakeSessionFaults::Op::Send, failure, -1);
        rig.faults.failOperation(FakeSessionFaults::Op::DestroyPlayer, failure, -1);
        rig.toClientUdp(toClient::positionUpdate(7, QByteArray(kPositionBlockBytes, 'p')));
    }
    for (int i = 0; i < 5; ++i) {
        rig.toClientUdp(toClient::positionUpdate(7, QByteArray(kPositionBlockBytes, 'q')));
    }
    QTRY_COMPARE_WITH_TIMEOUT(ended, 1, LinkRig::kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(rig.peer()->state() == QAbstractSocket::UnconnectedState, LinkRig::kWaitMs);
    QVERIFY(!rig.link.blnConnected());
    QVERIFY(!engine.Timer1().isActive());
    QCOMPARE(rig.players.Count(), 0);
    QCOMPARE(rig.boxes.texts(), QStringList{ClientEngine::kSessionEndedText});
    QVERIFY(rig.takeFs().isEmpty());

    const QStringList lines = rig.logLines();
    QCOMPARE(lines.count(QStringLiteral(" - Simulator session lost")), 1);
    for (const QString& l : lines) {
        QVERIFY2(!l.startsWith(QStringLiteral(" - Error")), qPrintable(l));
    }
    engine.simulatorSessionLost(); // a second report changes nothing
    QCOMPARE(ended, 1);
}

QTEST_GUILESS_MAIN(TestClientEngine)
#include "tst_clientengine.moc"
