// The wire codec on its own: identifiers, both layouts of the session description, and the
// name table's entries written and read back, including what a careless peer may send.
#include "simlink/dplay/dpwire.h"
#include "standin/dplay/hostwire.h"

#include <QTest>
#include <QtEndian>

using namespace airmesh::dplay;
using airmesh::ByteReader;
using airmesh::ByteWriter;
namespace dphost = airmesh::dphost;

class TestDpWire : public QObject {
    Q_OBJECT

private slots:
    void guidsInTheWindowsLayout();
    void sessionDescriptionInBothLayouts();
    void nameTableRoundTrip();
    void aPlayersStrayMemberListNeverReachesTheWire();
    void framingRejectsWhatItCannotTrust();
    void textsReadAsSentFromWhereTheySay();
};

void TestDpWire::guidsInTheWindowsLayout() {
    const auto g = parseGuid(QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}"));
    QVERIFY(g);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(g->data()), 16).toHex(),
             QByteArray("7024c697535f9840a8bb7f1f93b94d93"));
    QCOMPARE(guidText(*g), QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}"));
    QVERIFY(!parseGuid(QStringLiteral("{97C62470-5F53-4098-A8BB}")));
    QVERIFY(!parseGuid(QStringLiteral("not a guid")));
}

void TestDpWire::sessionDescriptionInBothLayouts() {
    for (const quint32 size : {80u, 88u}) {
        SessionDesc d;
        d.size = size;
        d.flags = sessionflag::KeepAlive;
        d.instance[3] = 9;
        d.maxPlayers = 16;
        d.currentPlayers = 3;
        d.reserved1 = 0xAABBCCDD;
        d.user = {1, 2, 3, 4};
        const QByteArray body = dphost::enumSessionsReplyBody(d, QStringLiteral("FS Session"));
        QCOMPARE(body.size(), int(size) + 4 + 22);
        const auto a = readEnumSessionsReply(body);
        QVERIFY(a);
        QCOMPARE(a->desc.size, size);
        QCOMPARE(a->desc.reserved1, 0xAABBCCDDu);
        QCOMPARE(a->desc.user[3], 4u);
        QCOMPARE(a->desc.instance, d.instance);
        QCOMPARE(a->name, QStringLiteral("FS Session"));
    }
    SessionDesc odd;
    odd.size = 84; // neither layout
    QByteArray bytes;
    ByteWriter w(bytes);
    writeSessionDesc(w, odd);
    bytes[0] = 84;
    ByteReader r(bytes);
    readSessionDesc(r);
    QVERIFY(!r.ok());
}

void TestDpWire::nameTableRoundTrip() {
    PlayerRecord host;
    host.flags = playerflag::SysPlayer | playerflag::NameServer;
    host.id = 0x11;
    host.systemPlayer = 0x11;
    host.hasSpData = true;
    host.stream = {2300, 0};
    host.datagram = {2350, 0};
    PlayerRecord pilot;
    pilot.flags = playerflag::Local;
    pilot.id = 0x12;
    pilot.systemPlayer = 0x11;
    pilot.shortName = QStringLiteral("Pilot");
    pilot.longName = QStringLiteral("Pilot Longname");
    pilot.playerData = QByteArray(300, 'd'); // a two-byte length
    PlayerRecord group;
    group.isGroup = true;
    group.id = 0x13;
    group.systemPlayer = 0x11;
    group.shortName = QStringLiteral("FS61_REQUEST_PARAMS");
    group.members = {0x12, 0x44};
    SessionDesc d;
    d.size = 88;
    const auto t =
        readSuperEnumPlayersReply(dphost::superEnumPlayersReplyBody(d, QStringLiteral("S"), {host, pilot}, {group}));
    QVERIFY(t);
    QCOMPARE(t->players.size(), 2);
    QCOMPARE(t->players[0].stream.port, quint16(2300));
    QCOMPARE(t->players[0].datagram.port, quint16(2350));
    QCOMPARE(t->players[1].longName, QStringLiteral("Pilot Longname"));
    QCOMPARE(t->players[1].systemPlayer, 0x11u);
    QCOMPARE(t->players[1].playerData.size(), 300);
    QCOMPARE(t->groups[0].members, (QList<quint32>{0x12, 0x44}));
    // A truncated table is refused, not half-read.
    const QByteArray whole = dphost::superEnumPlayersReplyBody(d, QStringLiteral("S"), {host, pilot}, {group});
    for (int cut = 1; cut < whole.size(); cut += 7) {
        QVERIFY(!readSuperEnumPlayersReply(whole.left(whole.size() - cut)));
    }
}

