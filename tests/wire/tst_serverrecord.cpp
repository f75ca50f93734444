#include "wire/records.h"

#include <QTest>

#include <cctype>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <tuple>

using namespace airmesh::wire;

namespace {

// Golden fixtures are written as hex, field by field, from the record layout: header fields
// little-endian, text as UTF-16LE code units. Parts are joined; whatever the fixture leaves
// out up to byte 128 is zero, as on the wire.
QByteArray fixture(const QList<QByteArray>& hexParts) {
    QByteArray hex = hexParts.join();
    hex.replace(' ', QByteArray());
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            qFatal("fixture holds a non-hex character '%c'", c);
        }
    }
    if (hex.size() % 2 != 0 || hex.size() > 2 * kRecordBytes) {
        qFatal("fixture of %lld hex digits does not fit a record", static_cast<long long>(hex.size()));
    }
    QByteArray bytes = QByteArray::fromHex(hex);
    bytes.append(QByteArray(kRecordBytes - bytes.size(), '\0'));
    return bytes;
}

// `n` UTF-16LE spaces.
QByteArray spaces(int n) {
    return QByteArray("2000").repeated(n);
}

// A position block as the simulator hands it over: bytes 1, 2, 3, ...
QByteArray countingBlock(int length) {
    QByteArray block;
    for (int i = 1; i <= length; ++i) {
        block.append(static_cast<char>(i));
    }
    return block;
}

const QByteArray kBlockHex = "0102030405060708090a0b0c0d0e0f10"
                             "1112131415161718191a1b1c1d1e1f20"
                             "2122232425262728292a2b2c2d2e2f30"
                             "31323334";

// "ABCDEFGHIJKLMNOPQRST" as UTF-16LE.
const QByteArray kAtoTHex = "4100420043004400450046004700480049004a004b004c004d004e004f00"
                            "50005100520053005400";

struct Accepted {
    qint32 category;
    qint32 type;
    Transport transport;
    bool operator<(const Accepted& o) const {
        return std::tie(category, type, transport) < std::tie(o.category, o.type, o.transport);
    }
};

constexpr Transport U = Transport::Udp;
constexpr Transport T = Transport::Tcp;

// What each side takes in, straight from the message catalogue.
const std::set<Accepted> kFromServer = {
    {0, 1002, U}, {0, 1002, T}, // LogonAccepted
    {0, 1003, U},               // LogonRejected
    {0, 1004, U}, {0, 1004, T}, // PlayerJoined
    {0, 1005, U}, {0, 1005, T}, // PlayerLeft
    {0, 1006, U},               // HeartBeat acknowledgement
    {0, 4113, U},               // PlayerCrashed
    {1, 4110, T},               // AircraftDetails
    {1, 4111, U},               // QueryPlane
    {1, 4121, U},               // PositionUpdate
    {1, 4131, T},               // ChatChunk
};
const std::set<Accepted> kFromClient = {
    {0, 1001, T},               // LogonRequest
    {0, 1006, U},               // HeartBeat
    {1, 4110, U}, {1, 4110, T}, // AircraftDetails
    {1, 4111, U},               // QueryPlane
    {1, 4113, U},               // PlayerCrashed
    {1, 4121, U},               // PositionUpdate
    {1, 4131, T},               // ChatChunk
};

// Whether a record decodes to the expected typed value.
using Decodes = std::function<bool(const ServerRecord&)>;
template <typename T> Decodes as(T expected) {
    return [expected](const ServerRecord& r) { return decode<T>(r) == expected; };
}

QString padded(const QString& text, int width) {
    return text.leftJustified(width, u' ', true);
}

} // namespace

Q_DECLARE_METATYPE(Decodes)

class TestServerRecord : public QObject {
    Q_OBJECT

private slots:
    void buildsWireBytes_data();
    void buildsWireBytes();
    void readsReceivedFields_data();
    void readsReceivedFields();
    void truncatedInputReadsAsZero();
    void longInputDecodesFirstRecordOnly();
    void acceptance_data();
    void acceptance();
    void chatPieces_data();
    void chatPieces();
};

