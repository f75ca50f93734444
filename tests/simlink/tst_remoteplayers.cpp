#include "simlink/simcodec.h"
#include "simlink/simlink.h"
#include "simrig.h"
#include "standin/memorysession.h"

#include <QTest>

#include <memory>

using namespace airmesh;
using Op = FakeSessionFaults::Op;

Q_DECLARE_METATYPE(airmesh::FakeSessionFaults::Op)

namespace {

using Rig = SimRig;

// The result code of the DpError that `f` throws, or 0 when it throws none.
template <typename F> qint32 failureCode(F f) {
    try {
        f();
    } catch (const dp::DpError& e) {
        return e.code();
    }
    return dp::DP_OK;
}

} // namespace

class TestRemotePlayers : public QObject {
    Q_OBJECT

private slots:
    void init() { m_rig = std::make_unique<Rig>(); }
    void cleanup() { m_rig.reset(); }

    void addition_data() {
        QTest::addColumn<bool>("debug");
        QTest::addColumn<bool>("lowLevel");
        QTest::addColumn<QStringList>("lines");
        const QStringList three{" - DP.Createplayer done Hawk12", " - DP.Addplayertogroup detailed Hawk12",
                                " - Sent Add_Player_Request Hawk12"};
        QTest::newRow("low level") << false << true << three;
        QTest::newRow("both") << true << true << three;
        QTest::newRow("debug only") << true << false << QStringList();
        QTest::newRow("none") << false << false << QStringList();
    }

    void addition() {
        QFETCH(bool, debug);
        QFETCH(bool, lowLevel);
        QFETCH(QStringList, lines);
        Rig& r = *m_rig;
        r.flags(debug, lowLevel);

        r.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17);

        const QList<qint32> created = r.remotePlayers();
        QCOMPARE(created.size(), 1);
        const qint32 id = created[0];
        QCOMPARE(r.world.playerFriendlyName(id), QStringLiteral("Hawk12"));
        QCOMPARE(r.world.playerFormalName(id), QStringLiteral("Hawk12 Hawk12"));
        QCOMPARE(r.world.groupMembers(r.requestGroup), QList<qint32>{id});
        QCOMPARE(r.world.groupMembers(r.refuseGroup), QList<qint32>{r.observer});

