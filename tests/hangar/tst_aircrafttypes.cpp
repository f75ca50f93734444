#include "hangar/aircrafttypes.h"

#include <QTest>

using namespace airmesh;

class TestAircraftTypes : public QObject {
    Q_OBJECT

private slots:
    void tableIsWellFormed();
    void badRowsAreTold_data();
    void badRowsAreTold();
    void classifies_data();
    void classifies();
};

void TestAircraftTypes::tableIsWellFormed() {
    const AircraftTypes& t = AircraftTypes::builtIn();
    QVERIFY2(t.errors().isEmpty(), qPrintable(t.errors().join('\n')));
    QVERIFY(t.count() >= 400);
    QStringList wrong;
    for (int row = 0; row < t.count(); ++row) {
        const AircraftType& a = t.at(row);
        // Every name is plain text and, alone, names its own type: no other row's name within
        // it outweighs it. A designator names its type or, holding a family's name ("B737"),
        // that family.
        for (const QString& n : a.names) {
            const int found = t.classify(n).row;
            if (found != row || !std::all_of(n.begin(), n.end(), [](QChar c) { return c.unicode() < 128; })) {
                wrong << n + " -> " + (found >= 0 ? t.at(found).names.front() : "nothing");
            }
        }
        if (const int found = t.classify(a.designator).row;
            !a.designator.isEmpty() && (found < 0 || t.at(found).familyId != a.familyId)) {
            wrong << a.designator + " -> " + (found >= 0 ? t.at(found).names.front() : "nothing");
        }
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
}

void TestAircraftTypes::badRowsAreTold_data() {
    QTest::addColumn<QString>("line");
    const QString good = "X1 | Maker | - | aeroplane | piston | 1 | light | single | 1950 | Good One";
    QTest::newRow("fields") << "X2 | Maker | - | aeroplane | piston | 1 | light | single | Other";
    QTest::newRow("designator") << "x-2 | Maker | - | aeroplane | piston | 1 | light | single | 1950 | Other";
    QTest::newRow("role") << "X2 | Maker | - | aeroplane | piston | 1 | light | bomber | 1950 | Other";
    QTest::newRow("year") << "X2 | Maker | - | aeroplane | piston | 1 | light | single | 19x0 | Other";
    QTest::newRow("engines") << "X2 | Maker | - | aeroplane | piston | 99 | light | single | 1950 | Other";
    QTest::newRow("no name") << "X2 | Maker | - | aeroplane | piston | 1 | light | single | 1950 | ; -";
    QTest::newRow("powered glider") << "X2 | Maker | - | glider | piston | 1 | light | glider | 1950 | Other";
    QTest::newRow("jet helicopter") << "X2 | Maker | - | helicopter | jet | 1 | light | utility | 1950 | Other";
    QTest::newRow("piston fast jet") << "X2 | Maker | - | aeroplane | piston | 1 | light | fastjet | 1950 | Other";
    QTest::newRow("name twice") << "X2 | Maker | - | aeroplane | piston | 1 | light | single | 1950 | Other; good-one";
    QTest::newRow("designator twice") << "X1 | Maker | - | aeroplane | piston | 1 | light | single | 1950 | Other";
}

void TestAircraftTypes::badRowsAreTold() {
    QFETCH(QString, line);
    const QByteArray text =
        "# a comment\n"
        "X1 | Maker | - | aeroplane | piston | 1 | light | single | 1950 | Good One # and one\n\r\n" +
        line.toUtf8() + "\n";
    const AircraftTypes t(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    QCOMPARE(t.errors().size(), 1);
    QVERIFY2(t.errors().front().startsWith("line 4: "), qPrintable(t.errors().front()));
    QCOMPARE(t.count(), 1);
    QCOMPARE(t.classify("A Good One").row, 0);
    QCOMPARE(t.classify("Other").row, -1);
}

void TestAircraftTypes::classifies_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("type"); // the first name of its row; empty: none
    QTest::addColumn<QString>("role");

    // clang-format off
    QTest::newRow("airliner") << "Boeing 737-800 KLM" << "737-800" << "airliner";
    QTest::newRow("airliner, maker's spelling") << "B737-300 Southwest" << "737-300" << "airliner";
    QTest::newRow("airliner, family only") << "Boeing 737-80" << "737" << "airliner";
    QTest::newRow("airliner, designator") << "B744 Qantas" << "747-400" << "airliner";
    QTest::newRow("regional") << "Shorts 360 Loganair" << "Shorts 360" << "regional";
    QTest::newRow("regional jet") << "CRJ-200 Lufthansa CityLine" << "CRJ200" << "regional";
    QTest::newRow("business: a number beats a shared word") << "Dassault Falcon 50 Private" << "Falcon 50" << "business";
    QTest::newRow("business") << "Cessna Citation X NetJets" << "Citation X" << "business";
    QTest::newRow("fast jet: not a business jet") << "F-16 Falcon Thunderbirds" << "F-16 Fighting Falcon" << "fastjet";
    QTest::newRow("fast jet") << "Lockheed Martin F-22A Raptor" << "F-22 Raptor" << "fastjet";
    QTest::newRow("military transport") << "Lockheed C-130H Hercules RAF" << "C-130 Hercules" << "military";
    QTest::newRow("bomber") << "Boeing B-52H Stratofortress" << "B-52 Stratofortress" << "military";
    QTest::newRow("warbird: fighter") << "Supermarine Spitfire Mk IX" << "Spitfire" << "warbird";
    QTest::newRow("warbird: bomber") << "Boeing B-17G Flying Fortress" << "B-17 Flying Fortress" << "warbird";
    QTest::newRow("warbird: triplane") << "Fokker Dr.I Red Baron" << "Fokker Dr.I" << "warbird";
    QTest::newRow("vintage") << "Ford Trimotor 5-AT" << "Ford Trimotor" << "vintage";
    QTest::newRow("aerobatic") << "Zlin Z-526 Trener" << "Zlin Z-526" << "aerobatic";
    QTest::newRow("trainer") << "Cessna 152 Aerobat" << "Cessna 152" << "trainer";
    QTest::newRow("GA single") << "Cessna Skyhawk 172SP Paint1" << "Cessna 172" << "single";
    QTest::newRow("GA single, not the jet") << "Douglas A-4 Skyhawk" << "A-4 Skyhawk" << "fastjet";
    QTest::newRow("GA twin") << "Piper PA-34 Seneca V" << "Seneca" << "twin";
    QTest::newRow("utility") << "Pilatus PC-12/45 Rega" << "PC-12" << "utility";
    QTest::newRow("utility helicopter") << "Robinson R22 Beta II" << "Robinson R22" << "utility";
    QTest::newRow("military helicopter") << "Sikorsky UH-60L Black Hawk" << "UH-60 Black Hawk" << "milhelo";
    QTest::newRow("glider") << "Schweizer 2-32 Sailplane" << "Schweizer 2-32" << "glider";
    QTest::newRow("nothing") << "xq zzv 999" << "" << "";
    QTest::newRow("a registration is no type") << "N12345" << "" << "";
    // clang-format on
}

void TestAircraftTypes::classifies() {
    QFETCH(QString, title);
    QFETCH(QString, type);
    QFETCH(QString, role);
    const AircraftTypes& t = AircraftTypes::builtIn();
    const AircraftTypes::Found f = t.classify(title);
    QCOMPARE(f.row >= 0 ? t.at(f.row).names.front() : QString(), type);
    QCOMPARE(f.row >= 0 ? QString(AircraftTypes::roleKey(t.at(f.row).role)) : QString(), role);
}

QTEST_GUILESS_MAIN(TestAircraftTypes)
#include "tst_aircrafttypes.moc"
