#include "fakes/fakerelayoutput.h"
#include "serverlink/socket.h"
#include "simlink/simcodec.h"
#include "simlink/simlink.h"
#include "simrig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace airmesh;
using Op = FakeSessionFaults::Op;

namespace {

// The bench with a recording server link.
struct Rig : SimRig {
    FakeRelayOutput relay;

    Rig() { sim.setRelay(&relay); }
    ~Rig() { sim.setRelay(nullptr); }

    int waiting() { return sim.objDP->GetMessageQueue(0, 0, dpflags::QueueReceive); }
    // Adds a remote player quietly and lets the tick that follows take the echo of its request.
    qint32 addRemote(const QString& handle, qint32 sessionNumber) {
        const bool d = services.blnDebug;
        const bool l = services.blnDebugLowLevel;
        flags(false, false);
        sim.Add_Remote_Player(handle, sessionNumber);
        sim.pumpMessages();
        flags(d, l);
        world.takeSentToHost();
        return players.Item(players.Count())->Key.toInt();
    }
};

SimMessage message(qint32 number, const QByteArray& payload = {}, int length = -1) {
    SimMessage m;
    m.WriteLong(number);
    m.WriteLong(length < 0 ? static_cast<qint32>(payload.size()) : length);
    m.writeBytes(payload);
    return m;
}

SimMessage message(SimMsg number, const QByteArray& payload = {}, int length = -1) {
    return message(simMsgNumber(number), payload, length);
}

QByteArray le32(qint32 v) {
    SimMessage m;
    m.WriteLong(v);
    return m.bytes();
}

SimMessage systemNotice(qint32 type) {
    SimMessage m;
    m.WriteLong(type);
    m.WriteLong(1);
    m.WriteLong(0x1234);
    return m;
}

QByteArray positionBlock() {
    QByteArray b;
    for (int i = 0; i < kPositionBlockBytes; ++i) {
        b.append(static_cast<char>(i * 5));
    }
    return b;
}

const QString kSystemLine = QStringLiteral(" - ****System Message ignored, Type: ");
const QString kReadPastEnd =
    QStringLiteral(" - Error Process_MP_Packet -2147467259 read past the end of a session message");

} // namespace

