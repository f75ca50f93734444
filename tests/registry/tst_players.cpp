#include "registry/players.h"

#include <QTest>

#include <limits>

using namespace airmesh;

namespace {

QStringList keysOf(const Players& players) {
    QStringList keys;
    for (const auto& p : players.NewEnum()) {
        keys.append(p->Key);
    }
    return keys;
}

Players withKeys(const QStringList& keys) {
    Players players;
    for (const QString& k : keys) {
        players.Add(k);
    }
    return players;
}

// The error number a call raises, or 0 when it returns.
template <typename F> int errorOf(F&& f) {
    try {
        f();
    } catch (const CollectionError& e) {
        return e.number();
    }
    return 0;
}

} // namespace

class TestPlayers : public QObject {
    Q_OBJECT

private slots:
    void newRegistryIsEmpty() {
        const Players players;
        QCOMPARE(players.Count(), 0);
        QVERIFY(keysOf(players).isEmpty());
        QCOMPARE(players.findBySession(0), nullptr);
        QCOMPARE(players.findByPlayerId(0), nullptr);
    }

    void addItemRemove() {
        Players players;
        const auto p = players.Add(QStringLiteral("1234"));
        QCOMPARE(p->Key, "1234");
        players.Add(QStringLiteral("-7"));
        players.Add(QStringLiteral("99"));
        QCOMPARE(keysOf(players), (QStringList{"1234", "-7", "99"}));
        QCOMPARE(players.Item(QStringLiteral("1234")), p);
        QCOMPARE(players.Item(1), p);
        QCOMPARE(players.Item(3)->Key, "99");

        players.Remove(QStringLiteral("-7"));
        QCOMPARE(keysOf(players), (QStringList{"1234", "99"}));
        players.Remove(1);
        QCOMPARE(keysOf(players), QStringList{"99"});
        QCOMPARE(players.Item(1)->Key, "99");
        // A key can be added again once removed.
        players.Add(QStringLiteral("1234"));
        QCOMPARE(keysOf(players), (QStringList{"99", "1234"}));
    }

    void errors_data() {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("expected");
        QTest::newRow("Add duplicate key") << "add 2" << int(CollectionError::DuplicateKey);
        QTest::newRow("Item unknown key") << "item 4" << int(CollectionError::InvalidArgument);
        QTest::newRow("Item key differing by blank") << "item  2" << int(CollectionError::InvalidArgument);
        QTest::newRow("Item position 0") << "item #0" << int(CollectionError::InvalidArgument);
        QTest::newRow("Item position past end") << "item #4" << int(CollectionError::InvalidArgument);
        QTest::newRow("Item negative position") << "item #-1" << int(CollectionError::InvalidArgument);
        QTest::newRow("Remove unknown key") << "remove 4" << int(CollectionError::InvalidArgument);
        QTest::newRow("Remove position 0") << "remove #0" << int(CollectionError::InvalidArgument);
        QTest::newRow("Remove position past end") << "remove #4" << int(CollectionError::InvalidArgument);
    }

    // Every failing call raises its number and leaves the collection as it was.
    void errors() {
        QFETCH(QString, call);
        QFETCH(int, expected);
        Players players = withKeys({"1", "2", "3"});
        const auto second = players.Item(QStringLiteral("2"));
        const QString verb = call.section(QLatin1Char(' '), 0, 0);
        const QString arg = call.section(QLatin1Char(' '), 1);
        Players::IndexKey index = arg;
        if (arg.startsWith(QLatin1Char('#'))) {
            index = arg.mid(1).toInt();
        }
        const int number = errorOf([&] {
            if (verb == QLatin1String("add")) {
                players.Add(arg);
            } else if (verb == QLatin1String("item")) {
                players.Item(index);
            } else {
                players.Remove(index);
            }
        });
        QCOMPARE(number, expected);
        QCOMPARE(keysOf(players), (QStringList{"1", "2", "3"}));
        QCOMPARE(players.Item(QStringLiteral("2")), second);
    }

    void removalWhileEnumerating_data() {
        QTest::addColumn<QString>("removeAt"); // key whose visit removes a set of keys
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("visited");
        const QStringList all = {"10", "20", "30", "40"};
        QTest::newRow("each one as it is visited") << "*" << QStringList{} << all;
        QTest::newRow("later ones are skipped") << "10" << QStringList{"30", "40"} << QStringList{"10", "20"};
        QTest::newRow("current and next") << "20" << QStringList{"20", "30"} << QStringList{"10", "20", "40"};
        QTest::newRow("last from the first") << "10" << QStringList{"40"} << QStringList{"10", "20", "30"};
        QTest::newRow("earlier one") << "30" << QStringList{"10"} << all;
    }

    void removalWhileEnumerating() {
        QFETCH(QString, removeAt);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, visited);
        Players players = withKeys({"10", "20", "30", "40"});
        QStringList seen;
        for (const auto& p : players.NewEnum()) {
            seen.append(p->Key);
            if (removeAt == QLatin1String("*")) {
                players.Remove(p->Key); // what closing the server link does
            } else if (p->Key == removeAt) {
                for (const QString& k : removed) {
                    players.Remove(k);
                }
            }
        }
        QCOMPARE(seen, visited);
        QCOMPARE(players.Count(), removeAt == QLatin1String("*") ? 0 : 4 - int(removed.size()));
    }

    void keyReusedDuringEnumerationIsNotVisited() {
        Players players = withKeys({"1", "2"});
        QStringList seen;
        for (const auto& p : players.NewEnum()) {
            seen.append(p->Key);
            if (p->Key == QLatin1String("1")) {
                players.Remove(QStringLiteral("2"));
                players.Add(QStringLiteral("2"))->PlayerHandle = QStringLiteral("newcomer");
            }
        }
        QCOMPARE(seen, QStringList{"1"});
        QCOMPARE(players.Item(QStringLiteral("2"))->PlayerHandle, "newcomer");
    }

    void removedPlayerStaysUsable() {
        Players players;
        auto held = players.Add(QStringLiteral("5"));
        held->PlayerHandle = QStringLiteral("Maverick");
        players.Remove(QStringLiteral("5"));
        QCOMPARE(players.Count(), 0);
        QVERIFY(!players.contains(held.get()));
        held->ChatText += QStringLiteral("still here");
        QCOMPARE(held->PlayerHandle, "Maverick");
        QCOMPARE(held.use_count(), 1);
    }

    void lookups() {
        Players players;
        const auto a = players.Add(QStringLiteral("-2147483648"));
        const auto b = players.Add(QStringLiteral("7"));
        const auto c = players.Add(QStringLiteral("-7"));
        a->Server_Session_ID = 42;
        b->Server_Session_ID = 9;
        c->Server_Session_ID = 42;
        QCOMPARE(players.findBySession(42), a);
        players.Remove(a->Key);
        QCOMPARE(players.findBySession(42), c);
        QCOMPARE(players.findBySession(-1), nullptr);

        players.Add(QStringLiteral("-2147483648"));
        QCOMPARE(players.findByPlayerId(-7), c);
        QCOMPARE(players.findByPlayerId(7), b);
        QCOMPARE(players.findByPlayerId(std::numeric_limits<qint32>::min())->Key, "-2147483648");
        QCOMPARE(players.findByPlayerId(0), nullptr);
    }
};

QTEST_GUILESS_MAIN(TestPlayers)
#include "tst_players.moc"