void TestServerRecord::buildsWireBytes_data() {
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<Decodes>("decodes");

    const QString cessna = QStringLiteral("Cessna 172");
    const QString aToZ = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const QString chat56 = aToZ + aToZ.toLower() + QStringLiteral("0123");

    // Client to server.
    QTest::newRow("LogonRequest, 3-letter handle")
        << toServer::logonRequest(123456, 4321, QStringLiteral("ABC")).toBytes()
        << fixture({"00000000 e9030000 00000000 00000000", "40e20100 e1100000", "410042004300", spaces(17)})
        << as(LogonRequest{123456, 4321, padded(QStringLiteral("ABC"), 20)});
    QTest::newRow("LogonRequest, negative ids, 25-char handle cut to 20")
        << toServer::logonRequest(-1, -123456, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXY")).toBytes()
        << fixture({"00000000 e9030000 00000000 00000000", "ffffffff c01dfeff", kAtoTHex})
        << as(LogonRequest{-1, -123456, aToZ.left(20)});
    QTest::newRow("LogonRequest, non-ASCII handle")
        << toServer::logonRequest(7, 0, QStringLiteral("Zo\u00e9\u4e2d")).toBytes()
        << fixture({"00000000 e9030000 00000000 00000000", "07000000 00000000", "5a006f00e9002d4e", spaces(16)})
        << as(LogonRequest{7, 0, padded(QStringLiteral("Zo\u00e9\u4e2d"), 20)});
    QTest::newRow("HeartBeat") << toServer::heartBeat(0x01020304).toBytes()
                               << fixture({"00000000 ee030000 04030201 00000000"}) << as(HeartBeat{0x01020304});
    QTest::newRow("AircraftDetails, NUL after title")
        << toServer::aircraftDetails(5, 1, cessna, true).toBytes()
        << fixture({"01000000 0e100000 05000000 00000000", "01000000", "43006500730073006e00610020003100370032000000",
                    spaces(19)})
        << as(AircraftDetails{5, 1, padded(cessna + QChar(u'\0'), 30)});
    QTest::newRow("AircraftDetails, no NUL") << toServer::aircraftDetails(5, 1, cessna, false).toBytes()
                                             << fixture({"01000000 0e100000 05000000 00000000", "01000000",
                                                         "43006500730073006e0061002000310037003200", spaces(20)})
                                             << as(AircraftDetails{5, 1, padded(cessna, 30)});
    QTest::newRow("AircraftDetails, 29-char title keeps its NUL")
        << toServer::aircraftDetails(-3, 0, aToZ + QStringLiteral("012"), true).toBytes()
        << fixture({"01000000 0e100000 fdffffff 00000000", "00000000",
                    "4100420043004400450046004700480049004a004b004c004d004e004f00"
                    "50005100520053005400550056005700580059005a00300031003200",
                    "0000"})
        << as(AircraftDetails{-3, 0, aToZ + QStringLiteral("012") + QChar(u'\0')});
    QTest::newRow("AircraftDetails, 30-char title has no room for the NUL")
        << toServer::aircraftDetails(5, 3, aToZ + QStringLiteral("0123"), true).toBytes()
        << fixture({"01000000 0e100000 05000000 00000000", "03000000",
                    "4100420043004400450046004700480049004a004b004c004d004e004f00"
                    "50005100520053005400550056005700580059005a003000310032003300"})
        << as(AircraftDetails{5, 3, aToZ + QStringLiteral("0123")});
    QTest::newRow("QueryPlane") << toServer::queryPlane(9).toBytes() << fixture({"01000000 0f100000 09000000 00000000"})
                                << as(QueryPlane{9});
    QTest::newRow("PlayerCrashed") << toServer::playerCrashed(9).toBytes()
                                   << fixture({"01000000 11100000 09000000 00000000"}) << as(PlayerCrashed{9});
    QTest::newRow("PositionUpdate") << toServer::positionUpdate(9, countingBlock(52)).toBytes()
                                    << fixture({"01000000 19100000 09000000 00000000", kBlockHex})
                                    << as(PositionUpdate{9, countingBlock(52)});
    QTest::newRow("PositionUpdate, longer block cut to 52 bytes")
        << toServer::positionUpdate(9, countingBlock(60)).toBytes()
        << fixture({"01000000 19100000 09000000 00000000", kBlockHex}) << as(PositionUpdate{9, countingBlock(52)});
    QTest::newRow("PositionUpdate, shorter block padded with zeros")
        << toServer::positionUpdate(9, countingBlock(50)).toBytes()
        << fixture({"01000000 19100000 09000000 00000000", kBlockHex.left(100), "0000"})
        << as(PositionUpdate{9, countingBlock(50) + QByteArray(2, '\0')});
    QTest::newRow("ChatChunk, 56 chars to the end of the record")
        << toServer::chatChunk(9, chat56).toBytes()
        << fixture({"01000000 23100000 09000000 00000000",
                    "4100420043004400450046004700480049004a004b004c004d004e004f00"
                    "50005100520053005400550056005700580059005a00",
                    "6100620063006400650066006700680069006a006b006c006d006e006f00"
                    "70007100720073007400750076007700780079007a00",
                    "30003100 32003300"})
        << as(ChatChunk{9, chat56});
    QTest::newRow("ChatChunk, end mark") << toServer::chatChunk(9, kChatEndMark).toBytes()
                                         << fixture({"01000000 23100000 09000000 00000000",
                                                     "5a005a005a0045004e0044005a005a005a00", spaces(47)})
                                         << as(ChatChunk{9, padded(kChatEndMark, 56)});

    // Server to client.
    QTest::newRow("LogonAccepted") << toClient::logonAccepted(77, QStringLiteral("Welcome")).toBytes()
                                   << fixture({"00000000 ea030000 00000000 00000000", "4d000000",
                                               "570065006c0063006f006d006500", spaces(33)})
                                   << as(LogonAccepted{77, padded(QStringLiteral("Welcome"), 40)});
    QTest::newRow("LogonRejected") << toClient::logonRejected().toBytes()
                                   << fixture({"00000000 eb030000 00000000 00000000"}) << as(LogonRejected{});
    QTest::newRow("PlayerJoined") << toClient::playerJoined(300, QStringLiteral("Bob")).toBytes()
                                  << fixture({"00000000 ec030000 00000000 00000000", "2c010000", "42006f006200",
                                              spaces(17)})
                                  << as(PlayerJoined{300, padded(QStringLiteral("Bob"), 20)});
    QTest::newRow("PlayerLeft") << toClient::playerLeft(300, QStringLiteral("Bob")).toBytes()
                                << fixture(
                                       {"00000000 ed030000 00000000 00000000", "2c010000", "42006f006200", spaces(17)})
                                << as(PlayerLeft{300, padded(QStringLiteral("Bob"), 20)});
    QTest::newRow("PlayerLeft, no handle") << toClient::playerLeft(300).toBytes()
                                           << fixture({"00000000 ed030000 00000000 00000000", "2c010000", spaces(20)})
                                           << as(PlayerLeft{300, QString(20, u' ')});
    QTest::newRow("HeartBeat acknowledgement")
        << toClient::heartBeatAck().toBytes() << fixture({"00000000 ee030000 00000000 00000000"}) << as(HeartBeat{0});
    QTest::newRow("PlayerCrashed, 50-char text")
        << toClient::playerCrashed(42, QStringLiteral("01234567890123456789012345678901234567890123456789")).toBytes()
        << fixture({"00000000 11100000 2a000000 00000000",
                    QByteArray("3000310032003300340035003600370038003900").repeated(5)})
        << as(CrashNotice{42, QStringLiteral("0123456789").repeated(5)});
    QTest::newRow("AircraftDetails") << toClient::aircraftDetails(12, 1, QStringLiteral("Learjet 45")).toBytes()
                                     << fixture({"01000000 0e100000 0c000000 00000000", "01000000",
                                                 "4c006500610072006a0065007400200034003500", spaces(20)})
                                     << as(AircraftDetails{12, 1, padded(QStringLiteral("Learjet 45"), 30)});
    QTest::newRow("QueryPlane") << toClient::queryPlane(12).toBytes()
                                << fixture({"01000000 0f100000 0c000000 00000000"}) << as(QueryPlane{12});
    QTest::newRow("PositionUpdate") << toClient::positionUpdate(12, countingBlock(52)).toBytes()
                                    << fixture({"01000000 19100000 0c000000 00000000", kBlockHex})
                                    << as(PositionUpdate{12, countingBlock(52)});
    QTest::newRow("ChatChunk, short piece padded")
        << toClient::chatChunk(12, QStringLiteral("hi")).toBytes()
        << fixture({"01000000 23100000 0c000000 00000000", "68006900", spaces(54)})
        << as(ChatChunk{12, padded(QStringLiteral("hi"), 56)});
}

void TestServerRecord::buildsWireBytes() {
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QFETCH(Decodes, decodes);
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
    // A receiver decoding the fixture gets back a record that encodes the same bytes, and the
    // typed value with every field as stored.
    const ServerRecord r = ServerRecord::fromBytes(expected);
    QCOMPARE(r.toBytes().toHex(' '), expected.toHex(' '));
    QVERIFY2(decodes(r), "the fixture decodes to another value");
}

void TestServerRecord::readsReceivedFields_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint32>("category");
    QTest::addColumn<qint32>("msgType");
    QTest::addColumn<qint32>("sender");
    QTest::addColumn<Decodes>("decodes");

    QTest::newRow("LogonAccepted, negative session, non-ASCII greeting")
        << fixture({"00000000 ea030000 00000000 00000000", "fbffffff", "53006100e9002d4e", spaces(36)}) << 0 << 1002
        << 0 << as(LogonAccepted{-5, QStringLiteral("Sa\u00e9\u4e2d") + QString(36, u' ')});
    QTest::newRow("PlayerJoined") << fixture({"00000000 ec030000 00000000 00000000", "2c010000", "42006f006200",
                                              spaces(17)})
                                  << 0 << 1004 << 0 << as(PlayerJoined{300, QStringLiteral("Bob") + QString(17, u' ')});
    QTest::newRow("PlayerCrashed, negative sender, reserved not zero, text not padded")
        << fixture({"00000000 11100000 c01dfeff ffffff7f", "4f00750063006800"}) << 0 << 4113 << -123456
        << as(CrashNotice{-123456, QStringLiteral("Ouch") + QString(46, QChar(u'\0'))});
    QTest::newRow("AircraftDetails, title with NUL")
        << fixture({"01000000 0e100000 0c000000 00000000", "03000000", "420065006c006c000000", spaces(25)}) << 1 << 4110
        << 12 << as(AircraftDetails{12, 3, QStringLiteral("Bell") + QChar(u'\0') + QString(25, u' ')});
    QTest::newRow("ChatChunk, last unit at byte 127")
        << fixture({"01000000 23100000 0c000000 00000000", spaces(55), "2100"}) << 1 << 4131 << 12
        << as(ChatChunk{12, QString(55, u' ') + u'!'});
    QTest::newRow("ChatChunk, a byte-order mark and a lone surrogate kept as stored")
        << fixture({"01000000 23100000 0c000000 00000000", "fffe 00d8 4100", spaces(53)}) << 1 << 4131 << 12
        << as(ChatChunk{12, QString(QChar(0xFEFF)) + QChar(0xD800) + u'A' + QString(53, u' ')});
}

