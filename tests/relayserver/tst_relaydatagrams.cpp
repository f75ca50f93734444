// The server's UDP socket on loopback, built once with this platform's back-end and once with
// the portable one (tst_relaydatagrams_portable), so both read and send the same way.
#include "relayserver/relaydatagrams.h"
#include "wire/records.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

using namespace airmesh;

namespace {

constexpr int kWaitMs = 5000;

struct Got {
    QByteArray bytes;
    QHostAddress from;
    quint16 port;
};

} // namespace

class TestRelayDatagrams : public QObject {
    Q_OBJECT
private slots:
    void readsWholeDatagramsAndSendsWhatIsQueued_data();
    void readsWholeDatagramsAndSendsWhatIsQueued();
};

void TestRelayDatagrams::readsWholeDatagramsAndSendsWhatIsQueued_data() {
    QTest::addColumn<QHostAddress>("listen");
    QTest::addColumn<bool>("busy");
    QTest::newRow("IPv4 socket") << QHostAddress(QHostAddress::LocalHost) << false;
    // QHostAddress::Any is a dual-stack IPv6 socket: IPv4 pilots come and go as ::ffff:a.b.c.d.
    QTest::newRow("dual-stack socket") << QHostAddress(QHostAddress::Any) << false;
    // A busy relay reads in cycles and holds the event loop between them for a while.
    QTest::newRow("busy relay") << QHostAddress(QHostAddress::LocalHost) << true;
}

void TestRelayDatagrams::readsWholeDatagramsAndSendsWhatIsQueued() {
    QFETCH(QHostAddress, listen);
    QFETCH(bool, busy);
    std::vector<Got> got;
    int batches = 0;
    RelayDatagrams* self = nullptr;
    QUdpSocket pilot;
    QVERIFY(pilot.bind(QHostAddress::LocalHost, 0));
    const UdpEndpoint pilotAt{QHostAddress(QHostAddress::LocalHost), pilot.localPort()};
    RelayDatagrams udp(
        [&](QByteArrayView bytes, const QHostAddress& from, quint16 port) {
            got.push_back({bytes.toByteArray(), from, port});
            // An answer queued from within the read goes out before the next datagram is read.
            self->queue("answer " + QByteArray::number(got.size()), pilotAt);
        },
        [&] { ++batches; }, [busy] { return busy; });
    self = &udp;
    QString error;
    QVERIFY2(udp.bind(listen, 0, &error), qPrintable(error));

    const QByteArray record(wire::kRecordBytes, 'r');
    const QByteArray tooLong(wire::kRecordBytes + 40, 'x');
    pilot.writeDatagram(record, QHostAddress::LocalHost, udp.localPort());
    pilot.writeDatagram(tooLong, QHostAddress::LocalHost, udp.localPort());
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), std::size_t{2}, kWaitMs);
    QCOMPARE(got[0].bytes, record);
    // Longer than a record shows as one byte more, never as a record.
    QCOMPARE(got[1].bytes.size(), wire::kRecordBytes + 1);
    for (const Got& g : got) {
        QCOMPARE(plainAddress(g.from), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(g.port, pilot.localPort());
    }
    QVERIFY(batches >= 1);
    // The pilot's next n datagrams, as text.
    const auto received = [&pilot](qsizetype n) {
        QStringList texts;
        (void)QTest::qWaitFor(
            [&] {
                while (pilot.hasPendingDatagrams()) {
                    texts << QString::fromLatin1(pilot.receiveDatagram().data());
                }
                return texts.size() >= n;
            },
            kWaitMs);
        return texts;
    };
    QCOMPARE(received(2), (QStringList{"answer 1", "answer 2"}));

    // Queued outside a read: nothing leaves before the flush; a hundred leave in order.
    for (int i = 0; i < 100; ++i) {
        udp.queue(QByteArray::number(i), pilotAt);
    }
    udp.flush();
    const QStringList numbers = received(100);
    QCOMPARE(numbers.size(), 100);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(numbers[i], QString::number(i));
    }
    // After a quiet spell longer than any hold it still hears the next one.
    QTest::qWait(100);
    pilot.writeDatagram(record, QHostAddress::LocalHost, udp.localPort());
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), std::size_t{3}, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(pilot.hasPendingDatagrams(), kWaitMs);
    QCOMPARE(pilot.receiveDatagram().data(), QByteArray("answer 3"));
    // After close nothing is sent or read, and a late flush is harmless.
    udp.close();
    udp.queue("late", pilotAt);
    udp.flush();
    QTest::qWait(50);
    QVERIFY(!pilot.hasPendingDatagrams());
}

QTEST_GUILESS_MAIN(TestRelayDatagrams)
#include "tst_relaydatagrams.moc"