void TestDpWire::aPlayersStrayMemberListNeverReachesTheWire() {
    // A joiner's CREATEPLAYER may carry a member list for a plain player; the host passes the
    // player on in the next joiner's name table, which must stay readable.
    PlayerRecord odd;
    odd.flags = playerflag::Local;
    odd.id = 0x21;
    odd.systemPlayer = 0x20;
    odd.shortName = QStringLiteral("Odd");
    odd.members = {1, 2, 3};
    const auto created = readCreateMessage(createPlayerBody(odd, true), false, false);
    QVERIFY(created);
    QCOMPARE(created->player.members.size(), 3);
    PlayerRecord after;
    after.id = 0x22;
    after.systemPlayer = 0x20;
    after.shortName = QStringLiteral("After");
    const auto t = readSuperEnumPlayersReply(dphost::superEnumPlayersReplyBody({}, {}, {created->player, after}, {}));
    QVERIFY(t);
    QCOMPARE(t->players.size(), 2);
    QCOMPARE(t->players[1].shortName, QStringLiteral("After"));
}

void TestDpWire::framingRejectsWhatItCannotTrust() {
    const QByteArray ping = systemMessage(2300, Command::Ping, pingBody(1, 2));
    QVERIFY(parseTcpMessage(ping));
    QVERIFY(!parseTcpMessage(ping.left(ping.size() - 1))); // size field disagrees
    QVERIFY(!parseTcpMessage(QByteArray(10, '\0')));
    const auto udp = parseDatagram(ping);
    QVERIFY(udp && udp->system && udp->command == commandNumber(Command::Ping) && udp->replyTo.port == 2300);
    const auto player = parseDatagram(playerMessageUdp(5, 6, "abc"));
    QVERIFY(player && !player->system && player->body.size() == 11);
    QVERIFY(!parseDatagram(QByteArray(7, 'x')));
    // A player message whose payload starts like a system message travels wrapped.
    QByteArray ids;
    ByteWriter w(ids);
    w.u32(5);
    w.u32(6);
    const auto wrapped = parseDatagram(systemMessage(2300, Command::PlayerWrapper, ids));
    QVERIFY(wrapped && !wrapped->system);
}

void TestDpWire::textsReadAsSentFromWhereTheySay() {
    // A name is the code units sent: a leading U+FEFF or U+FFFE is part of it, not a byte-order
    // mark that would be dropped or turn the rest of the name around.
    PlayerRecord p;
    p.id = 0x31;
    p.systemPlayer = 0x30;
    p.shortName = QChar(0xFEFF) + QStringLiteral("Mark");
    p.longName = QChar(0xFFFE) + QStringLiteral("Swapped");
    const auto created = readCreateMessage(createPlayerBody(p, false), false, false);
    QVERIFY(created);
    QCOMPARE(created->player.shortName, p.shortName);
    QCOMPARE(created->player.longName, p.longName);
    const auto table = readSuperEnumPlayersReply(dphost::superEnumPlayersReplyBody({}, {}, {p}, {}));
    QVERIFY(table);
    QCOMPARE(table->players[0].shortName, p.shortName);
    QCOMPARE(table->players[0].longName, p.longName);

    // A password whose offset points outside the message (also one that overflows a signed
    // offset) is no password, not whatever text happens to follow the player.
    PlayerRecord machine;
    machine.flags = playerflag::SysPlayer;
    machine.id = 0x40;
    machine.systemPlayer = 0x40;
    QByteArray body = addForwardRequestBody(machine, QStringLiteral("secret"), 7);
    const auto good = readCreateMessage(body, false, true);
    QVERIFY(good);
    QCOMPARE(good->password, QStringLiteral("secret"));
    QCOMPARE(good->key, 7u);
    for (const quint32 outside : {static_cast<quint32>(body.size()) + 100, 0x80000003u}) {
        qToLittleEndian(outside, body.data() + 16); // the password's offset
        const auto bad = readCreateMessage(body, false, true);
        QVERIFY(bad);
        QCOMPARE(bad->password, QString());
        QCOMPARE(bad->key, 0u);
    }
}

QTEST_GUILESS_MAIN(TestDpWire)
#include "tst_dpwire.moc"