void TestServerRecord::readsReceivedFields() {
    QFETCH(QByteArray, bytes);
    QFETCH(qint32, category);
    QFETCH(qint32, msgType);
    QFETCH(qint32, sender);
    QFETCH(Decodes, decodes);

    const ServerRecord r = ServerRecord::fromBytes(bytes);
    QCOMPARE(r.Category, category);
    QCOMPARE(r.MsgType, msgType);
    QCOMPARE(r.SenderSession, sender);
    QVERIFY2(decodes(r), "the record decodes to another value");
}

void TestServerRecord::truncatedInputReadsAsZero() {
    QByteArray full;
    for (int i = 1; i <= kRecordBytes; ++i) {
        full.append(static_cast<char>(i));
    }
    for (int n = 0; n < kRecordBytes; ++n) {
        // An exactly sized heap buffer, so a read past its end is caught by the address sanitizer.
        const auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(n));
        std::memcpy(buffer.get(), full.constData(), static_cast<std::size_t>(n));
        const ServerRecord r = ServerRecord::fromBytes(QByteArray::fromRawData(buffer.get(), n));
        const QByteArray expected = full.left(n) + QByteArray(kRecordBytes - n, '\0');
        QVERIFY2(r.toBytes() == expected, qPrintable(QStringLiteral("input of %1 bytes").arg(n)));
    }
    // What a read of an empty socket returns.
    QVERIFY(ServerRecord::fromBytes(QByteArray()) == ServerRecord{});
}

