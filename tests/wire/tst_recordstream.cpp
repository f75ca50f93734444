// The TCP record stream: records come out whole and in order however the bytes are cut, and a
// consumer that stops is not called again.
#include "wire/recordstream.h"

#include <QtTest>

using namespace airmesh::wire;

class TestRecordStream : public QObject {
    Q_OBJECT

private slots:
    void anyCutGivesTheSameRecords();
    void stopsWhenTheConsumerSaysSo();
};

void TestRecordStream::anyCutGivesTheSameRecords() {
    QByteArray bytes;
    for (int i = 0; i < 5 * kRecordBytes + 17; ++i) {
        bytes.append(static_cast<char>(i * 7));
    }
    for (int piece = 1; piece <= 3 * kRecordBytes; ++piece) {
        RecordStream stream;
        QList<QByteArray> out;
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            stream.push(QByteArrayView(bytes).sliced(at, std::min<qsizetype>(piece, bytes.size() - at)),
                        [&out](const QByteArray& r) {
                            out.append(r);
                            return true;
                        });
        }
        QCOMPARE(out.size(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(out[i], bytes.mid(i * kRecordBytes, kRecordBytes));
        }
        QCOMPARE(stream.carried(), 17);
        stream.reset();
        QCOMPARE(stream.carried(), 0);
    }
}

void TestRecordStream::stopsWhenTheConsumerSaysSo() {
    RecordStream stream;
    int calls = 0;
    stream.push(QByteArray(3 * kRecordBytes + 5, 'x'), [&calls](const QByteArray&) { return ++calls < 2; });
    QCOMPARE(calls, 2);
}

QTEST_APPLESS_MAIN(TestRecordStream)
#include "tst_recordstream.moc"
