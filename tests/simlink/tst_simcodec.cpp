#include "simlink/simcodec.h"

#include <QTest>

#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

using namespace airmesh;

Q_DECLARE_METATYPE(airmesh::SimMessage)

namespace {

// Hex fixtures are written with spaces between fields; fromHex skips them.
QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Builds into a message that already holds bytes and has been partly read, as the shared
// message object has after earlier use: every builder must start from an empty message.
template <typename Build> SimMessage built(Build build) {
    SimMessage m(hex("ffffffff eeeeeeee dd"));
    (void)m.ReadLong();
    build(m);
    return m;
}

// The result code of the DpError that `f` throws, or 0 when it throws none.
template <typename F> qint32 failureCode(F f) {
    try {
        f();
    } catch (const dp::DpError& e) {
        return e.code();
    }
    return dp::DP_OK;
}

// Reads an incoming message the way the client does: header, then its type's fields.
void readAsClient(SimMessage& m) {
    const sim::Header h = sim::readHeader(m);
    switch (static_cast<SimMsg>(h.number)) {
    case SimMsg::AircraftDetails:
        (void)sim::readAircraftDetails(m);
        break;
    case SimMsg::AddPlayerApproved:
        (void)sim::readApprovedPlayerId(m);
        break;
    case SimMsg::PositionUpdate:
        (void)sim::readPositionBlock(m);
        break;
    case SimMsg::ChatMessage:
    case SimMsg::ChatMessageAlt:
        (void)sim::readChatText(m, h.payloadLength);
        break;
    default:
        throw std::logic_error("not a message the client reads");
    }
}

QByteArray countingBlock(int size) {
    QByteArray b;
    for (int i = 0; i < size; ++i) {
        b.append(static_cast<char>(i + 1));
    }
    return b;
}

} // namespace

class TestSimCodec : public QObject {
    Q_OBJECT

private slots:
    void outgoingBytes_data();
    void outgoingBytes();
    void aircraftDetailsIn_data();
    void aircraftDetailsIn();
    void chatTextIn_data();
    void chatTextIn();
    void chatLengthBeyondMessage_data();
    void chatLengthBeyondMessage();
    void approvalAndPositionIn();
    void everyTruncationThrows_data();
    void everyTruncationThrows();
    void engineText_data();
    void engineText();
};

void TestSimCodec::outgoingBytes_data() {
    QTest::addColumn<SimMessage>("message");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("AircraftDetails Trainer") << built([](SimMessage& m) { sim::writeAircraftDetails(m, 0, "Trainer"); })
                                             << hex("0e100000 0c000000 00000000 547261696e6572 00");
    QTest::newRow("AircraftDetails empty title")
        << built([](SimMessage& m) { sim::writeAircraftDetails(m, 3, ""); }) << hex("0e100000 05000000 03000000 00");
    QTest::newRow("AircraftDetails negative engine")
        << built([](SimMessage& m) { sim::writeAircraftDetails(m, -2, "A"); })
        << hex("0e100000 06000000 feffffff 41 00");
    QTest::newRow("AircraftDetails Windows-1252")
        << built([](SimMessage& m) { sim::writeAircraftDetails(m, 1, QString::fromUtf8("Café €")); })
        << hex("0e100000 0b000000 01000000 436166e9 20 80 00");
    QTest::newRow("AddPlayerRequest") << built([](SimMessage& m) { sim::writeHeaderOnly(m, SimMsg::AddPlayerRequest); })
                                      << hex("01100000 00000000");
    QTest::newRow("ObserverJoinRetry") << built([](SimMessage& m) {
        sim::writeHeaderOnly(m, SimMsg::ObserverJoinRetry);
    }) << hex("09100000 00000000");
    QTest::newRow("QueryPlane on logon") << built([](SimMessage& m) { sim::writeQueryPlaneOnLogon(m); })
                                         << hex("0f100000 00000000 00");
    QTest::newRow("ChatMessage hello") << built([](SimMessage& m) { sim::writeChat(m, SimMsg::ChatMessage, "hello"); })
                                       << hex("23100000 06000000 68656c6c6f 00");
    QTest::newRow("ChatMessageAlt empty")
        << built([](SimMessage& m) { sim::writeChat(m, SimMsg::ChatMessageAlt, ""); }) << hex("20100000 01000000 00");
    // Characters outside the code page become '?', one byte each, and the length counts bytes.
    QTest::newRow("ChatMessage outside the code page")
        << built([](SimMessage& m) { sim::writeChat(m, SimMsg::ChatMessage, QString::fromUtf8("Łódź 中")); })
        << hex("23100000 07000000 3ff3643f 20 3f 00");

    const QByteArray block = countingBlock(kPositionBlockBytes);
    QTest::newRow("PositionUpdate") << built([&](SimMessage& m) { sim::writePositionUpdate(m, block); })
                                    << hex("19100000 34000000") + block;
    QTest::newRow("PositionUpdate short block padded")
        << built([](SimMessage& m) { sim::writePositionUpdate(m, hex("0102")); })
        << hex("19100000 34000000 0102") + QByteArray(kPositionBlockBytes - 2, '\0');
    QTest::newRow("PositionUpdate long block cut")
        << built([&](SimMessage& m) { sim::writePositionUpdate(m, block + hex("aabbcc")); })
        << hex("19100000 34000000") + block;
}