void TestServerRecord::longInputDecodesFirstRecordOnly() {
    const QByteArray first = fixture({"00000000 ec030000 00000000 00000000", "2c010000", "42006f006200", spaces(17)});
    const QByteArray input = first + QByteArray(kRecordBytes, '\xff');
    const ServerRecord r = ServerRecord::fromBytes(input);
    QCOMPARE(r.toBytes().toHex(' '), first.toHex(' '));
    QCOMPARE(r.MsgType, 1004);
    QVERIFY(decode<PlayerJoined>(r) == (PlayerJoined{300, QStringLiteral("Bob") + QString(17, u' ')}));
}

void TestServerRecord::acceptance_data() {
    QTest::addColumn<bool>("fromServer");
    QTest::newRow("records from the server") << true;
    QTest::newRow("records from a client") << false;
}

void TestServerRecord::acceptance() {
    QFETCH(bool, fromServer);
    const std::set<Accepted>& table = fromServer ? kFromServer : kFromClient;

    const QList<qint32> known = {1001, 1002, 1003, 1004, 1005, 1006, 4110, 4111, 4113, 4121, 4131};
    // Neighbours of known types, and values whose low 16 bits match a known one.
    const QList<qint32> unknown = {
        0, -1, 1, 2, 1000, 1007, 4112, 4120, 4130, 4132, 1002 + 65536, 4121 + 65536, INT_MIN, INT_MAX};
    const QList<qint32> categories = {0, 1, 2, -1, 256, 257, INT_MIN}; // 256 and 257 share a low byte with 0 and 1
    for (const qint32 category : categories) {
        for (const qint32 type : known + unknown) {
            for (const Transport transport : {U, T}) {
                ServerRecord r;
                r.Category = category;
                r.MsgType = type;
                const bool got = fromServer ? acceptedFromServer(r, transport) : acceptedFromClient(r, transport);
                const bool want = table.count({category, type, transport}) == 1;
                QVERIFY2(got == want,
                         qPrintable(QStringLiteral("category %1, type %2 over %3: %4")
                                        .arg(category)
                                        .arg(type)
                                        .arg(transport == U ? QStringLiteral("UDP") : QStringLiteral("TCP"))
                                        .arg(want ? QStringLiteral("should be accepted")
                                                  : QStringLiteral("should be ignored"))));
            }
        }
    }
}

