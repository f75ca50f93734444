#include "fakes/fakereceivequeue.h"
#include "serverlink/framing.h"
#include "wire/records.h"

#include <QTest>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <utility>
#include <vector>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

// A 128-byte record tagged by its sender session, every byte telling which record it is and
// where in it, so that a record cut at the wrong offset never compares equal.
QByteArray tagged(qint32 tag) {
    ServerRecord r;
    r.Category = 1;
    r.MsgType = static_cast<qint32>(RecordType::PositionUpdate);
    r.SenderSession = tag;
    for (int i = 0; i < kRecordBodyBytes; ++i) {
        r.body[static_cast<std::size_t>(i)] = static_cast<char>(tag * 31 + i);
    }
    return r.toBytes();
}

// What the gate hands to the record handler.
struct Seen {
    QList<qint32> tags;
    QList<QByteArray> records;
    int depth = 0;
    int maxDepth = 0;
};

} // namespace

class TestFraming : public QObject {
    Q_OBJECT

private slots:
    void udpDatagrams_data();
    void udpDatagrams();
    void tcpReadsOnlyWholeRecords_data();
    void tcpReadsOnlyWholeRecords();
    void tcpLateBytesKeepBoundaries_data();
    void tcpLateBytesKeepBoundaries();
    void tcpResetStartsAtBoundary();
    void gateQueuesNestedBatchBehindCurrent();
    void gateResetDropsRestOfBatch();
    void gateSurvivesThrowingHandler();
    void gateBoundsWaitingRecords_data();
    void gateBoundsWaitingRecords();

private:
    // A gate whose handler records what it sees and then runs `during` for each record.
    std::unique_ptr<RecordGate> makeGate(Seen& seen, std::function<void(qint32 tag)> during = {}) {
        return std::make_unique<RecordGate>([&seen, during = std::move(during)](const QByteArray& record) {
            ++seen.depth;
            seen.maxDepth = std::max(seen.maxDepth, seen.depth);
            const qint32 tag = ServerRecord::fromBytes(record).SenderSession;
            seen.tags.append(tag);
            seen.records.append(record);
            struct Leave {
                int& depth;
                ~Leave() { --depth; }
            } leave{seen.depth};
            if (during) {
                during(tag);
            }
        });
    }
};

void TestFraming::udpDatagrams_data() {
    QTest::addColumn<QList<int>>("sizes"); // datagram i carries the record tagged i + 1
    QTest::addColumn<qint64>("notified");
    QTest::addColumn<QList<qint32>>("handedTags");
    QTest::addColumn<QList<int>>("handedSizes");
    QTest::addColumn<int>("reads");

    QTest::newRow("one record") << QList<int>{128} << qint64{128} << QList<qint32>{1} << QList<int>{128} << 1;
    QTest::newRow("256-byte datagram is one record, handed whole")
        << QList<int>{256} << qint64{256} << QList<qint32>{1} << QList<int>{256} << 1;
    QTest::newRow("several datagrams keep their order")
        << QList<int>{128, 128, 128} << qint64{384} << QList<qint32>{1, 2, 3} << QList<int>{128, 128, 128} << 3;
    QTest::newRow("size not a multiple of 128 is not read")
        << QList<int>{200} << qint64{200} << QList<qint32>{} << QList<int>{} << 0;
    QTest::newRow("short datagram alone is not read")
        << QList<int>{60} << qint64{60} << QList<qint32>{} << QList<int>{} << 0;
    QTest::newRow("zero bytes reads nothing") << QList<int>{} << qint64{0} << QList<qint32>{} << QList<int>{} << 0;
    QTest::newRow("short datagram read with good ones is dropped")
        << QList<int>{128, 60, 128} << qint64{128} << QList<qint32>{1, 3} << QList<int>{128, 128} << 3;
    QTest::newRow("one byte short, last in the batch")
        << QList<int>{128, 127} << qint64{128} << QList<qint32>{1} << QList<int>{128} << 2;
}

