// The message pump: what it takes from the session, in which order, what it drops, and how it
// dispatches to the relay's reactions.
#include "serverlink/socket.h"
#include "simrig.h"

#include <QCoreApplication>
#include <QTest>

#include <functional>
#include <memory>

using namespace airmesh;
using Op = FakeSessionFaults::Op;

namespace {
using Rig = RelayRig;
} // namespace

class TestPump : public QObject {
    Q_OBJECT

private slots:
    void init() { m_rig = std::make_unique<Rig>(); }
    void cleanup() { m_rig.reset(); }

    void emptyQueue() {
        Rig& r = *m_rig;
        r.flags(true, true);
        r.sim.pumpMessages();
        QVERIFY(!r.sim.blnPumpBusy());
        QCOMPARE(r.logLines(), QStringList());
        QCOMPARE(r.out.calls, QStringList());

        // Without a session there is nothing to drain, and nothing fails.
        r.sim.closeSession();
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), QStringList());
    }

    void queueOrderAndAddressing_data() {
        QTest::addColumn<bool>("debug");
        QTest::addColumn<bool>("lowLevel");
        QTest::addColumn<QStringList>("lines");

        const QStringList system{kSystemLine + "21", kSystemLine + "103"};
        QTest::newRow("both flags off") << false << false << system;
        QTest::newRow("debug") << true << false
                               << QStringList{kSystemLine + "21", kSystemLine + "103",
                                              " - Player addition approved: Hawk12"};
        QTest::newRow("low level") << false << true
                                   << QStringList{kSystemLine + "21", " - Query all players on plane type",
                                                  kSystemLine + "103"};
        QTest::newRow("both") << true << true
                              << QStringList{kSystemLine + "21", " - Query all players on plane type",
                                             kSystemLine + "103", " - Player addition approved: Hawk12"};
    }

    void queueOrderAndAddressing() {
        QFETCH(bool, debug);
        QFETCH(bool, lowLevel);
        QFETCH(QStringList, lines);
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        r.clearLog();
        r.flags(debug, lowLevel);

        SimMessage aircraft;
        sim::writeAircraftDetails(aircraft, 1, QStringLiteral("Wrong"));
        r.world.postSystemMessage(r.instance, systemNotice(0x21));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.world.sendFromHost(r.host, hawk, aircraft); // to one of our remote players: never queued
        r.world.postSystemMessage(r.instance, systemNotice(0x103));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved, le32(hawk)));
        QCOMPARE(r.waiting(), 4);

        QList<int> waitingAtDispatch;
        r.out.onCall = [&] { waitingAtDispatch << r.waiting(); };
        r.sim.pumpMessages();

        QCOMPARE(r.logLines(), lines);
        QCOMPARE(r.out.calls, QStringList{"query"});
        QCOMPARE(waitingAtDispatch, QList<int>{0}); // all four taken before the first dispatch
        QVERIFY(r.players.Item(QString::number(hawk))->Add_Success);
        QCOMPARE(r.reactions.strMyAircraft(), QString());
        QVERIFY(!r.sim.blnPumpBusy());
    }

    void systemMessageType_data() {
        QTest::addColumn<qint32>("type");
        QTest::addColumn<bool>("endSession");
        QTest::addColumn<QString>("text");

        QTest::newRow("session lost") << 0x31 << true << "31";
        QTest::newRow("zero") << 0 << false << "0";
        QTest::newRow("host") << 0x101 << false << "101";
        QTest::newRow("letters upper case") << 0xABCDEF << false << "ABCDEF";
        QTest::newRow("all bits") << -1 << false << "FFFFFFFF";
        QTest::newRow("top bit") << qint32(0x80000000u) << false << "80000000";
    }

    void systemMessageType() {
        QFETCH(qint32, type);
        QFETCH(bool, endSession);
        QFETCH(QString, text);
        Rig& r = *m_rig;
        r.flags(false, false);
        if (endSession) {
            r.world.endSession(r.instance);
        } else {
            r.world.postSystemMessage(r.instance, systemNotice(type));
        }
        r.sim.pumpMessages();
        QStringList expected{kSystemLine + text};
        if (endSession) {
            expected << QStringLiteral(" - Simulator session lost");
        }
        QCOMPARE(r.logLines(), expected);
        QCOMPARE(r.out.calls, QStringList());
        QCOMPARE(r.sim.sessionLost(), endSession);
    }

    // Messages too short to read are dropped with a line of their own, and the tick goes on.
    void shortMessages_data() {
        QTest::addColumn<bool>("system");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("line"); // empty: a drop line of the pump's wording

        const QByteArray query = message(SimMsg::QueryPlane).bytes();
        for (int n = 0; n < 4; ++n) {
            QTest::addRow("system, %d bytes", n) << true << QByteArray::fromHex("31000000").left(n) << QString();
        }
        QTest::newRow("system, 4 bytes") << true << QByteArray::fromHex("21000000") << kSystemLine + "21";
        for (int n = 0; n < 8; ++n) {
            QTest::addRow("application, %d bytes", n) << false << query.left(n) << QString();
        }
    }

    void shortMessages() {
        QFETCH(bool, system);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, line);
        Rig& r = *m_rig;
        r.flags(true, false);
        if (system) {
            r.world.postSystemMessage(r.instance, SimMessage(bytes));
        } else {
            r.world.sendFromHost(r.host, r.observer, SimMessage(bytes));
        }
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));

        r.sim.pumpMessages();
        const QStringList lines = r.logLines();
        QCOMPARE(lines.size(), 1);
        if (line.isEmpty()) {
            QVERIFY2(lines[0].startsWith(" - ") && !lines[0].contains("System Message ignored"), qPrintable(lines[0]));
        } else {
            QCOMPARE(lines[0], line);
        }
        QCOMPARE(r.out.calls, QStringList{"query"});

        // Only the drop line is gated: with both flags off a dropped message leaves no trace.
        r.clearLog();
        r.flags(false, false);
        r.world.sendFromHost(r.host, r.observer, SimMessage(QByteArray("\x23\x10", 2)));
        r.sim.pumpMessages();
        QCOMPARE(r.logLines(), QStringList());
    }

    // A failing session call costs the tick, never a message: the next tick takes everything.
    void sessionCallFails_data() {
        QTest::addColumn<Op>("op");
        QTest::newRow("queue size") << Op::GetMessageQueue;
        QTest::newRow("receive") << Op::Receive;
    }

    void sessionCallFails() {
        QFETCH(Op, op);
        Rig& r = *m_rig;
        r.flags(true, false);
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
        r.faults.failOperation(op, dp::DPERR_GENERIC);

        r.sim.pumpMessages();
        const QStringList lines = r.logLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].startsWith(" - "));
        QCOMPARE(r.out.calls, QStringList());
        QVERIFY(!r.sim.blnPumpBusy());

        r.sim.pumpMessages();
        QCOMPARE(r.out.calls, (QStringList{"query", "crashed"}));
    }

    void busyPumpReturnsAtOnce() {
        Rig& r = *m_rig;
        // A tick nested inside a dispatch (through a yield of the server link) finds the pump
        // busy: it receives nothing and leaves the busy pump's gate shut; what arrived meanwhile
        // waits for the next tick, and the outer tick finishes its batch.
        int waitingAfterNested = -1;
        bool busyInside = false;
        bool busyAfterNested = false;
        bool nested = false;
        r.out.onCall = [&] {
            if (nested) {
                return;
            }
            nested = true;
            busyInside = r.sim.blnPumpBusy();
            r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
            r.sim.pumpMessages();
            waitingAfterNested = r.waiting();
            busyAfterNested = r.sim.blnPumpBusy();
        };
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::Unnamed4096));
        r.sim.pumpMessages();
        QVERIFY(busyInside);
        QVERIFY(busyAfterNested);
        QCOMPARE(waitingAfterNested, 1);
        QCOMPARE(r.out.calls, QStringList{"query"});
        QVERIFY(!r.sim.blnPumpBusy());

        r.sim.pumpMessages();
        QCOMPARE(r.out.calls, (QStringList{"query", "crashed"}));
    }

    // The pump also runs on the session's arrival notice, as a queued call, without a tick.
    void wakeUpOnArrival() {
        Rig& r = *m_rig;
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        QCoreApplication::processEvents();
        QCOMPARE(r.out.calls, QStringList()); // not before it is asked for
        r.sim.pumpOnArrival();
        QCoreApplication::processEvents(); // what waited already is fetched
        QCOMPARE(r.out.calls, QStringList{"query"});
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
        QCOMPARE(r.out.calls, QStringList{"query"}); // a queued call, not a call inside the arrival
        QCoreApplication::processEvents();
        QCOMPARE(r.out.calls, (QStringList{"query", "crashed"}));

        // Coalesced: three arrivals, one wake-up (each reading of the queue logs its failure).
        r.flags(true, false);
        r.clearLog();
        r.faults.failOperation(Op::GetMessageQueue, 7, -1);
        for (int i = 0; i < 3; ++i) {
            r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        }
        QCoreApplication::processEvents();
        QCOMPARE(r.logLines(), QStringList{" - FS message queue not readable, error 7"});
    }

    // A wake-up takes what the queue held when it ran; later arrivals wait for the next one,
    // with other events between. One that came while a dispatch was running is made up for.
    void wakeUpBatches() {
        Rig& r = *m_rig;
        r.sim.pumpOnArrival();
        constexpr int kFlood = 200;
        int during = 0;
        r.out.onCall = [&] {
            if (during++ < 3) {
                r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
            }
        };
        for (int i = 0; i < kFlood; ++i) {
            r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        }
        QCoreApplication::processEvents();
        QCOMPARE(r.out.calls.size(), kFlood);
        QCOMPARE(r.waiting(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(r.out.calls.size(), kFlood + 3);
        QCOMPARE(r.out.calls.last(), QStringLiteral("crashed"));

        // A dispatch yields; a message arriving then is not taken by the nested wake-up (the pump
        // is busy) but by one posted when the dispatch is over.
        r.out.calls.clear();
        bool yielded = false;
        r.out.onCall = [&] {
            if (!yielded) {
                yielded = true;
                r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
                QCoreApplication::processEvents();
            }
        };
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        QCoreApplication::processEvents();
        QCOMPARE(r.out.calls, QStringList{"query"});
        QCoreApplication::processEvents();
        QCOMPARE(r.out.calls, (QStringList{"query", "crashed"}));
    }

    // Nothing is read once the session is lost or closed, also by a wake-up already on its way.
    void wakeUpAfterTheEnd() {
        Rig& r = *m_rig;
        r.sim.pumpOnArrival();
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.sim.noteSessionLost(); // found by a session call before the wake-up ran
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
        QCoreApplication::processEvents();
        QCOMPARE(r.out.calls, QStringList());
        QCOMPARE(r.waiting(), 2);

        RelayRig closed;
        closed.sim.pumpOnArrival();
        closed.world.sendFromHost(closed.host, closed.observer, message(SimMsg::QueryPlane));
        closed.sim.closeSession(); // with the wake-up still queued
        QCoreApplication::processEvents();
        QCOMPARE(closed.out.calls, QStringList());
    }

    // Every reaction of Process_MP_Packet, run once with only blnDebug and once with only
    // blnDebugLowLevel, so that each line shows up under its own flag and no other.
    void queueRoomForTheObserver() {
        Rig& r = *m_rig;
        constexpr int kPilots = 120; // their requests' copies alone would be 14,280 messages
        QList<qint32> ids;
        for (int i = 0; i < kPilots; ++i) {
            r.sim.Add_Remote_Player(QStringLiteral("P%1").arg(i), 100 + i);
            ids << r.players.Item(r.players.Count())->Key.toInt();
        }
        QCOMPARE(r.waiting(), 0);
        const qint32 hawk = ids.first();
        for (int i = 0; i < MemoryWorld::kMaxQueuedMessages; ++i) {
            r.world.sendFromHost(r.host, hawk, message(SimMsg::PlayerQuery));
        }
        for (const qint32 id : ids) {
            r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved, le32(id)));
        }
        QCOMPARE(r.waiting(), MemoryWorld::kMaxQueuedMessages);
        r.sim.pumpMessages();
        for (int i = 1; i <= r.players.Count(); ++i) {
            QVERIFY2(r.players.Item(i)->Add_Success, qPrintable(r.players.Item(i)->PlayerHandle));
        }
    }

private:
    std::unique_ptr<Rig> m_rig;
};

QTEST_GUILESS_MAIN(TestPump)
#include "tst_pump.moc"
