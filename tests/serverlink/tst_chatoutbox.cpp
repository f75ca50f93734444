// The chat outbox alone: which record goes out when, matched to the socket's send completions.
#include "core/text.h"
#include "serverlink/chatoutbox.h"

#include <QTest>

#include <stdexcept>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

// The outbox with a socket that writes down what it is handed and refuses the sends it is told to.
struct Rig {
    QStringList sent;  // the pieces handed to the socket, in order
    int refuse = 0;    // so many next sends fail
    int failures = 0;  // failures reported to the link
    int chatsSent = 0; // end marks that went out
    ChatOutbox box{{[this](const ServerRecord& r) {
                        if (refuse > 0) {
                            --refuse;
                            throw std::runtime_error("refused");
                        }
                        sent << trimSpaces(untilNul(decode<ChatChunk>(r).piece));
                    },
                    [this] { ++failures; }, [this] { ++chatsSent; }}};

    // A chat of the named pieces, its end mark added.
    void chat(const QStringList& pieces) {
        std::vector<ServerRecord> records;
        for (const QString& p : pieces + QStringList{kChatEndMark}) {
            records.push_back(toServer::chatChunk(1, p));
        }
        box.queue(records);
    }
};

const QString E = kChatEndMark;

} // namespace

class TestChatOutbox : public QObject {
    Q_OBJECT

private slots:
    void piecesInOrderOneInFlight();
    void otherCompletionsLetNothingGo();
    void failedSendDropsTheRestOfItsChat();
    void closedConnectionAbandonsThePieceInFlight();
};

void TestChatOutbox::piecesInOrderOneInFlight() {
    Rig rig;
    rig.chat({"a", "b"});
    rig.chat({"c"});
    QCOMPARE(rig.sent, QStringList{"a"});
    QVERIFY(rig.box.sending());
    QCOMPARE(rig.box.waiting(), size_t(4));
    const QList<QStringList> afterEach{{"a", "b"}, {"a", "b", E}, {"a", "b", E, "c"}, {"a", "b", E, "c", E}};
    for (const QStringList& expected : afterEach) {
        rig.box.sendComplete();
        QCOMPARE(rig.sent, expected);
    }
    QCOMPARE(rig.chatsSent, 1);
    rig.box.sendComplete();
    QCOMPARE(rig.chatsSent, 2);
    QVERIFY(!rig.box.sending());
    rig.box.sendComplete(); // nothing due: nothing happens
    QCOMPARE(rig.sent.size(), 5);
}

void TestChatOutbox::otherCompletionsLetNothingGo() {
    Rig rig;
    rig.box.otherSent(); // the logon, still on its way
    rig.chat({"a"});
    rig.box.otherSent(); // a post-connect record behind the piece
    QCOMPARE(rig.sent, QStringList{"a"});
    rig.box.sendComplete(); // the logon's
    QCOMPARE(rig.sent, QStringList{"a"});
    QVERIFY(rig.box.sending());
    rig.box.sendComplete(); // the piece's
    QCOMPARE(rig.sent, (QStringList{"a", E}));
    rig.box.sendComplete(); // the post-connect record's
    QCOMPARE(rig.chatsSent, 0);
    rig.box.sendComplete(); // the end mark's
    QCOMPARE(rig.chatsSent, 1);
}

void TestChatOutbox::failedSendDropsTheRestOfItsChat() {
    Rig rig;
    // The first send of a chat fails to the caller, and none of that chat stays queued.
    rig.refuse = 1;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, rig.chat({"a", "b"}));
    QCOMPARE(rig.box.waiting(), size_t(0));
    QVERIFY(!rig.box.sending());

    // A piece sent on a completion fails to the link; the next chat still goes.
    rig.chat({"c", "d"});
    rig.chat({"e"});
    rig.refuse = 1;
    rig.box.sendComplete();
    QCOMPARE(rig.failures, 1);
    QCOMPARE(rig.sent, (QStringList{"c", "e"}));
    // A failed end mark drops nothing: the chat behind it goes.
    rig.chat({"f"});
    rig.refuse = 1;
    rig.box.sendComplete();
    QCOMPARE(rig.failures, 2);
    QCOMPARE(rig.sent, (QStringList{"c", "e", "f"}));
    QCOMPARE(rig.chatsSent, 0);
}

void TestChatOutbox::closedConnectionAbandonsThePieceInFlight() {
    Rig rig;
    rig.box.otherSent();
    rig.chat({"a", "b"});
    rig.chat({"c"});
    // The connection goes with "a" on its way: "b" and its end mark go nowhere, without a
    // failure of their own; "c" is tried, and the closed socket refuses it.
    rig.refuse = 1;
    rig.box.abandonInFlight();
    rig.box.connectionClosed();
    QCOMPARE(rig.sent, QStringList{"a"});
    QCOMPARE(rig.failures, 1);
    QVERIFY(!rig.box.sending());
    QCOMPARE(rig.box.waiting(), size_t(0));

    // On the next connection the old sends' completions are forgotten: the first one is "d"'s.
    rig.chat({"d"});
    rig.box.sendComplete();
    QCOMPARE(rig.sent, (QStringList{"a", "d", E}));

    // An end mark on its way when the connection goes: the chat behind it is still tried.
    rig.chat({"e"});
    rig.refuse = 1;
    rig.box.abandonInFlight();
    QCOMPARE(rig.failures, 2);
    QCOMPARE(rig.chatsSent, 0);
    QVERIFY(!rig.box.sending());
    QCOMPARE(rig.box.waiting(), size_t(0));
    rig.box.abandonInFlight(); // nothing in flight: nothing happens
    QCOMPARE(rig.sent.size(), 3);
}

QTEST_GUILESS_MAIN(TestChatOutbox)
#include "tst_chatoutbox.moc"