void TestFraming::udpDatagrams() {
    QFETCH(QList<int>, sizes);
    QFETCH(qint64, notified);
    QFETCH(QList<qint32>, handedTags);
    QFETCH(QList<int>, handedSizes);
    QFETCH(int, reads);

    FakeReceiveQueue socket(FakeReceiveQueue::Kind::Datagrams);
    qint64 queued = 0;
    for (int i = 0; i < sizes.size(); ++i) {
        // Beyond the first record a long datagram carries another one, which must stay unread.
        const QByteArray bytes = tagged(i + 1) + tagged(100 + i);
        socket.arrive(bytes.left(sizes[i]));
        queued += sizes[i];
    }
    Seen seen;
    const auto gate = makeGate(seen);

    UdpDataArrival(notified, socket, *gate);

    QCOMPARE(seen.tags, handedTags);
    QList<int> sizesSeen;
    for (const QByteArray& r : seen.records) {
        sizesSeen.append(static_cast<int>(r.size()));
    }
    QCOMPARE(sizesSeen, handedSizes);
    QCOMPARE(socket.reads, reads);
    if (reads == 0) {
        QCOMPARE(socket.BytesReceived(), queued); // left queued for a later notification
    }
    QVERIFY(gate->isReady());
}

void TestFraming::tcpReadsOnlyWholeRecords_data() {
    QTest::addColumn<QList<int>>("arrivals"); // bytes arriving before each notification
    QTest::addColumn<qsizetype>("maxChunk");
    QTest::addColumn<QList<int>>("handedPerNotification");

    constexpr qsizetype unlimited = 1 << 20;
    QTest::newRow("200 then 56") << QList<int>{200, 56} << unlimited << QList<int>{0, 2};
    QTest::newRow("one record at a time") << QList<int>{128, 128, 128} << unlimited << QList<int>{1, 1, 1};
    QTest::newRow("one byte, then the rest") << QList<int>{1, 127, 128} << unlimited << QList<int>{0, 1, 1};
    QTest::newRow("a record and a half, then the rest") << QList<int>{192, 64, 128} << unlimited << QList<int>{0, 2, 1};
    QTest::newRow("zero bytes reads nothing") << QList<int>{0, 128} << unlimited << QList<int>{0, 1};
    QTest::newRow("reads in 100-byte chunks") << QList<int>{384} << qsizetype{100} << QList<int>{3};
    QTest::newRow("reads in 1-byte chunks") << QList<int>{256} << qsizetype{1} << QList<int>{2};
    QTest::newRow("reads in 200-byte chunks after a wait") << QList<int>{300, 84} << qsizetype{200} << QList<int>{0, 3};
}

void TestFraming::tcpReadsOnlyWholeRecords() {
    QFETCH(QList<int>, arrivals);
    QFETCH(qsizetype, maxChunk);
    QFETCH(QList<int>, handedPerNotification);

    QByteArray stream;
    QList<qint32> tags;
    for (qint32 tag = 1; stream.size() < std::accumulate(arrivals.begin(), arrivals.end(), 0); ++tag) {
        stream += tagged(tag);
        tags.append(tag);
    }
    FakeReceiveQueue socket(FakeReceiveQueue::Kind::Stream);
    socket.maxChunk = maxChunk;
    TcpFramer framer;
    Seen seen;
    const auto gate = makeGate(seen);

    qsizetype sent = 0;
    for (int i = 0; i < arrivals.size(); ++i) {
        socket.arrive(stream.mid(sent, arrivals[i]));
        sent += arrivals[i];
        const int readsBefore = socket.reads;
        const qsizetype handedBefore = seen.records.size();
        framer.DataArrival(socket.BytesReceived(), socket, *gate);
        QCOMPARE(seen.records.size() - handedBefore, handedPerNotification[i]);
        if (handedPerNotification[i] == 0) {
            QCOMPARE(socket.reads, readsBefore); // the bytes wait in the socket
        }
    }
    QCOMPARE(seen.tags, tags);
    QCOMPARE(seen.records.join(), stream);
}

