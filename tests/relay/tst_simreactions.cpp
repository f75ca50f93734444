// What a simulator message does on the server: the reactions of Process_MP_Packet, through the
// pump, with a recording server link.
#include "serverlink/socket.h"
#include "simrig.h"

#include <QTest>

#include <functional>
#include <memory>

using namespace airmesh;
using Op = FakeSessionFaults::Op;

namespace {
using Rig = RelayRig;
} // namespace

class TestSimReactions : public QObject {
    Q_OBJECT

private slots:
    void init() { m_rig = std::make_unique<Rig>(); }
    void cleanup() { m_rig.reset(); }

    void reactions_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("fromHost"); // else from the simulator's other player
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("altGuid");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("debugLines");
        QTest::addColumn<QStringList>("lowLines");
        QTest::addColumn<QString>("aircraft"); // strMyAircraft afterwards; it starts as "Before"
        QTest::addColumn<int>("engine");       // lngMyEngineType afterwards; it starts as 2

        const QStringList none;
        auto bytes = [](const SimMessage& m) { return m.bytes(); };
        auto details = [](qint32 engine, const QString& title) {
            SimMessage m;
            sim::writeAircraftDetails(m, engine, title);
            return m.bytes();
        };
        auto chat = [](SimMsg number, const QByteArray& payload, int length = -1) {
            return message(number, payload, length).bytes();
        };

        QTest::newRow("4096") << bytes(message(SimMsg::Unnamed4096)) << true << true << false << none << none << none
                              << "Before" << 2;
        QTest::newRow("4119 with payload") << bytes(message(SimMsg::Unnamed4119, "junk")) << true << true << false
                                           << none << none << none << "Before" << 2;
        QTest::newRow("4120") << bytes(message(SimMsg::Unnamed4120)) << false << true << false << none << none << none
                              << "Before" << 2;
        QTest::newRow("4105 has no reaction") << bytes(message(SimMsg::ObserverJoinRetry)) << true << true << false
                                              << none << none << QStringList{" - Missed Packet 4105"} << "Before" << 2;
        QTest::newRow("unknown number") << bytes(message(9999)) << true << true << false << none << none
                                        << QStringList{" - Missed Packet 9999"} << "Before" << 2;
        QTest::newRow("aircraft, logged on")
            << details(1, "Jetliner 400-B") << true << true << false << QStringList{"aircraft 1 Jetliner 400-B"}
            << QStringList{" - Your aircraft is Jetliner 400-B Engine Type Jet", " - Send Aircraft Details to Host"}
            << none << "Jetliner 400-B" << 1;
        QTest::newRow("aircraft, logged off")
            << details(3, "Bell 206") << true << false << false << none
            << QStringList{" - Your aircraft is Bell 206 Engine Type Helo_Turbine"} << none << "Bell 206" << 3;
        QTest::newRow("aircraft, unknown engine")
            << details(7, "Cub") << true << false << false << none
            << QStringList{" - Your aircraft is Cub Unknown Engine type 7"} << none << "Cub" << 7;
        QTest::newRow("aircraft, empty title")
            << details(0, "") << true << true << false << QStringList{"aircraft 0 "}
            << QStringList{" - Your aircraft is  Engine Type Piston", " - Send Aircraft Details to Host"} << none << ""
            << 0;
        QTest::newRow("aircraft, Windows-1252 title")
            << bytes(message(SimMsg::AircraftDetails, le32(0) + QByteArray("Caf\xe9 \x80\0", 7), 4 + 7)) << true
            << false << false << none << QStringList{QStringLiteral(" - Your aircraft is Café € Engine Type Piston")}
            << none << QStringLiteral("Café €") << 0;
        QTest::newRow("aircraft of another player")
            << details(1, "Jetliner") << false << true << false << none << none << none << "Before" << 2;
        QTest::newRow("aircraft, title not ended")
            << bytes(message(SimMsg::AircraftDetails, le32(1) + "Jetliner", 12)) << true << true << false << none
            << QStringList{kReadPastEnd} << none << "Before" << 2;