class TestPump : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_rig = std::make_unique<Rig>();
    }
    void cleanup() {
        m_rig.reset();
        QDir::setCurrent(m_oldCwd);
        m_dir.reset();
    }

    void emptyQueue() {
        Rig& r = *m_rig;
        r.flags(true, true);
        r.sim.pumpMessages();
        QVERIFY(!r.sim.blnPumpBusy);
        QCOMPARE(logged(r), QStringList());
        QCOMPARE(r.relay.calls, QStringList());

        // Without a session there is nothing to drain, and nothing fails.
        r.sim.closeSession();
        r.sim.pumpMessages();
        QCOMPARE(logged(r), QStringList());
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
        clearLog();
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
        r.relay.onCall = [&] { waitingAtDispatch << r.waiting(); };
        r.sim.pumpMessages();

        QCOMPARE(logged(r), lines);
        QCOMPARE(r.relay.calls, QStringList{"query"});
        QCOMPARE(waitingAtDispatch, QList<int>{0}); // all four taken before the first dispatch
        QVERIFY(r.players.Item(QString::number(hawk))->Add_Success);
        QCOMPARE(r.sim.strMyAircraft, QString());
        QVERIFY(!r.sim.blnPumpBusy);
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
        QCOMPARE(logged(r), expected);
        QCOMPARE(r.relay.calls, QStringList());
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
        const QStringList lines = logged(r);
        QCOMPARE(lines.size(), 1);
        if (line.isEmpty()) {
            QVERIFY2(lines[0].startsWith(" - ") && !lines[0].contains("System Message ignored"), qPrintable(lines[0]));
        } else {
            QCOMPARE(lines[0], line);
        }
        QCOMPARE(r.relay.calls, QStringList{"query"});

        // Only the drop line is gated: with both flags off a dropped message leaves no trace.
        clearLog();
        r.flags(false, false);
        r.world.sendFromHost(r.host, r.observer, SimMessage(QByteArray("\x23\x10", 2)));
        r.sim.pumpMessages();
        QCOMPARE(logged(r), QStringList());
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
        const QStringList lines = logged(r);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].startsWith(" - "));
        QCOMPARE(r.relay.calls, QStringList());
        QVERIFY(!r.sim.blnPumpBusy);

        r.sim.pumpMessages();
        QCOMPARE(r.relay.calls, (QStringList{"query", "crashed"}));
    }

    void busyPumpReturnsAtOnce() {
        Rig& r = *m_rig;
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.sim.blnPumpBusy = true;
        r.sim.pumpMessages();
        QCOMPARE(r.waiting(), 1);
        QCOMPARE(r.relay.calls, QStringList());
        QVERIFY(r.sim.blnPumpBusy);
        r.sim.blnPumpBusy = false;

        // A tick nested inside a dispatch (through a yield of the server link) receives nothing:
        // what arrived meanwhile waits for the next tick, and the outer tick finishes its batch.
        int waitingAfterNested = -1;
        bool busyInside = false;
        bool nested = false;
        r.relay.onCall = [&] {
            if (nested) {
                return;
            }
            nested = true;
            busyInside = r.sim.blnPumpBusy;
            r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
            r.sim.pumpMessages();
            waitingAfterNested = r.waiting();
        };
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::Unnamed4096));
        r.sim.pumpMessages();
        QVERIFY(busyInside);
        QCOMPARE(waitingAfterNested, 1);
        QCOMPARE(r.relay.calls, QStringList{"query"});
        QVERIFY(!r.sim.blnPumpBusy);

        r.sim.pumpMessages();
        QCOMPARE(r.relay.calls, (QStringList{"query", "crashed"}));
    }

    // Every reaction of Process_MP_Packet, run once with only blnDebug and once with only
    // blnDebugLowLevel, so that each line shows up under its own flag and no other.
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
        Rig& r = *m_rig;
        r.relay.connected = connected;
        r.sim.blnAltGuid = altGuid;

        for (const bool debugPass : {true, false}) {
            clearLog();
            r.relay.calls.clear();
            r.sim.strMyAircraft = QStringLiteral("Before");
            r.sim.lngMyEngineType = 2;
            r.flags(debugPass, !debugPass);
            r.world.sendFromHost(fromHost ? r.host : r.other, r.observer, SimMessage(bytes));
            r.sim.pumpMessages();

            QCOMPARE(logged(r), debugPass ? debugLines : lowLines);
            QCOMPARE(r.relay.calls, calls);
            QCOMPARE(r.sim.strMyAircraft, aircraft);
            QCOMPARE(r.sim.lngMyEngineType, engine);
        }
        QCOMPARE(r.world.sentToHost().size(), 0);
    }

    void positionOnlyWhenAddressedToTheObserver() {
        Rig& r = *m_rig;
        SimMessage m = message(SimMsg::PositionUpdate, positionBlock());
        (void)sim::readHeader(m);
        r.sim.Process_MP_Packet(m, simMsgNumber(SimMsg::PositionUpdate), r.host, r.other, kPositionBlockBytes);
        QCOMPARE(r.relay.calls, QStringList());
    }

    void approval() {
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 falcon = r.addRemote(QStringLiteral("Falcon"), 18);
        clearLog();
        r.flags(true, true);

        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved, le32(falcon)));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved, le32(12345)));
        r.sim.pumpMessages();
        QCOMPARE(logged(r), QStringList{" - Player addition approved: Falcon"});
        QVERIFY(r.players.Item(QString::number(falcon))->Add_Success);
        QVERIFY(!r.players.Item(QString::number(hawk))->Add_Success);

        clearLog();
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerApproved));
        r.sim.pumpMessages();
        QCOMPARE(logged(r), QStringList{kReadPastEnd});
    }

    // The rejection is addressed to the rejected player, and that player is the one removed,
    // even when an earlier player shares its server session number.
    void rejection() {
        Rig& r = *m_rig;
        const qint32 first = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 falcon = r.addRemote(QStringLiteral("Falcon"), 18);
        const qint32 second = r.addRemote(QStringLiteral("Hawk12"), 17);
        clearLog();
        r.flags(true, true);

        r.world.sendFromHost(r.host, second, message(SimMsg::AddPlayerRejected));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerRejected)); // concerns nobody
        r.sim.pumpMessages();

        QCOMPARE(logged(r),
                 (QStringList{" - Player addition Rejected by your machine: Hawk12", " - Removed Player Hawk12"}));
        QCOMPARE(r.players.Count(), 2);
        QCOMPARE(r.players.Item(1)->Key, QString::number(first));
        QCOMPARE(r.players.Item(2)->Key, QString::number(falcon));
        QVERIFY(!r.world.playerExists(second));
        QVERIFY(r.world.playerExists(first));

        // A player we created but never recorded is not ours to answer for.
        const qint32 stray = r.sim.objDP->CreatePlayer(QStringLiteral("Stray"), QStringLiteral("Stray"), 0, 0);
        clearLog();
        r.world.sendFromHost(r.host, stray, message(SimMsg::AddPlayerRejected));
        r.sim.pumpMessages();
        QCOMPARE(logged(r), QStringList());
        QVERIFY(r.world.playerExists(stray));

        // A removal that fails in the session is logged; the entry stays.
        r.faults.failOperation(Op::DestroyPlayer, dp::DPERR_INVALIDPLAYER);
        r.world.sendFromHost(r.host, falcon, message(SimMsg::AddPlayerRejected));
        r.sim.pumpMessages();
        QCOMPARE(logged(r), (QStringList{" - Player addition Rejected by your machine: Falcon",
                                         " - Error Process_MP_Packet -2005466986 injected failure"}));
        QCOMPARE(r.players.Count(), 2);
    }

    // Which player a rejection concerns: the one named after the header when it is ours, else
    // the one it was addressed to; a rejection sent to all that names nobody removes nobody.
    void rejectionNamedOrSentToAll() {
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 falcon = r.addRemote(QStringLiteral("Falcon"), 18);
        const qint32 eagle = r.addRemote(QStringLiteral("Eagle"), 19);
        clearLog();
        r.flags(true, false);

        r.world.sendFromHost(r.host, dpflags::AllPlayers, message(SimMsg::AddPlayerRejected));
        r.sim.pumpMessages();
        QCOMPARE(r.players.Count(), 3);

        r.world.sendFromHost(r.host, r.observer, message(SimMsg::AddPlayerRejected, le32(hawk)));
        r.world.sendFromHost(r.host, dpflags::AllPlayers, message(SimMsg::AddPlayerRejected, le32(falcon)));
        r.sim.pumpMessages();
        QCOMPARE(logged(r),
                 (QStringList{" - Player addition Rejected by your machine: Hawk12", " - Removed Player Hawk12",
                              " - Player addition Rejected by your machine: Falcon", " - Removed Player Falcon"}));
        QCOMPARE(r.players.Count(), 1);
        QCOMPARE(r.players.Item(1)->Key, QString::number(eagle));
        QVERIFY(!r.world.playerExists(hawk) && !r.world.playerExists(falcon) && r.world.playerExists(eagle));
    }

    // Many remote players: what they say to all never fills the queue, and when the queue is
    // full all the same, the simulator's messages to the observer push out the rest.
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

    void query() {
        Rig& r = *m_rig;
        const qint32 hawk = r.addRemote(QStringLiteral("Hawk12"), 17);
        const qint32 stray = r.sim.objDP->CreatePlayer(QStringLiteral("Stray"), QStringLiteral("Stray"), 0, 0);
        (void)r.world.takeSentToHost();
        clearLog();
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
        QCOMPARE(logged(r), QStringList());
        QCOMPARE(r.relay.calls, QStringList());
        // The reply's copies for our own other players are echoes: they never take queue room.
        QCOMPARE(r.waiting(), 0);
        clearLog();

        // A reply that cannot be sent is logged, and the next message is still handled.
        r.faults.failOperation(Op::Send, dp::DPERR_INVALIDPLAYER);
        r.world.sendFromHost(r.host, hawk, message(SimMsg::PlayerQuery));
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::PlayerCrashed));
        r.sim.pumpMessages();
        QCOMPARE(logged(r), (QStringList{" - Error Process_MP_Packet -2005466986 injected failure",
                                         " - Send Player Crashed to host"}));
        QCOMPARE(r.relay.calls, QStringList{"crashed"});
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
        r.relay.onCall = [&] {
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
        QCOMPARE(logged(r), QStringList{line});
        QCOMPARE(r.relay.calls, (QStringList{"query", "crashed"}));

        r.flags(false, false);
        clearLog();
        r.relay.onCall = [] { throw std::runtime_error("again"); };
        r.world.sendFromHost(r.host, r.observer, message(SimMsg::QueryPlane));
        r.sim.pumpMessages();
        QCOMPARE(logged(r), QStringList());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCwd;
    std::unique_ptr<Rig> m_rig;
};

QTEST_GUILESS_MAIN(TestPump)
#include "tst_pump.moc"