void TestFraming::tcpLateBytesKeepBoundaries_data() {
    QTest::addColumn<int>("late"); // bytes of the second record that arrive during the first read
    QTest::addColumn<int>("handedFirst");
    QTest::addColumn<QList<int>>("arrivals"); // then the rest of the stream arrives in these parts
    QTest::addColumn<QList<int>>("handedPerNotification");

    QTest::newRow("part of a record, then its rest, then another")
        << 72 << 1 << QList<int>{56, 128} << QList<int>{1, 1};
    QTest::newRow("part of a record, then its rest with another") << 72 << 1 << QList<int>{184} << QList<int>{2};
    QTest::newRow("part of a record, its rest in two pieces")
        << 72 << 1 << QList<int>{20, 36, 128} << QList<int>{0, 1, 1};
    QTest::newRow("a whole record late") << 128 << 2 << QList<int>{128} << QList<int>{1};
    QTest::newRow("a record and one byte late") << 129 << 2 << QList<int>{127} << QList<int>{1};
}

void TestFraming::tcpLateBytesKeepBoundaries() {
    QFETCH(int, late);
    QFETCH(int, handedFirst);
    QFETCH(QList<int>, arrivals);
    QFETCH(QList<int>, handedPerNotification);

    const QByteArray stream = tagged(1) + tagged(2) + tagged(3);
    FakeReceiveQueue socket(FakeReceiveQueue::Kind::Stream);
    TcpFramer framer;
    Seen seen;
    const auto gate = makeGate(seen);

    socket.arrive(stream.left(kRecordBytes));
    socket.beforeRead = [&] { socket.arrive(stream.mid(kRecordBytes, late)); };
    framer.DataArrival(socket.BytesReceived(), socket, *gate);
    QCOMPARE(seen.records.size(), handedFirst);

    qsizetype sent = kRecordBytes + late;
    for (int i = 0; i < arrivals.size(); ++i) {
        socket.arrive(stream.mid(sent, arrivals[i]));
        sent += arrivals[i];
        const qsizetype handedBefore = seen.records.size();
        framer.DataArrival(socket.BytesReceived(), socket, *gate);
        QCOMPARE(seen.records.size() - handedBefore, handedPerNotification[i]);
    }
    QCOMPARE(seen.records.join(), stream.left(sent));
    for (const QByteArray& r : std::as_const(seen.records)) {
        QCOMPARE(r.size(), kRecordBytes);
    }
}

void TestFraming::tcpResetStartsAtBoundary() {
    TcpFramer framer;
    Seen seen;
    const auto gate = makeGate(seen);
    {
        // The old connection breaks off with part of a record read.
        FakeReceiveQueue old(FakeReceiveQueue::Kind::Stream);
        old.arrive(tagged(1));
        old.beforeRead = [&] { old.arrive(tagged(2).left(72)); };
        framer.DataArrival(old.BytesReceived(), old, *gate);
    }
    framer.reset();
    gate->reset();

    FakeReceiveQueue fresh(FakeReceiveQueue::Kind::Stream);
    fresh.arrive(tagged(7));
    framer.DataArrival(fresh.BytesReceived(), fresh, *gate);
    QCOMPARE(seen.tags, (QList<qint32>{1, 7}));
    QCOMPARE(seen.records.last(), tagged(7));
}

void TestFraming::gateQueuesNestedBatchBehindCurrent() {
    // A handler that lets events run may see the socket's next notification arrive inside it.
    FakeReceiveQueue socket(FakeReceiveQueue::Kind::Datagrams);
    Seen seen;
    bool readyInside = false;
    std::unique_ptr<RecordGate> gate;
    gate = makeGate(seen, [&](qint32 tag) {
        readyInside = readyInside || gate->isReady();
        QList<qint32> next;
        if (tag == 1) {
            next = {4, 5};
        } else if (tag == 2) {
            next = {6};
        } else if (tag == 4) {
            next = {7}; // from a batch that itself was waiting
        }
        for (const qint32 t : std::as_const(next)) {
            socket.arrive(tagged(t));
        }
        UdpDataArrival(socket.BytesReceived(), socket, *gate);
    });

    for (const qint32 t : {1, 2, 3}) {
        socket.arrive(tagged(t));
    }
    UdpDataArrival(socket.BytesReceived(), socket, *gate);

    QCOMPARE(seen.tags, (QList<qint32>{1, 2, 3, 4, 5, 6, 7}));
    QCOMPARE(seen.maxDepth, 1);
    QVERIFY(!readyInside);
    QVERIFY(gate->isReady());
    QCOMPARE(gate->droppedRecords(), 0);
}

