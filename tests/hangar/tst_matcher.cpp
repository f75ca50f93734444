#include "core/inifiles.h"
#include "fakes/fakestatussink.h"
#include "hangar/aircrafttypes.h"
#include "hangar/hangar.h"
#include "hangar/hangarscan.h"
#include "hangar/matcher.h"
#include "hangar/titlechoice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <random>

using namespace airmesh;

namespace {

// One aircraft folder: the file's own fields, then one "title|ui_variation|atc_airline" per
// variant. Messy files are written as hand-edited ones are: other key case, blanks around '=',
// comments, [General] first, a gap in the numbering and a duplicate title key.
struct Folder {
    const char* name;
    const char* atcModel;
    const char* category;
    int engineType;
    int engines;
    double span;
    bool messy;
    std::initializer_list<const char*> variants;
};

// FS2002's default fleet with its paint variations, then add-ons of every kind.
// clang-format off
const Folder kFleet[] = {
    {"b737_400", "B734", "airplane", 1, 2, 94.8, false, {"Boeing 737-400||", "Boeing 737-400 Paint1||", "Boeing 737-400 Paint2||"}},
    {"b747_400", "B744", "airplane", 1, 4, 211, false, {"Boeing 747-400||", "Boeing 747-400 Paint1||"}},
    {"b777_300", "B773", "airplane", 1, 2, 199.9, false, {"Boeing 777-300||", "Boeing 777-300 Paint1||"}},
    {"lear45", "LJ45", "airplane", 1, 2, 47.9, false, {"Learjet 45||", "Learjet 45 Paint1||"}},
    {"c172", "C172", "airplane", 0, 1, 36, false, {"Cessna Skyhawk 172SP||", "Cessna Skyhawk 172SP Paint1||"}},
    {"c182", "C182", "airplane", 0, 1, 36, true, {"Cessna Skylane 182S||", "Cessna Skylane 182S Paint1||"}},
    {"c208", "C208", "airplane", 5, 1, 52.1, false, {"Cessna Grand Caravan||", "Cessna Grand Caravan Paint1||"}},
    {"baron", "BE58", "airplane", 0, 2, 37.8, false, {"Beech Baron 58||", "Beech Baron 58 Paint1||"}},
    {"kingair", "BE35", "airplane", 5, 2, 57.9, true, {"Beech King Air 350||", "Beech King Air 350 Paint1||"}},
    {"mooney", "M20", "airplane", 0, 1, 36.1, false, {"Mooney Bravo||", "Mooney Bravo Paint1||"}},
    {"extra", "", "airplane", 0, 1, 26.2, false, {"Extra 300S||", "Extra 300S Paint1||"}},
    {"bell206", "B06", "helicopter", 3, 1, 33, false, {"Bell 206B JetRanger||", "Bell 206B JetRanger Paint1||"}},
    {"r22", "R22", "helicopter", 0, 1, 25, true, {"Robinson R22||", "Robinson R22 Paint1||"}},
    {"sailplane", "", "airplane", 2, 0, 57, false, {"Schweizer 2-32 Sailplane||"}},
    {"camel", "", "airplane", 0, 1, 28, false, {"Sopwith Camel||"}},
    {"dc3", "DC3", "airplane", 0, 2, 95, false, {"Douglas DC-3||", "Douglas DC-3 Paint1||"}},
    // Add-ons.
    {"b738", "B738", "airplane", 1, 2, 112.6, false, {"Boeing 737-800 KLM|KLM|KLM", "Boeing 737-800 Ryanair|Ryanair|Ryanair"}},
    {"b727", "B722", "airplane", 1, 3, 108, true, {"Boeing 727-200 Pan Am|Pan Am|Pan Am"}},
    {"b744x", "B744", "airplane", 1, 4, 211, false, {"Boeing 747-400 Cathay Pacific One||Cathay Pacific", "Boeing 747-400 Cathay Pacific Two||Cathay Pacific"}},
    {"posky763", "B763", "airplane", 1, 2, 156, false, {"POSKY 767-300ER Delta|Delta|Delta"}},
    {"b752", "B752", "airplane", 1, 2, 124.8, false, {"Boeing 757-200 American Airlines||American"}},
    {"a320fam", "A321", "airplane", 1, 2, 111.9, true, {"Airbus A321 Lufthansa||Lufthansa", "Airbus A319 easyJet||easyJet", "Airbus A319 Swiss Zürich||Swiss"}},
    {"a343", "A343", "airplane", 1, 4, 197.8, false, {"Airbus A340-300 Air France||Air France"}},
    {"md82", "MD82", "airplane", 1, 2, 107.8, false, {"MD-82 Alitalia||Alitalia"}},
    {"f70", "F70", "airplane", 1, 2, 92.1, false, {"Fokker 70 KLM Cityhopper||KLM"}},
    {"dash8", "DH8A", "airplane", 5, 2, 85, false, {"DHC-8 Dash 8-100 Air Canada||Air Canada"}},
    {"pc12", "PC12", "airplane", 5, 1, 53.3, false, {"Pilatus PC-12 N912PC||"}},
    {"p51", "P51", "airplane", 0, 1, 37, false, {"North American P-51D Mustang Big Beautiful Doll||"}},
    {"cub", "J3", "airplane", 0, 1, 35.2, true, {"Piper J-3 Cub =Yellow= [Tundra]||"}},
    {"ec135", "EC35", "helicopter", 3, 2, 33, false, {"Eurocopter EC135 Police||"}},
    {"r44", "R44", "helicopter", 0, 1, 33, false, {"Robinson R44 Raven||"}},
    {"dg808", "", "airplane", 2, 0, 59, false, {"DG808S Glider||"}},
    {"concorde", "CONC", "airplane", 1, 4, 84, false, {"Concorde Air France||Air France"}},
};
// clang-format on

QByteArray latin1(const char* s) {
    return QString::fromUtf8(s).toLatin1();
}

QByteArray cfgOf(const Folder& f) {
    QByteArray general =
        "[General]\r\natc_type=X\r\natc_model=" + QByteArray(f.atcModel) + "\r\nCategory=" + f.category + "\r\n\r\n";
    QByteArray engines = "[GeneralEngineData]\r\nengine_type=" + QByteArray::number(f.engineType) + "\r\n";
    for (int e = 0; e < f.engines; ++e) {
        engines += "Engine." + QByteArray::number(e) + "=-3.5,0,0\r\n";
    }
    const QByteArray geometry = "[airplane_geometry]\r\nwing_span=" + QByteArray::number(f.span) + "\r\n";
    QByteArray variants;
    int n = 0;
    for (const char* v : f.variants) {
        const QList<QByteArray> parts = latin1(v).split('|');
        const QByteArray section = "[fltsim." + QByteArray::number(n) + "]\r\n";
        if (f.messy) {
            variants += "; variant " + QByteArray::number(n) + "\r\n" + section + "  TITLE =  " + parts[0] +
                        "  \r\nTitle=shadowed by the first\r\nUI_Variation = " + parts[1] +
                        "\r\nAtc_Airline= " + parts[2] + "\r\n\r\n";
        } else {
            variants += section + "title=" + parts[0] + "\r\nui_variation=" + parts[1] + "\r\natc_airline=" + parts[2] +
                        "\r\n\r\n";
        }
        ++n;
    }
    if (f.messy) {
        // Past the gap in the numbering: never read.
        variants += "[fltsim." + QByteArray::number(n + 1) + "]\r\ntitle=Beyond The Gap\r\n";
        return general + geometry + variants + engines;
    }
    return variants + general + engines + geometry;
}

struct Fixture {
    QTemporaryDir dir;
    Hangar hangar;
    std::unique_ptr<Matcher> matcher;
    Fixture() {
        for (const Folder& f : kFleet) {
            const QString folder = dir.path() + "/aircraft/" + f.name;
            QDir().mkpath(folder);
            QFile file(folder + "/aircraft.cfg");
            if (!file.open(QIODevice::WriteOnly) || file.write(cfgOf(f)) < 0) {
                qFatal("cannot write the fixture");
            }
        }
        FakeStatusSink status(hangar);
        LoadHangar(dir.path() + "/", hangar, status);
        matcher = std::make_unique<Matcher>(hangar);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// A hangar of "title|engine type|category|engine count|wing span" lines, the last ones optional.
std::unique_ptr<Hangar> hangarOf(const QStringList& lines) {
    auto h = std::make_unique<Hangar>();
    for (const QString& line : lines) {
        const QStringList f = line.split('|');
        const auto a = h->Add(f[0]);
        a->EngineType = f.value(1).toInt();
        a->Category = f.value(2);
        a->EngineCount = f.value(3).toInt();
        a->WingSpan = f.value(4).toDouble();
    }
    return h;
}

} // namespace

class TestMatcher : public QObject {
    Q_OBJECT

private slots:
    void scanKeepsWhatMatchingNeeds();
    void choices_data();
    void choices();
    void byRole_data();
    void byRole();
    void neverAnotherKind_data();
    void neverAnotherKind();
    void neverAcrossTheLines();
    void emptyTitle_data();
    void emptyTitle();
    void sameHangarSameAnswer();
    void aliasesComeFirst_data();
    void aliasesComeFirst();
};

void TestMatcher::scanKeepsWhatMatchingNeeds() {
    const Hangar& h = fixture().hangar;
    int expected = 0;
    for (const Folder& f : kFleet) {
        expected += static_cast<int>(f.variants.size());
    }
    QCOMPARE(h.Count(), expected); // nothing past a gap, no shadowed title
    for (const auto& a : h.NewEnum()) {
        QVERIFY2(a->Title != "Beyond The Gap" && a->Title != "shadowed by the first", qPrintable(a->Title));
    }
    // A messy file: keys in any case, blanks around '=', [General] first, engines last.
    const auto skylane = h.Item(fixture().matcher->match("Cessna Skylane 182S Paint1", 0).index + 1);
    QCOMPARE(skylane->Title, QString("Cessna Skylane 182S Paint1"));
    QCOMPARE(skylane->AtcModel, QString("C182"));
    QCOMPARE(skylane->Category, QString("airplane"));
    QCOMPARE(skylane->EngineType, 0);
    QCOMPARE(skylane->EngineCount, 1);
    QCOMPARE(skylane->WingSpan, 36.0);
    const auto lufthansa = h.Item(fixture().matcher->match("Airbus A321 Lufthansa", 1).index + 1);
    QCOMPARE(lufthansa->Airline, QString("Lufthansa"));
    QCOMPARE(lufthansa->EngineCount, 2);
}

void TestMatcher::choices_data() {
    QTest::addColumn<QString>("remote");
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("reason");

    const QString cut = QString("North American P-51D Mustang Big Beautiful Doll").left(Matcher::kCutTitleChars);
    // clang-format off
    QTest::newRow("exact") << "Boeing 737-400 Paint1" << 1 << "Boeing 737-400 Paint1" << "same title";
    QTest::newRow("case") << "BOEING 737-400 paint1" << 1 << "Boeing 737-400 Paint1" << "same title";
    QTest::newRow("case, non-ANSI") << "AIRBUS A319 SWISS ZÜRICH" << 1 << "Airbus A319 Swiss Zürich" << "same title";
    QTest::newRow("blanks and NUL") << QString("  Concorde Air France ") + QChar(0) + "junk" << 1 << "Concorde Air France" << "same title";
    QTest::newRow("=, [ in a title") << "piper j-3 cub =yellow= [tundra]" << 0 << "Piper J-3 Cub =Yellow= [Tundra]" << "same title";
    QTest::newRow("cut title") << cut << 0 << "North American P-51D Mustang Big Beautiful Doll" << "prefix of installed title";
    QTest::newRow("cut title, two fit") << "Boeing 747-400 Cathay Pacific " << 1 << "Boeing 747-400 Cathay Pacific One" << "same type 747-400 and airline";
    QTest::newRow("short start is no cut") << "Boeing 737-80" << 1 << "Boeing 737-400" << "same family 737";
    QTest::newRow("type and airline") << "Boeing 737-800 KLM Royal Dutch" << 1 << "Boeing 737-800 KLM" << "same type 737-800 and airline";
    QTest::newRow("type") << "Boeing 737-800 Air Berlin" << 1 << "Boeing 737-800 KLM" << "same type 737-800";
    QTest::newRow("family and airline") << "Boeing 737-700 Ryanair" << 1 << "Boeing 737-800 Ryanair" << "same family 737 and airline";
    QTest::newRow("family") << "B737-300 Southwest" << 1 << "Boeing 737-400" << "same family 737";
    QTest::newRow("family by model") << "Airbus A320 Lufthansa" << 1 << "Airbus A321 Lufthansa" << "same family A320 and airline";
    QTest::newRow("same model") << "Airbus A319-100 Air Berlin" << 1 << "Airbus A319 easyJet" << "same type A319";
    QTest::newRow("type beats airline") << "POSKY 767-300ER American Airl" << 1 << "POSKY 767-300ER Delta" << "same type 767-300";
    QTest::newRow("A330 is an A340") << "Airbus A330-200 Air France" << 1 << "Airbus A340-300 Air France" << "same family A330/A340 and airline";
    QTest::newRow("717 is a DC-9") << "Boeing 717-200 AirTran" << 1 << "MD-82 Alitalia" << "same family DC-9";
    QTest::newRow("Fokker 100") << "Fokker 100 Swissair" << 1 << "Fokker 70 KLM Cityhopper" << "same family Fokker 100";
    QTest::newRow("Dakota") << "Dakota RAF Transport" << 0 << "Douglas DC-3" << "same family DC-3";
    QTest::newRow("C-47") << "C-47 Skytrain Normandy" << 0 << "Douglas DC-3" << "same family DC-3";
    QTest::newRow("role: three-engine airliner") << "Tupolev Tu-154M Aeroflot" << 1 << "Boeing 727-200 Pan Am" << "same role: airliner, 3 jets";
    QTest::newRow("role: aerobatic") << "Zlin Z-526 Trener" << 0 << "Extra 300S" << "same role: aerobatic aircraft, 1 piston";
    QTest::newRow("role: regional turboprop") << "Shorts 360 Loganair" << 5 << "DHC-8 Dash 8-100 Air Canada" << "same role: regional airliner, 2 turboprops";
    QTest::newRow("designator") << "Pilatus PC-12/45 Rega" << 5 << "Pilatus PC-12 N912PC" << "same type PC-12";
    QTest::newRow("airline and class") << "Saab 340 Air Canada Jazz" << 5 << "DHC-8 Dash 8-100 Air Canada" << "same role: regional airliner, 2 turboprops";
    QTest::newRow("helicopter family") << "Bell 206 JetRanger Police" << 3 << "Bell 206B JetRanger" << "same type Bell 206";
    QTest::newRow("piston helicopter") << "Robinson R44 Clipper" << 0 << "Robinson R44 Raven" << "same type Robinson R44";
    QTest::newRow("helicopter role") << "Agusta A109 Air Ambulance" << 3 << "Eurocopter EC135 Police" << "same role: utility helicopter, 2 turbines";
    QTest::newRow("glider") << "ASK 21 Club" << 2 << "DG808S Glider" << "same role: glider, unpowered";
    QTest::newRow("gibberish") << "xq zzv 999" << 1 << "Airbus A319 easyJet" << "same class: jet";
    QTest::newRow("=, [, ; in a remote title") << "Cessna 172 [Float] =; x" << 0 << "Cessna Skyhawk 172SP" << "same type Cessna 172";
    QTest::newRow("non-ANSI words") << "Ту-154 Аэрофлот" << 1 << "Airbus A319 easyJet" << "same class: jet";
    QTest::newRow("over-long") << "Boeing 737-800 KLM " + QString(300, 'x') << 1 << "Boeing 737-800 KLM" << "same type 737-800 and airline";
    QTest::newRow("empty") << "" << 1 << "Boeing 737-400" << "no title: FS default jet";
    QTest::newRow("blank") << "   " << 1 << "Boeing 737-400" << "no title: FS default jet";
    // clang-format on
}

void TestMatcher::choices() {
    QFETCH(QString, remote);
    QFETCH(int, engine);
    QFETCH(QString, shown);
    QFETCH(QString, reason);
    const Matcher::Match m = fixture().matcher->match(remote, engine);
    QCOMPARE(m.title, shown);
    QCOMPARE(m.reason, reason);
    QCOMPARE(m.index >= 0, !shown.trimmed().isEmpty());
}

void TestMatcher::byRole_data() {
    QTest::addColumn<QString>("remote");
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("reason");

    // clang-format off
    QTest::newRow("fast jet, not a widebody") << "Lockheed Martin F-22A Raptor" << 1 << "F/A-18 Hornet Blue Angels" << "same role: military fast jet, 2 jets";
    QTest::newRow("business jet, not a fighter of a shared word") << "Dassault Falcon 50 Private" << 1 << "Learjet 45" << "same role: business jet, jet";
    QTest::newRow("business jet, not an airliner") << "Cessna Citation X NetJets" << 1 << "Learjet 45" << "same role: business jet, 2 jets";
    QTest::newRow("airliner by size") << "Airbus A330-300 Cathay Pacific" << 1 << "Boeing 777-300" << "same role: airliner, 2 jets";
    QTest::newRow("regional jet") << "Embraer ERJ-145 Continental Express" << 1 << "CRJ-200 Lufthansa" << "same role: regional airliner, 2 jets";
    QTest::newRow("single turboprop, not a twin airliner") << "Pilatus PC-12/47 Royal Flying Doctor" << 5 << "Cessna Grand Caravan" << "same role: utility or bush aircraft, 1 turboprop";
    QTest::newRow("military transport") << "Transall C-160 Luftwaffe" << 5 << "Lockheed C-130H Hercules" << "same role: military transport or bomber, turboprop";
    QTest::newRow("piston twin, not a trainer") << "Piper PA-34 Seneca III" << 0 << "Beech Baron 58" << "same role: GA twin, 2 pistons";
    QTest::newRow("trainer") << "Piper PA-38 Tomahawk" << 0 << "Cessna 152" << "same role: trainer, 1 piston";
    QTest::newRow("WWII fighter, not a tourer") << "Messerschmitt Bf 109G-6" << 0 << "North American P-51D Mustang" << "same role: warbird, 1 piston";
    QTest::newRow("four-engine bomber, not a tourer") << "Boeing B-17G Flying Fortress" << 0 << "North American P-51D Mustang" << "same role: warbird, piston";
    QTest::newRow("1917 triplane, not a twin") << "Fokker Dr.I Triplane" << 0 << "Sopwith Camel" << "same role: warbird, 1 piston";
    QTest::newRow("piston helicopter, not an airplane") << "Schweizer 300C" << 0 << "Robinson R22 Beta" << "same role: utility helicopter, 1 piston";
    // clang-format on
}

void TestMatcher::byRole() {
    QFETCH(QString, remote);
    QFETCH(int, engine);
    QFETCH(QString, shown);
    QFETCH(QString, reason);
    // FS2002's default fleet and common add-ons; only the titles say what they are.
    static const auto h = hangarOf({
        "Boeing 737-400|1",
        "Boeing 747-400|1",
        "Boeing 777-300|1",
        "Learjet 45|1",
        "Cessna Skyhawk 172SP|0",
        "Cessna Skylane 182S|0",
        "Cessna Grand Caravan|5",
        "Beech Baron 58|0",
        "Beech King Air 350|5",
        "Mooney Bravo|0",
        "Extra 300S|0",
        "Bell 206B JetRanger|3|helicopter",
        "Robinson R22 Beta|0|helicopter",
        "Schweizer 2-32 Sailplane|2",
        "Sopwith Camel|0",
        "Douglas DC-3|0",
        "Wright Flyer|0",
        "F/A-18 Hornet Blue Angels|1",
        "General Dynamics F-16 Fighting Falcon|1",
        "Supermarine Spitfire Mk IX|0",
        "North American P-51D Mustang|0",
        "Cessna 152|0",
        "CRJ-200 Lufthansa|1",
        "Dash 8-300 Tyrolean|5",
        "Lockheed C-130H Hercules|5",
    });
    static const Matcher matcher(*h);
    const Matcher::Match m = matcher.match(remote, engine);
    QCOMPARE(m.title, shown);
    QCOMPARE(m.reason, reason);
    QCOMPARE(m.stage, Matcher::Stage::Role);
}

void TestMatcher::neverAnotherKind_data() {
    QTest::addColumn<QStringList>("installed"); // "title|engine type|category"
    QTest::addColumn<QString>("remote");
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("reason");

    const QStringList planes{"Boeing 747-400|1|airplane", "Cessna Skyhawk 172SP|0|airplane"};
    const QStringList helos{"Bell 206B JetRanger|3|helicopter", "Robinson R22|0|helicopter"};
    // clang-format off
    QTest::newRow("helicopter, planes only") << planes << "Eurocopter EC135" << 3 << "Eurocopter EC135" << "no installed helicopter";
    QTest::newRow("piston helicopter, planes only") << planes << "Robinson R44" << 0 << "Robinson R44" << "no installed helicopter";
    QTest::newRow("glider, planes only") << planes << "ASK 21" << 2 << "ASK 21" << "no installed glider";
    QTest::newRow("airliner, helicopters only") << helos << "Boeing 737-800" << 1 << "Boeing 737-800" << "no installed airplane";
    QTest::newRow("piston plane, helicopters only") << helos << "Piper Cub" << 0 << "Piper Cub" << "no installed airplane";
    QTest::newRow("other engine, same kind") << planes << "Cessna Grand Caravan" << 5 << "Cessna Skyhawk 172SP" << "same kind: airplane";
    QTest::newRow("empty hangar") << QStringList() << "Boeing 737-800" << 1 << "Boeing 737-800" << "no installed airplane";
    QTest::newRow("fast jet, civil only") << planes << "F-16C Fighting Falcon" << 1 << "F-16C Fighting Falcon" << "no installed military fast jet";
    QTest::newRow("civil, fast jets only") << QStringList{"F/A-18 Hornet|1|airplane"} << "Learjet 45" << 1 << "Learjet 45" << "no installed civil airplane";
    QTest::newRow("military transport may be a fast jet") << QStringList{"F/A-18 Hornet|1|airplane"} << "C-17 Globemaster III" << 1 << "F/A-18 Hornet" << "same class: jet";
    // clang-format on
}

void TestMatcher::neverAnotherKind() {
    QFETCH(QStringList, installed);
    QFETCH(QString, remote);
    QFETCH(int, engine);
    QFETCH(QString, shown);
    QFETCH(QString, reason);
    const Matcher::Match m = Matcher(*hangarOf(installed)).match(remote, engine);
    QCOMPARE(m.title, shown);
    QCOMPARE(m.reason, reason);
}

void TestMatcher::neverAcrossTheLines() {
    // Small hangars of table types under made-up liveries, and remote aircraft of any type: no
    // choice is of another kind or across the line between fast jets and civil aircraft, and
    // none skips a stage of the order that had an aircraft to give.
    const AircraftTypes& t = AircraftTypes::builtIn();
    std::mt19937 rng(2002);
    std::uniform_int_distribution<int> anyRow(0, t.count() - 1);
    const QStringList liveries{"Delta", "Police", "Private", "Navy", "Red Bull", "Paint1", "N123AB", ""};
    auto kindOf = [](const AircraftType& a) { return a.kind == TypeKind::Amphibian ? TypeKind::Aeroplane : a.kind; };
    auto civil = [](Role r) {
        return r != Role::FastJet && r != Role::MilitaryTransport && r != Role::Warbird &&
               r != Role::MilitaryHelicopter;
    };
    auto crosses = [&](const AircraftType& a, const AircraftType& b) {
        return (a.role == Role::FastJet && civil(b.role)) || (b.role == Role::FastJet && civil(a.role));
    };
    for (int hangar = 0; hangar < 40; ++hangar) {
        Hangar h;
        QHash<QString, int> rowOf;
        for (int i = 0; i < 25; ++i) {
            const int row = anyRow(rng);
            const AircraftType& a = t.at(row);
            const QString title = a.names.front() + ' ' + liveries[i % liveries.size()] + ' ' + QString::number(i);
            const auto air = h.Add(title);
            air->EngineType = a.engineType;
            air->EngineCount = a.engines;
            air->Category = a.kind == TypeKind::Helicopter ? "helicopter" : "airplane";
            rowOf.insert(title, row);
        }
        const Matcher m(h);
        const std::vector<Hangar::AircraftPtr> all = h.NewEnum();
        for (int i = 0; i < 100; ++i) {
            const AircraftType& r = t.at(anyRow(rng));
            const QString remote = r.names[static_cast<qsizetype>(rng() % r.names.size())] + " Remote";
            const Matcher::Match c = m.match(remote, r.engineType);
            // What the hangar had to give, stage by stage.
            bool type = false, family = false, roleCount = false, role = false, allowed = false;
            for (const auto& a : all) {
                const AircraftType& o = t.at(rowOf.value(a->Title));
                if (kindOf(o) != kindOf(r) || crosses(o, r)) {
                    continue;
                }
                allowed = true;
                type = type || &o == &r;
                family = family || o.familyId == r.familyId;
                const bool sameRole = o.role == r.role && o.engineType == r.engineType;
                role = role || sameRole;
                roleCount = roleCount || (sameRole && o.engines == r.engines);
            }
            const QString what = remote + " -> " + c.title + " (" + c.reason + ")";
            QVERIFY2((c.index >= 0) == allowed, qPrintable(what));
            if (c.index < 0) {
                continue;
            }
            const AircraftType& o = t.at(rowOf.value(c.title));
            QVERIFY2(kindOf(o) == kindOf(r) && !crosses(o, r), qPrintable(what));
            QVERIFY2(!type || &o == &r, qPrintable(what));
            QVERIFY2(!family || o.familyId == r.familyId, qPrintable(what));
            QVERIFY2(family || !roleCount ||
                         (o.role == r.role && o.engineType == r.engineType && o.engines == r.engines),
                     qPrintable(what));
            QVERIFY2(family || !role || (o.role == r.role && o.engineType == r.engineType), qPrintable(what));
        }
    }
}

void TestMatcher::emptyTitle_data() {
    QTest::addColumn<QStringList>("installed"); // "title|engine type|category"
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("shown"); // empty: the remote title itself
    QTest::addColumn<QString>("reason");

    const QStringList fs{"Alpha Jet|1|airplane",
                         "Aero L-39|1|airplane",
                         "Boeing 737-400|1|airplane",
                         "Cessna Skyhawk 172SP|0|airplane",
                         "Beech King Air 350|5|airplane",
                         "Bell 206B JetRanger|3|helicopter",
                         "Schweizer 2-32 Sailplane|2|airplane",
                         "Piper Cub|0|airplane"};
    const QStringList addOns{"Learjet 45|1|airplane", "Cessna 152|0|airplane", "Robinson R22|0|helicopter"};
    // clang-format off
    QTest::newRow("piston") << fs << 0 << "Cessna Skyhawk 172SP" << "no title: FS default piston";
    QTest::newRow("jet") << fs << 1 << "Boeing 737-400" << "no title: FS default jet";
    QTest::newRow("turboprop") << fs << 5 << "Beech King Air 350" << "no title: FS default turboprop";
    QTest::newRow("helicopter") << fs << 3 << "Bell 206B JetRanger" << "no title: FS default turbine";
    QTest::newRow("glider") << fs << 2 << "Schweizer 2-32 Sailplane" << "no title: FS default unpowered";
    QTest::newRow("unknown engine: piston") << fs << 9 << "Cessna Skyhawk 172SP" << "no title: FS default piston";
    QTest::newRow("no default: first jet") << addOns << 1 << "Learjet 45" << "no title: first jet";
    QTest::newRow("no default: first piston airplane") << addOns << 0 << "Cessna 152" << "no title: first piston";
    QTest::newRow("none of its engine type") << addOns << 3 << "" << "no title";
    // clang-format on
}

void TestMatcher::emptyTitle() {
    QFETCH(QStringList, installed);
    QFETCH(int, engine);
    QFETCH(QString, shown);
    QFETCH(QString, reason);
    const Matcher m(*hangarOf(installed));
    for (const QString& remote : {QString(), QString("  "), QString(QChar(0)) + "x"}) {
        const Matcher::Match c = m.match(remote, engine);
        QCOMPARE(c.title, shown.isEmpty() ? remote : shown);
        QCOMPARE(c.reason, reason);
    }
}

void TestMatcher::sameHangarSameAnswer() {
    // The same aircraft found in another order give the same choices: ties go by title.
    Hangar forward;
    Hangar backward;
    const QStringList titles{"Boeing 737-400 Paint2", "Boeing 737-400 Paint1", "Boeing 737-400", "Airbus A321"};
    for (int i = 0; i < titles.size(); ++i) {
        for (auto [h, t] : {std::pair{&forward, titles[i]}, std::pair{&backward, titles[titles.size() - 1 - i]}}) {
            const auto a = h->Add(t);
            a->EngineType = 1;
            a->EngineCount = 2;
        }
    }
    const Matcher a(forward);
    const Matcher b(backward);
    for (const char* remote : {"Boeing 737-800 Delta", "Airbus A319", "Foo Bar", "Boeing 747"}) {
        QCOMPARE(a.match(remote, 1).title, b.match(remote, 1).title);
    }
    QCOMPARE(a.match("Boeing 737-800 Delta", 1).title, QString("Boeing 737-400"));
}

void TestMatcher::aliasesComeFirst_data() {
    QTest::addColumn<QString>("autoMatch"); // the setting as written; empty: absent
    QTest::addColumn<QString>("alias");     // [Aliasing] value for the remote title; empty: none
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("firstLog");

    using S = TitleChoice::Source;
    const QString r = "Boeing 737-300 Southwest";
    // clang-format off
    QTest::newRow("alias first") << "" << "Boeing 747-400" << r << "Boeing 747-400" << int(S::UserAlias) << "";
    QTest::newRow("alias, other case") << "1" << "boeing 747-400" << r << "boeing 747-400" << int(S::UserAlias) << "";
    QTest::newRow("alias to a missing aircraft") << "" << "Boeing 737-900 Gone" << r << "Boeing 737-400" << int(S::Automatic)
        << " - Alias of Boeing 737-300 Southwest to Boeing 737-900 Gone is not installed; matching instead";
    QTest::newRow("matched") << "True" << "" << r << "Boeing 737-400" << int(S::Automatic)
        << " - Matched Boeing 737-300 Southwest to Boeing 737-400 (same family 737)";
    QTest::newRow("logged up to the NUL") << "" << "" << r + QChar(0) + "x" << "Boeing 737-400" << int(S::Automatic)
        << " - Matched Boeing 737-300 Southwest to Boeing 737-400 (same family 737)";
    QTest::newRow("off: remote title") << "0" << "" << r << r << int(S::Remote) << "";
    QTest::newRow("off: missing alias kept") << "False" << "Boeing 737-900 Gone" << r << "Boeing 737-900 Gone" << int(S::UserAlias) << "";
    QTest::newRow("nothing of its kind") << "" << "" << "Mil Mi-8 helicopter" << "Mil Mi-8 helicopter" << int(S::Remote) << "";
    QTest::newRow("empty title") << "" << "" << "" << "Boeing 737-400" << int(S::Automatic)
        << " - Matched an empty title to Boeing 737-400 (no title: FS default jet)";
    // clang-format on
}

void TestMatcher::aliasesComeFirst() {
    QFETCH(QString, autoMatch);
    QFETCH(QString, alias);
    QFETCH(QString, remote);
    QFETCH(QString, shown);
    QFETCH(int, source);
    QFETCH(QString, firstLog);
    QTemporaryDir dir;
    INIFiles settings(dir.path() + "/AirmeshClient.ini");
    if (!autoMatch.isEmpty()) {
        settings.WriteINI("General", "AutoMatch", autoMatch);
    }
    if (!alias.isEmpty()) {
        settings.WriteINI("Aliasing", remote, alias);
    }
    Hangar h;
    for (const char* t : {"Boeing 737-400", "Boeing 747-400", "Cessna Skyhawk 172SP"}) {
        h.Add(t)->EngineType = QByteArray(t).startsWith("Boeing") ? 1 : 0;
    }
    const Matcher matcher(h);
    TitleChooser chooser;
    chooser.setMatcher(&matcher);
    const TitleChoice first = chooser.choose(settings, remote, 1);
    QCOMPARE(first.title, shown);
    QCOMPARE(int(first.source), source);
    QCOMPARE(first.firstTime.value(0), firstLog);
    // Told once only.
    const TitleChoice again = chooser.choose(settings, remote, 1);
    QCOMPARE(again.title, shown);
    QVERIFY(again.firstTime.isEmpty());
    // Without a matcher (before the scan) it is the alias look-up alone.
    chooser.setMatcher(nullptr);
    QCOMPARE(chooser.choose(settings, remote, 1).title, alias.isEmpty() ? remote : alias);
}

QTEST_GUILESS_MAIN(TestMatcher)
#include "tst_matcher.moc"