        for (const bool fromHost : {true, false}) {
            const char* who = fromHost ? "user" : "other player";
            QTest::addRow("query plane from %s", who)
                << bytes(message(SimMsg::QueryPlane)) << fromHost << true << false << QStringList{"query"} << none
                << QStringList{" - Query all players on plane type"} << "Before" << 2;
            QTest::addRow("crash of %s", who)
                << bytes(message(SimMsg::PlayerCrashed)) << fromHost << true << false << QStringList{"crashed"} << none
                << QStringList{" - Send Player Crashed to host"} << "Before" << 2;
        }
        QTest::newRow("query plane, logged off")
            << bytes(message(SimMsg::QueryPlane)) << true << false << false << none << none << none << "Before" << 2;
        QTest::newRow("crash, logged off")
            << bytes(message(SimMsg::PlayerCrashed)) << true << false << false << none << none << none << "Before" << 2;

        const QByteArray block = positionBlock();
        QTest::newRow("position") << bytes(message(SimMsg::PositionUpdate, block)) << true << true << false
                                  << QStringList{"position " + QString::fromLatin1(block.toHex())} << none << none
                                  << "Before" << 2;
        QTest::newRow("position of another player") << bytes(message(SimMsg::PositionUpdate, block)) << false << true
                                                    << false << none << none << none << "Before" << 2;
        QTest::newRow("position, logged off") << bytes(message(SimMsg::PositionUpdate, block)) << true << false << false
                                              << none << none << none << "Before" << 2;
        QTest::newRow("position cut short")
            << bytes(message(SimMsg::PositionUpdate, block.left(30), 52)) << true << true << false << none
            << QStringList{kReadPastEnd} << none << "Before" << 2;