void TestSimCodec::outgoingBytes() {
    QFETCH(SimMessage, message);
    QFETCH(QByteArray, expected);
    QCOMPARE(message.bytes().toHex(' '), expected.toHex(' '));
    // A built message is read from its start by whoever receives it.
    QCOMPARE(message.readPosition(), 0);
}

void TestSimCodec::aircraftDetailsIn_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("leftUnread");

    QTest::newRow("empty title") << hex("00000000 00") << 0 << QString() << 0;
    QTest::newRow("Trainer") << hex("03000000 547261696e6572 00") << 3 << QString("Trainer") << 0;
    QTest::newRow("Windows-1252") << hex("01000000 436166e9 80 81 00") << 1 << QString::fromUtf8("Café€") + QChar(0x81)
                                  << 0;
    // The title ends at the first zero byte whatever the payload length says.
    QTest::newRow("bytes after the title") << hex("02000000 41 00 4243") << 2 << QString("A") << 2;
    QTest::newRow("unknown engine") << hex("ffffffff 41 00") << -1 << QString("A") << 0;
}

void TestSimCodec::aircraftDetailsIn() {
    QFETCH(QByteArray, payload);
    QFETCH(int, engine);
    QFETCH(QString, title);
    QFETCH(int, leftUnread);

    // The stated payload length is deliberately wrong: the client reads the fields, not the length.
    SimMessage m(hex("0e100000 ffff0000") + payload);
    QCOMPARE(sim::readHeader(m).number, simMsgNumber(SimMsg::AircraftDetails));
    const sim::AircraftDetails d = sim::readAircraftDetails(m);
    QCOMPARE(d.engineType, engine);
    QCOMPARE(d.title, title);
    QCOMPARE(m.remaining(), leftUnread);
}

void TestSimCodec::chatTextIn_data() {
    QTest::addColumn<int>("payloadLength");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("text");

    QTest::newRow("length 0") << 0 << QByteArray() << QString();
    QTest::newRow("length 1") << 1 << hex("00") << QString();
    QTest::newRow("hello") << 6 << hex("68656c6c6f 00") << QString("hello");
    // The last byte is taken to be the zero and is never read: a message cut just before it
    // still gives the text.
    QTest::newRow("hello without its zero") << 6 << hex("68656c6c6f") << QString("hello");
    QTest::newRow("Windows-1252") << 3 << hex("e980 00") << QString::fromUtf8("é€");
    QTest::newRow("zero inside the text") << 4 << hex("61 00 62 00") << QString::fromLatin1("a\0b", 3);
    QTest::newRow("negative length") << -6 << hex("68656c6c6f 00") << QString();
    QTest::newRow("most negative length") << INT_MIN << hex("68656c6c6f 00") << QString();
}

void TestSimCodec::chatTextIn() {
    QFETCH(int, payloadLength);
    QFETCH(QByteArray, payload);
    QFETCH(QString, text);

    SimMessage m(payload);
    QCOMPARE(sim::readChatText(m, payloadLength), text);
    // Exactly length - 1 bytes are consumed, nothing for a length of 1 or less.
    QCOMPARE(m.readPosition(), qMax<qsizetype>(0, qsizetype(payloadLength) - 1));
}

