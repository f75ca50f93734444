// The byte reader every codec of outside bytes reads through, and its writer.
#include "core/bytes.h"

#include <QTest>

#include <memory>

using namespace airmesh;

class TestBytes : public QObject {
    Q_OBJECT

private slots:
    void readsEachWidthInItsByteOrder();
    void aShortReadFailsForGood();
    void everyReadStaysInsideAnExactBuffer();
    void textsAsStored();
    void writesEachWidthAndText();
};

void TestBytes::readsEachWidthInItsByteOrder() {
    const QByteArray b = QByteArray::fromHex("01 0203 04050607 feffffff 0809 0a0b0c0d");
    ByteReader r(b);
    QCOMPARE(r.u8(), quint8(1));
    QCOMPARE(r.u16(), quint16(0x0302));
    QCOMPARE(r.u32(), 0x07060504u);
    QCOMPARE(r.i32(), -2);
    QCOMPARE(r.u16be(), quint16(0x0809));
    QCOMPARE(r.u32be(), 0x0a0b0c0du);
    QVERIFY(r.ok());
    QCOMPARE(r.remaining(), 0);
}

void TestBytes::aShortReadFailsForGood() {
    const QByteArray b = QByteArray::fromHex("0102030405");
    ByteReader r(b);
    QCOMPARE(r.u32(), 0x04030201u);
    QCOMPARE(r.u16(), quint16(0)); // one byte left: nothing is read
    QVERIFY(!r.ok());
    QCOMPARE(r.pos(), 4);
    QCOMPARE(r.u8(), quint8(0)); // would fit, but the reader has failed
    QCOMPARE(r.bytes(1), QByteArray());
    QCOMPARE(r.utf16z(), QString());

    ByteReader s(b);
    s.seek(5);
    QVERIFY(s.ok());
    s.seek(6);
    QVERIFY(!s.ok());
    ByteReader t(b);
    t.bytes(-1);
    QVERIFY(!t.ok());
    ByteReader u(b);
    u.fail();
    QCOMPARE(u.u8(), quint8(0));
}

void TestBytes::everyReadStaysInsideAnExactBuffer() {
    // Exactly sized heap buffers, so a read past the end is caught by the address sanitizer.
    for (int n = 0; n <= 10; ++n) {
        const auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(n));
        std::fill_n(buffer.get(), n, '\x41');
        ByteReader r(QByteArrayView(buffer.get(), n));
        r.u32();
        r.u16be();
        r.utf16(1);
        r.utf16z();
        QVERIFY(!r.ok()); // too short, or no terminator among the 'A's
        QVERIFY(r.pos() <= n);
    }
}

void TestBytes::textsAsStored() {
    // At an odd offset: a fixed field with padding, a byte-order mark and a lone surrogate kept.
    const QByteArray b = QByteArray::fromHex("00 fffe 00d8 4100 2000 2000 "
                                             "4200 0000 4300 00 00");
    ByteReader r(b);
    r.u8();
    QCOMPARE(r.utf16(5), QString(QChar(0xFEFF)) + QChar(0xD800) + QStringLiteral("A  "));
    QCOMPARE(r.utf16z(), QStringLiteral("B"));
    // The terminator is the 0000 at an even distance, not the 00 00 straddling two units.
    QCOMPARE(r.utf16z(), QStringLiteral("C"));
    QVERIFY(r.ok());
    QCOMPARE(r.utf16z(), QString()); // nothing left to end a text
    QVERIFY(!r.ok());
}

void TestBytes::writesEachWidthAndText() {
    QByteArray b;
    ByteWriter w(b);
    w.u8(1);
    w.u16(0x0302);
    w.u32(0);
    w.i32(-2);
    w.u16be(0x0809);
    w.u32be(0x0a0b0c0d);
    w.utf16(QStringLiteral("AB"), 3);         // padded
    w.utf16(QStringLiteral("CDE"), 2, u'\0'); // cut
    w.utf16z(QStringLiteral("F"));
    w.zeros(1);
    w.patchU32(3, 0x07060504);
    w.patchU32(b.size() - 3, 0xffffffff); // would reach past the end: nothing written
    QCOMPARE(b.toHex(' '), QByteArray::fromHex("01 0203 04050607 feffffff 0809 0a0b0c0d 4100 4200 2000 4300 4400 "
                                               "4600 0000 00")
                               .toHex(' '));
}

QTEST_GUILESS_MAIN(TestBytes)
#include "tst_bytes.moc"