        const QByteArray hello("hello\0", 6);
        QTest::newRow("chat") << chat(SimMsg::ChatMessage, hello) << true << true << false << QStringList{"chat hello"}
                              << none << none << "Before" << 2;
        QTest::newRow("chat under the second identifier") << chat(SimMsg::ChatMessage, hello) << true << true << true
                                                          << QStringList{"chat hello"} << none << none << "Before" << 2;
        QTest::newRow("chat, Windows-1252")
            << chat(SimMsg::ChatMessage, QByteArray("caf\xe9 \x80\0", 7)) << true << true << false
            << QStringList{QStringLiteral("chat café €")} << none << none << "Before" << 2;
        QTest::newRow("chat, logged off")
            << chat(SimMsg::ChatMessage, hello) << true << false << false << none << none << none << "Before" << 2;
        QTest::newRow("chat, only the zero byte") << chat(SimMsg::ChatMessage, QByteArray(1, '\0')) << true << true
                                                  << false << none << none << none << "Before" << 2;
        QTest::newRow("chat, length 0") << chat(SimMsg::ChatMessage, {}) << true << true << false << none << none
                                        << none << "Before" << 2;
        QTest::newRow("chat of another player")
            << chat(SimMsg::ChatMessage, hello) << false << true << false << none << none << none << "Before" << 2;
        QTest::newRow("chat, length beyond the message")
            << chat(SimMsg::ChatMessage, hello, 1000) << true << true << false << none << QStringList{kReadPastEnd}
            << none << "Before" << 2;
        QTest::newRow("alternative chat") << chat(SimMsg::ChatMessageAlt, hello) << true << true << true
                                          << QStringList{"chat hello"} << none << none << "Before" << 2;
        QTest::newRow("alternative chat, first identifier")
            << chat(SimMsg::ChatMessageAlt, hello) << true << true << false << none << none
            << QStringList{" - Missed Packet 4128"} << "Before" << 2;
    }

    void reactions() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, fromHost);
        QFETCH(bool, connected);
        QFETCH(bool, altGuid);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, debugLines);
        QFETCH(QStringList, lowLines);
        QFETCH(QString, aircraft);
        QFETCH(int, engine);
        m_rig = std::make_unique<Rig>([altGuid](JoinedSession& joined) { joined.blnAltGuid = altGuid; });
        Rig& r = *m_rig;
        r.out.connected = connected;

        for (const bool debugPass : {true, false}) {
            r.clearLog();
            r.out.calls.clear();
            r.reportAircraft(2, QStringLiteral("Before"));
            r.flags(debugPass, !debugPass);
            r.world.sendFromHost(fromHost ? r.host : r.other, r.observer, SimMessage(bytes));
            r.sim.pumpMessages();

            QCOMPARE(r.logLines(), debugPass ? debugLines : lowLines);
            QCOMPARE(r.out.calls, calls);
            QCOMPARE(r.reactions.strMyAircraft(), aircraft);
            QCOMPARE(r.reactions.lngMyEngineType(), engine);
        }
        QCOMPARE(r.world.sentToHost().size(), 0);
    }

    void positionOnlyWhenAddressedToTheObserver() {
        Rig& r = *m_rig;
        SimMessage m = message(SimMsg::PositionUpdate, positionBlock());
        (void)sim::readHeader(m);
        r.reactions.Process_MP_Packet(m, simMsgNumber(SimMsg::PositionUpdate), r.host, r.other, kPositionBlockBytes);
        QCOMPARE(r.out.calls, QStringList());
    }

    void approval() {
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 falcon = r.addRemote(QStringLiteral("Falcon"), 18);
        r.clearLog();
        r.flags(true, true);

        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved, le32(falcon)));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved, le32(12345)));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), QStringList{" - Player addition approved: Falcon"});
        QVERIFY(r.players.Item(QString::number(falcon))->Add_Success);
        QVERIFY(!r.players.Item(QString::number(hawk))->Add_Success);

        r.clearLog();
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), QStringList{kReadPastEnd});
    }

    // The rejection is addressed to the rejected player: his player leaves the session, and he
    // stays listed without one, never offered to the simulator again.
    void rejection() {
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 falcon = r.addRemote(QStringLiteral("Falcon"), 18);
        r.clearLog();
        r.flags(true, true);

        r.world.sendFromHost(r.host, hawk, message(SimMsg::AddPlayerRejected));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerRejected)); // concerns nobody
        r.sim.pumpMessages();

        QCOMPARE(r.logLines(), QStringList{" - Player addition Rejected by your machine: Hawk12"});
        QCOMPARE(r.players.Count(), 2);
        const Players::PlayerPtr rejected = r.players.findBySession(17);
        QVERIFY(!rejected->inSession && rejected->rejectedByFs);
        QCOMPARE(rejected->Key, SimLink::waitingKey(17));
        QCOMPARE(r.players.Item(2)->Key, QString::number(falcon));
        QVERIFY(!r.world.playerExists(hawk));
        QVERIFY(r.world.playerExists(falcon));
        r.reactions.keepPlaces();
        QCOMPARE(r.remotePlayers(), QList<qint32>{falcon});

        // A player we created but never recorded is not ours to answer for.
        const qint32 stray = r.sim.objDP()->CreatePlayer(QStringLiteral("Stray"), QStringLiteral("Stray"), 0, 0);
        r.clearLog();
        r.world.sendFromHost(r.host, stray, message(SimMsg::AddPlayerRejected));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), QStringList());
        QVERIFY(r.world.playerExists(stray));

        // A removal that fails in the session is logged; the pilot is listed as waiting all the same.
        r.faults.failOperation(Op::DestroyPlayer, dp::DPERR_INVALIDPLAYER);
        r.world.sendFromHost(r.host, falcon, message(SimMsg::AddPlayerRejected));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), (QStringList{" - Player addition Rejected by your machine: Falcon",
                                            " - Error Process_MP_Packet -2005466986 injected failure"}));
        QCOMPARE(r.players.Count(), 2);
        QVERIFY(!r.players.findBySession(18)->inSession);
    }

    // Which player a rejection concerns: the one named after the header when it is ours, else
    // the one it was addressed to; a rejection sent to all that names nobody concerns nobody.
    void rejectionNamedOrSentToAll() {
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 falcon = r.addRemote(QStringLiteral("Falcon"), 18);
        const qint32 eagle = r.addRemote(QStringLiteral("Eagle"), 19);
        r.clearLog();
        r.flags(true, false);

        r.world.sendFromHost(r.host, dpflags::AllPlayers, message(SimMsg::AddPlayerRejected));
        r.sim.pumpMessages();
        QCOMPARE(r.remotePlayers().size(), 3);

        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerRejected, le32(hawk)));
        r.world.sendFromHost(r.host, dpflags::AllPlayers, message(SimMsg::AddPlayerRejected, le32(falcon)));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), (QStringList{" - Player addition Rejected by your machine: Hawk12",
                                            " - Player addition Rejected by your machine: Falcon"}));
        QCOMPARE(r.players.Count(), 3);
        QCOMPARE(r.remotePlayers(), QList<qint32>{eagle});
        QCOMPARE(r.players.findBySession(19)->Key, QString::number(eagle));
    }

    // Many remote players: what they say to all never fills the queue, and when the queue is
    // full all the same, the simulator's messages to the observer push out the rest.
    void query() {
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 stray = r.sim.objDP()->CreatePlayer(QStringLiteral("Stray"), QStringLiteral("Stray"), 0, 0);
        (void)r.world.takeSentToHost();
        r.clearLog();
        r.flags(true, true);

        r.world.sendFromHost(r.host, hawk, message(SimMsg::PlayerQuery));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerQuery)); // concerns nobody
        r.world.sendFromHost(r.host, stray, message(SimMsg::PlayerQuery));      // not in the registry
        r.world.sendFromHost(r.host, hawk, message(SimMsg::QueryPlane));        // not for the observer
        r.sim.pumpMessages();

        const QList<MemoryWorld::Sent> sent = r.world.takeSentToHost();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].from, hawk);
        QCOMPARE(sent[0].to, dpflags::AllPlayers);
        QCOMPARE(sent[0].bytes, QByteArray::fromHex("0310000000000000"));
        QCOMPARE(r.logLines(), QStringList());
        QCOMPARE(r.out.calls, QStringList());
        // The reply's copies for our own other players are echoes: they never take queue room.
        QCOMPARE(r.waiting(), 0);
        r.clearLog();

        // A reply that cannot be sent is logged, and the next message is still handled.
        r.faults.failOperation(Op::Send, dp::DPERR_INVALIDPLAYER);
        r.world.sendFromHost(r.host, hawk, message(SimMsg::PlayerQuery));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), (QStringList{" - Error Process_MP_Packet -2005466986 injected failure",
                                            " - Send Player Crashed to host"}));
        QCOMPARE(r.out.calls, QStringList{"crashed"});
    }

    // Whatever the server link throws is logged with a number of its kind.
    void errorTrapNumbers_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("line");
        QTest::newRow("session") << 0 << " - Error Process_MP_Packet -2005467006 session operation failed";
        QTest::newRow("registry") << 1
                                  << " - Error Process_MP_Packet 457 This key is already associated with an element "
                                     "of this collection";
        QTest::newRow("socket") << 2 << " - Error Process_MP_Packet 40006 The UDP socket is not open";
        QTest::newRow("other") << 3 << " - Error Process_MP_Packet 51 socket gone";
    }

    void errorTrapNumbers() {
        QFETCH(int, kind);
        QFETCH(QString, line);
        Rig& r = *m_rig;
        r.flags(true, false);
        bool thrown = false;
        r.out.onCall = [&] {
            if (thrown) {
                return;
            }
            thrown = true;
            switch (kind) {
            case 0:
                throw dp::DpError(dp::DPERR_INVALIDOBJECT);
            case 1:
                throw CollectionError(CollectionError::DuplicateKey);
            case 2:
                throw SocketError(SocketErrorNumber::BadState, QStringLiteral("The UDP socket is not open"));
            default:
                throw std::runtime_error("socket gone");
            }
        };
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), QStringList{line});
        QCOMPARE(r.out.calls, (QStringList{"query", "crashed"}));

        r.flags(false, false);
        r.clearLog();
        r.out.onCall = [] { throw std::runtime_error("again"); };
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), QStringList());
    }

private:
    std::unique_ptr<Rig> m_rig;
};

QTEST_GUILESS_MAIN(TestSimReactions)
#include "tst_simreactions.moc"