void TestServerRecord::chatPieces_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("pieceLengths");
    QTest::newRow("120 chars") << 120 << QList<int>{56, 56, 8};
    QTest::newRow("exactly 56") << 56 << QList<int>{56};
    QTest::newRow("57") << 57 << QList<int>{56, 1};
    QTest::newRow("exactly two pieces") << 112 << QList<int>{56, 56};
    QTest::newRow("one char") << 1 << QList<int>{1};
}

void TestServerRecord::chatPieces() {
    QFETCH(int, length);
    QFETCH(QList<int>, pieceLengths);
    QString text;
    for (int i = 0; i < length; ++i) {
        text.append(QChar(u'!' + i % 90)); // no two neighbouring pieces look alike
    }

    const QStringList pieces = airmesh::wire::chatPieces(text);
    QCOMPARE(pieces.size(), pieceLengths.size() + 1);
    QCOMPARE(pieces.last(), QStringLiteral("ZZZENDZZZ"));
    qsizetype at = 0;
    for (int i = 0; i < pieceLengths.size(); ++i) {
        QCOMPARE(pieces[i], text.mid(at, pieceLengths[i]));
        at += pieceLengths[i];
    }
    QCOMPARE(at, text.size());
}

QTEST_GUILESS_MAIN(TestServerRecord)
#include "tst_serverrecord.moc"