void TestFraming::gateResetDropsRestOfBatch() {
    Seen seen;
    std::unique_ptr<RecordGate> gate;
    gate = makeGate(seen, [&](qint32 tag) {
        if (tag == 1) {
            gate->deliver({tagged(9)}); // waits behind 2 and 3
        } else if (tag == 2) {
            gate->reset();               // the link is torn down and opened again
            gate->deliver({tagged(10)}); // the new link's first record must not wait for the old batch
        }
    });

    gate->deliver({tagged(1), tagged(2), tagged(3)});
    QCOMPARE(seen.tags, (QList<qint32>{1, 2, 10}));
    QCOMPARE(gate->droppedRecords(), 2);
    QVERIFY(gate->isReady());

    gate->deliver({tagged(4)});
    QCOMPARE(seen.tags, (QList<qint32>{1, 2, 10, 4}));
}

void TestFraming::gateSurvivesThrowingHandler() {
    Seen seen;
    const auto gate = makeGate(seen, [](qint32 tag) {
        if (tag == 2) {
            throw std::runtime_error("handler failed");
        }
    });

    bool threw = false;
    try {
        gate->deliver({tagged(1), tagged(2), tagged(3)});
    } catch (const std::runtime_error&) {
        threw = true;
    }
    QVERIFY(threw);
    QVERIFY(gate->isReady());
    QCOMPARE(seen.tags, (QList<qint32>{1, 2}));

    // The records behind the failed one are not lost, and still come before newer ones.
    gate->deliver({tagged(4)});
    QCOMPARE(seen.tags, (QList<qint32>{1, 2, 3, 4}));
    QCOMPARE(gate->droppedRecords(), 0);
    QVERIFY(gate->isReady());
}

void TestFraming::gateBoundsWaitingRecords_data() {
    QTest::addColumn<int>("batch");
    QTest::addColumn<int>("nested");
    QTest::addColumn<int>("dropped");

    constexpr int bound = RecordGate::kMaxWaitingRecords;
    QTest::newRow("nested batch fills the queue exactly") << 1 << bound << 0;
    QTest::newRow("nested batch three over") << 1 << bound + 3 << 3;
    QTest::newRow("rest of the running batch counts against the bound") << 10 << bound << 9;
}

void TestFraming::gateBoundsWaitingRecords() {
    QFETCH(int, batch);
    QFETCH(int, nested);
    QFETCH(int, dropped);

    Seen seen;
    std::unique_ptr<RecordGate> gate;
    gate = makeGate(seen, [&](qint32 tag) {
        if (tag == 1) {
            QList<QByteArray> flood;
            for (int i = 0; i < nested; ++i) {
                flood.append(tagged(10000 + i));
            }
            gate->deliver(flood);
        }
    });
    QList<QByteArray> first;
    for (int i = 1; i <= batch; ++i) {
        first.append(tagged(i));
    }

    gate->deliver(first);
    QCOMPARE(gate->droppedRecords(), dropped);
    QCOMPARE(seen.tags.size(), batch + nested - dropped);
    // The newest records are the ones dropped; what is kept stays in order.
    QCOMPARE(seen.tags.last(), 10000 + nested - dropped - 1);
    QVERIFY(std::is_sorted(seen.tags.begin(), seen.tags.end()));
    QVERIFY(gate->isReady());
}

QTEST_GUILESS_MAIN(TestFraming)
#include "tst_framing.moc"