void TestSimCodec::chatLengthBeyondMessage_data() {
    QTest::addColumn<int>("payloadLength");
    QTest::newRow("one byte short") << 8;
    QTest::newRow("far too many") << 100000;
    QTest::newRow("largest") << INT_MAX;
}

// A sender's length beyond the bytes present throws instead of reading on.
void TestSimCodec::chatLengthBeyondMessage() {
    QFETCH(int, payloadLength);
    SimMessage m(hex("68656c6c6f 00"));
    QCOMPARE(failureCode([&] { (void)sim::readChatText(m, payloadLength); }), dp::DPERR_GENERIC);
    QCOMPARE(m.readPosition(), 0);
}

void TestSimCodec::approvalAndPositionIn() {
    SimMessage approval(hex("03100000 04000000 feffffff"));
    (void)sim::readHeader(approval);
    QCOMPARE(sim::readApprovedPlayerId(approval), -2);

    // The block is passed on as it came, bytes after it left alone.
    const QByteArray block = countingBlock(kPositionBlockBytes);
    SimMessage position(hex("19100000 34000000") + block + hex("7777"));
    (void)sim::readHeader(position);
    QCOMPARE(sim::readPositionBlock(position), block);
    QCOMPARE(position.remaining(), 2);
}

void TestSimCodec::everyTruncationThrows_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("shortestReadable");

    const QByteArray details = hex("0e100000 0c000000 00000000 547261696e6572 00");
    QTest::newRow("AircraftDetails") << details << int(details.size());
    const QByteArray approval = hex("03100000 04000000 2a000000");
    QTest::newRow("AddPlayerApproved") << approval << int(approval.size());
    const QByteArray position = hex("19100000 34000000") + countingBlock(kPositionBlockBytes);
    QTest::newRow("PositionUpdate") << position << int(position.size());
    // The chat reader never reads the closing zero, so only the cuts before it fail.
    const QByteArray chat = hex("23100000 06000000 68656c6c6f 00");
    QTest::newRow("ChatMessage") << chat << int(chat.size() - 1);
    const QByteArray chatAlt = hex("20100000 03000000 6869 00");
    QTest::newRow("ChatMessageAlt") << chatAlt << int(chatAlt.size() - 1);
}

// Every prefix of a message is tried once. The prefix lives in a heap block of exactly its
// size, so that a read past it is caught by the address sanitizer rather than hidden by slack.
void TestSimCodec::everyTruncationThrows() {
    QFETCH(QByteArray, message);
    QFETCH(int, shortestReadable);

    for (int cut = 0; cut <= message.size(); ++cut) {
        const auto exact = std::make_unique<char[]>(static_cast<std::size_t>(qMax(cut, 1)));
        std::memcpy(exact.get(), message.constData(), static_cast<std::size_t>(cut));
        SimMessage m(QByteArray::fromRawData(exact.get(), cut));
        const qint32 code = failureCode([&] { readAsClient(m); });
        QVERIFY2(code == (cut < shortestReadable ? dp::DPERR_GENERIC : dp::DP_OK),
                 qPrintable(QString("cut at %1 bytes gave code %2").arg(cut).arg(code)));
        QVERIFY(m.readPosition() <= cut);
    }
}

void TestSimCodec::engineText_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QString(" Engine Type Piston");
    QTest::newRow("1") << 1 << QString(" Engine Type Jet");
    QTest::newRow("2") << 2 << QString(" Engine Type None");
    QTest::newRow("3") << 3 << QString(" Engine Type Helo_Turbine");
    QTest::newRow("4") << 4 << QString(" Unknown Engine type 4");
    QTest::newRow("5, FS2002's turboprop") << 5 << QString(" Engine Type Turboprop");
    QTest::newRow("7") << 7 << QString(" Unknown Engine type 7");
    QTest::newRow("-1") << -1 << QString(" Unknown Engine type -1");
    QTest::newRow("min") << INT_MIN << QString(" Unknown Engine type -2147483648");
}

void TestSimCodec::engineText() {
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(engineTypeText(code), text);
}

QTEST_GUILESS_MAIN(TestSimCodec)
#include "tst_simcodec.moc"