        const QList<MemoryWorld::Sent> sent = r.world.sentToHost();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].from, id);
        QCOMPARE(sent[0].to, dpflags::AllPlayers);
        QCOMPARE(sent[0].bytes, QByteArray::fromHex("0110000000000000"));

        QCOMPARE(r.players.Count(), 1);
        const Players::PlayerPtr p = r.players.Item(1);
        QCOMPARE(p->Key, QString::number(id));
        QCOMPARE(p->Server_Session_ID, 17);
        QCOMPARE(p->PlayerHandle, QStringLiteral("Hawk12"));
        QVERIFY(p->Rcv_Detailed_Info);
        QVERIFY(!p->Add_Success);
        QVERIFY(!p->RcvdPlaneType);

        QCOMPARE(r.logLines(), lines);
    }

    // The same pilot announced twice is one player; a removal takes him out of both.
    void duplicatesAndRemoval() {
        Rig& r = *m_rig;
        r.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17);
        r.sim.Add_Remote_Player(QStringLiteral("Falcon"), 18);
        r.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17);
        const QList<qint32> ids = r.remotePlayers();
        QCOMPARE(ids.size(), 2);
        QCOMPARE(r.players.Count(), 2);
        QCOMPARE(r.world.groupMembers(r.requestGroup), ids);
        r.flags(true, true);

        r.sim.Remove_Remote_Player(99);
        QCOMPARE(r.logLines(), QStringList());
        QCOMPARE(r.players.Count(), 2);

        r.sim.Remove_Remote_Player(17);
        QCOMPARE(r.logLines(), QStringList{" - Removed Player Hawk12"});
        QCOMPARE(r.remotePlayers(), QList<qint32>{ids[1]});
        QCOMPARE(r.players.Count(), 1);
        QCOMPARE(r.players.Item(1)->Key, QString::number(ids[1]));
        QCOMPARE(r.world.groupMembers(r.requestGroup), QList<qint32>{ids[1]});

        // Only debug shows removals.
        r.clearLog();
        r.flags(false, true);
        r.sim.Remove_Remote_Player(18);
        QCOMPARE(r.logLines(), QStringList());
        QCOMPARE(r.players.Count(), 0);
    }

    // A waiting pilot has an entry and no player in the session. Shown, he gets one and his entry
    // its id; hidden, the player goes and the entry keeps what it holds. Removals and the
    // tear-down take a waiting pilot out of the registry without asking the session.
    void waitingShownAndHidden() {
        Rig& r = *m_rig;
        const Players::PlayerPtr p = r.sim.registerPilot(QStringLiteral("Hawk12"), 17);
        QCOMPARE(p->Key, QStringLiteral("~17"));
        QVERIFY(!p->inSession && p->Rcv_Detailed_Info);
        QCOMPARE(r.sim.registerPilot(QStringLiteral("Hawk12 again"), 17), p);
        QVERIFY(r.remotePlayers().isEmpty() && r.world.sentToHost().isEmpty());

        p->RcvdPlaneType = true;
        p->Aircraft_Name = QStringLiteral("Cessna");
        p->lastPosition = positionBlock();
        r.sim.showRemotePlayer(p);
        const QList<qint32> ids = r.remotePlayers();
        QCOMPARE(ids.size(), 1);
        QCOMPARE(p->Key, QString::number(ids[0]));
        QCOMPARE(r.players.findByPlayerId(ids[0]), p);
        QVERIFY(p->inSession && !p->Add_Success && p->catchUp);
        QCOMPARE(r.world.takeSentToHost().size(), 1); // the addition request

        p->Add_Success = true;
        r.sim.hideRemotePlayer(p);
        QVERIFY(!r.world.playerExists(ids[0]));
        QCOMPARE(p->Key, QStringLiteral("~17"));
        QVERIFY(!p->inSession && !p->Add_Success);
        QCOMPARE(p->Aircraft_Name, QStringLiteral("Cessna"));
        QCOMPARE(p->lastPosition, positionBlock());
        QCOMPARE(r.players.Count(), 1);

        r.sim.registerPilot(QStringLiteral("Falcon"), 18);
        r.faults.failOperation(Op::DestroyPlayer, dp::DPERR_GENERIC, -1);
        QStringList failures;
        r.sim.removeAllRemotePlayers([&failures](const std::exception& e) { failures << e.what(); });
        QCOMPARE(failures, QStringList());
        QCOMPARE(r.players.Count(), 0);
    }

    void noRequestGroup() {
        m_rig = std::make_unique<Rig>([](JoinedSession& joined) { joined.intRequestParamsGroup = 0; });
        Rig& r = *m_rig;
        r.flags(false, true);
        r.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17);

        QCOMPARE(r.remotePlayers().size(), 1);
        QCOMPARE(r.world.groupMembers(r.requestGroup), QList<qint32>());
        QCOMPARE(r.world.sentToHost().size(), 1);
        QCOMPARE(r.players.Count(), 1);
        const QStringList lines = r.logLines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.first(), QStringLiteral(" - DP.Createplayer done Hawk12"));
        QCOMPARE(lines.last(), QStringLiteral(" - Sent Add_Player_Request Hawk12"));
    }

    // A failure after the player was created takes it out of the session again, is logged and
    // reaches the caller; the registry never holds it.
    void failedAddition_data() {
        QTest::addColumn<QList<Op>>("failing");
        QTest::addColumn<int>("groupPosition");
        QTest::addColumn<qint32>("code");
        QTest::addColumn<QStringList>("lowLines");
        QTest::addColumn<bool>("ghostLeft");

        const QString created = QStringLiteral(" - DP.Createplayer done Hawk12");
        const QString grouped = QStringLiteral(" - DP.Addplayertogroup detailed Hawk12");
        QTest::newRow("create") << QList<Op>{Op::CreatePlayer} << 2 << dp::DPERR_INVALIDPARAMS << QStringList()
                                << false;
        QTest::newRow("add to group") << QList<Op>{Op::AddPlayerToGroup} << 2 << dp::DPERR_INVALIDGROUP
                                      << QStringList{created} << false;
        QTest::newRow("group position outside the list")
            << QList<Op>{} << 5 << dp::DPERR_INVALIDPARAMS << QStringList{created} << false;
        QTest::newRow("send") << QList<Op>{Op::Send} << 2 << dp::DPERR_SENDTOOBIG << QStringList{created, grouped}
                              << false;
        QTest::newRow("send, and the clean-up too") << QList<Op>{Op::Send, Op::DestroyPlayer} << 2
                                                    << dp::DPERR_SENDTOOBIG << QStringList{created, grouped} << true;
    }

    void failedAddition() {
        QFETCH(QList<Op>, failing);
        QFETCH(int, groupPosition);
        QFETCH(qint32, code);
        QFETCH(QStringList, lowLines);
        QFETCH(bool, ghostLeft);
        m_rig = std::make_unique<Rig>(
            [groupPosition](JoinedSession& joined) { joined.intRequestParamsGroup = groupPosition; });
        Rig& r = *m_rig;
        for (const Op op : failing) {
            r.faults.failOperation(op, op == Op::DestroyPlayer ? dp::DPERR_GENERIC : code);
        }

        r.flags(true, true);
        QCOMPARE(failureCode([&] { r.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17); }), code);
        // The failure is logged here as well as passed on to the caller.
        QStringList lines = r.logLines();
        QVERIFY(!lines.isEmpty());
        QVERIFY2(lines.takeLast().startsWith(QStringLiteral(" - Error Add_Remote_Player %1 ").arg(code)),
                 qPrintable(r.logLines().join('|')));
        QCOMPARE(lines, lowLines);
        QCOMPARE(r.remotePlayers().size(), ghostLeft ? 1 : 0);
        QCOMPARE(r.players.Count(), 0);
        QCOMPARE(r.world.groupMembers(r.requestGroup), r.remotePlayers());
        QCOMPARE(r.world.sentToHost().size(), 0);
    }

    // A registry that already holds the new player's key: the session player goes again. The
    // in-memory session hands out the same ids in the same order, so a twin rig shows the id
    // the next player will get.
    void registryRefusesTheEntry() {
        qint32 nextId = 0;
        {
            Rig twin;
            twin.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17);
            nextId = twin.remotePlayers().value(0);
        }
        Rig& r = *m_rig;
        r.players.Add(QString::number(nextId))->PlayerHandle = QStringLiteral("Earlier");

        bool refused = false;
        try {
            r.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17);
        } catch (const CollectionError& e) {
            refused = e.code() == CollectionError::DuplicateKey;
        }
        QVERIFY(refused);
        QVERIFY(!r.world.playerExists(nextId));
        QCOMPARE(r.players.Count(), 1);
        QCOMPARE(r.players.Item(1)->PlayerHandle, QStringLiteral("Earlier"));
    }

    void textLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("status") << "Server connection lost."
                                << QByteArray::fromHex("2310000018000000") + "Server connection lost." +
                                       QByteArray(1, '\0');
        QTest::newRow("empty") << "" << QByteArray::fromHex("2310000000000000");
        QTest::newRow("Windows-1252") << QStringLiteral("Café € Ω")
                                      << QByteArray::fromHex("2310000009000000436166e92080203f00");
    }

    void textLine() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        Rig& r = *m_rig;
        r.sim.sendTextLine(text);
        const QList<MemoryWorld::Sent> sent = r.world.sentToHost();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].from, r.observer);
        QCOMPARE(sent[0].to, dpflags::AllPlayers);
        QCOMPARE(sent[0].bytes, bytes);
    }

    void withoutSession() {
        Rig& r = *m_rig;
        r.sim.Add_Remote_Player(QStringLiteral("Hawk12"), 17);
        r.faults.failOperation(Op::Close, dp::DPERR_GENERIC);
        r.sim.closeSession(); // a failing close is ignored
        QVERIFY(!r.sim.objDP());
        QVERIFY(!r.world.playerExists(r.observer));
        r.sim.closeSession();

        QCOMPARE(failureCode([&] { r.sim.Add_Remote_Player(QStringLiteral("Falcon"), 18); }), dp::DPERR_NOCONNECTION);
        QCOMPARE(failureCode([&] { r.sim.sendTextLine(QStringLiteral("hello")); }), dp::DPERR_NOCONNECTION);
        QCOMPARE(failureCode([&] { r.sim.Remove_Remote_Player(17); }), dp::DPERR_NOCONNECTION);
        QCOMPARE(r.players.Count(), 1);
    }

private:
    std::unique_ptr<Rig> m_rig;
};

QTEST_GUILESS_MAIN(TestRemotePlayers)
#include "tst_remoteplayers.moc"
