#include "matcher.h"

#include "core/enginetype.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace airmesh {
inline namespace hangar {

namespace {

using Kind = Matcher::Kind;

// What a word of a title is to the matcher.
enum WordKind : std::uint8_t { Livery, Model, Variant, Designator, Maker };

// Scores. A type relation outweighs everything else together, a shared variant or designator
// outweighs the airline, the airline outweighs the class, the class the manufacturer.
constexpr int kSameFamily = 800;
constexpr int kRelative = 500;
constexpr int kSharedDesignator = 300;
constexpr int kSharedVariant = 200;
constexpr int kSharedModel = 150;
constexpr int kFirstLiveryWord = 40;
constexpr int kFurtherLiveryWord = 10;
constexpr int kMaxFurtherLiveryWords = 2;
constexpr int kSameEngineType = 8;
constexpr int kSameEngineCount = 6;
constexpr int kSameSize = 4;
constexpr int kSameMaker = 3;
constexpr int kExactScore = 10000;
constexpr int kPrefixScore = 9000;

// One type family: its designators, the family group its relatives share, and the class of the
// real aircraft (engine type code, engines, size 0 light / 1 medium / 2 heavy, -1 not told).
struct Family {
    const char* name;
    const char* group;
    const char* designators; // blank-separated
    Kind kind;
    int engineType;
    int engines;
    int size;
    const char* maker;
};

constexpr int P = engineCode(EngineType::Piston);
constexpr int J = engineCode(EngineType::Jet);
constexpr int G = engineCode(EngineType::None);
constexpr int H = engineCode(EngineType::HeloTurbine);
constexpr int T = engineCode(EngineType::Turboprop);
constexpr Kind A = Kind::Airplane;
constexpr Kind R = Kind::Helicopter;

// clang-format off
constexpr std::array kFamilies{
    Family{"707", "707", "707 720", A, J, 4, 2, "BOEING"},
    Family{"717", "DC9", "717", A, J, 2, 1, "BOEING"},
    Family{"727", "727", "727", A, J, 3, 1, "BOEING"},
    Family{"Tu-154", "TU154", "TU154", A, J, 3, 1, "TUPOLEV"},
    Family{"737", "737", "737", A, J, 2, 1, "BOEING"},
    Family{"747", "747", "747", A, J, 4, 2, "BOEING"},
    Family{"757", "757", "757", A, J, 2, 1, "BOEING"},
    Family{"767", "757", "767", A, J, 2, 2, "BOEING"},
    Family{"777", "777", "777", A, J, 2, 2, "BOEING"},
    Family{"787", "777", "787", A, J, 2, 2, "BOEING"},
    Family{"A300", "A300", "A300 A310", A, J, 2, 2, "AIRBUS"},
    Family{"A320", "A320", "A318 A319 A320 A321", A, J, 2, 1, "AIRBUS"},
    Family{"A330", "A330", "A330", A, J, 2, 2, "AIRBUS"},
    Family{"A340", "A330", "A340", A, J, 4, 2, "AIRBUS"},
    Family{"A380", "A380", "A380", A, J, 4, 2, "AIRBUS"},
    Family{"DC-9", "DC9", "DC9", A, J, 2, 1, "DOUGLAS"},
    Family{"MD-80", "DC9", "MD80 MD81 MD82 MD83 MD87 MD88 MD90", A, J, 2, 1, "MCDONNELL"},
    Family{"DC-10", "DC10", "DC10 MD10 KC10", A, J, 3, 2, "DOUGLAS"},
    Family{"MD-11", "DC10", "MD11", A, J, 3, 2, "MCDONNELL"},
    Family{"L-1011", "L1011", "L1011 TRISTAR", A, J, 3, 2, "LOCKHEED"},
    Family{"DC-3", "DC3", "DC3 C47 DAKOTA SKYTRAIN LI2", A, P, 2, 1, "DOUGLAS"},
    Family{"DC-6", "DC4", "DC4 DC6 DC7 C54", A, P, 4, 1, "DOUGLAS"},
    Family{"Fokker 100", "F28", "F70 F100", A, J, 2, 1, "FOKKER"},
    Family{"F28", "F28", "F28", A, J, 2, 1, "FOKKER"},
    Family{"Fokker 50", "F27", "F27 F50", A, T, 2, 1, "FOKKER"},
    Family{"BAe 146", "146", "146 RJ70 RJ85 RJ100 AVRORJ", A, J, 4, 1, "BAE"},
    Family{"CRJ", "CRJ", "CRJ CRJ100 CRJ200 CRJ700 CRJ900 CL65", A, J, 2, 1, "BOMBARDIER"},
    Family{"ERJ", "ERJ", "ERJ ERJ135 ERJ140 ERJ145 E135 E145", A, J, 2, 1, "EMBRAER"},
    Family{"E-Jet", "ERJ", "E170 E175 E190 E195", A, J, 2, 1, "EMBRAER"},
    Family{"Concorde", "CONC", "CONCORDE CONC", A, J, 4, 1, "AEROSPATIALE"},
    Family{"Learjet", "LJ", "LJ23 LJ24 LJ25 LJ31 LJ35 LJ45 LJ55 LJ60", A, J, 2, 0, "LEARJET"},
    Family{"Citation", "CITATION", "CITATION C500 C525 C550 C560 C650 C750", A, J, 2, 0, "CESSNA"},
    Family{"Dash 8", "DHC8", "DHC8 DASH8 Q400 Q300", A, T, 2, 1, "DEHAVILLAND"},
    Family{"Dash 7", "DHC8", "DHC7 DASH7", A, T, 4, 1, "DEHAVILLAND"},
    Family{"Twin Otter", "DHC6", "DHC6 OTTER", A, T, 2, 1, "DEHAVILLAND"},
    Family{"Beaver", "DHC2", "DHC2 BEAVER", A, P, 1, 0, "DEHAVILLAND"},
    Family{"ATR", "ATR", "ATR42 ATR72 ATR", A, T, 2, 1, "ATR"},
    Family{"Saab 340", "SAAB", "SF340 SAAB340 SAAB2000", A, T, 2, 1, "SAAB"},
    Family{"C-130", "C130", "C130 L100 HERCULES", A, T, 4, 2, "LOCKHEED"},
    Family{"King Air", "KINGAIR", "BE350 BE200 BE90 KINGAIR B350", A, T, 2, 1, "BEECH"},
    Family{"Caravan", "C208", "C208 CARAVAN", A, T, 1, 1, "CESSNA"},
    Family{"Baron", "BE58", "BE58 BE55 BARON", A, P, 2, 0, "BEECH"},
    Family{"Bonanza", "BE36", "BE35 BE36 BONANZA", A, P, 1, 0, "BEECH"},
    Family{"Cessna 172", "C172", "C150 C152 C170 C172 SKYHAWK", A, P, 1, 0, "CESSNA"},
    Family{"Cessna 182", "C172", "C180 C182 C185 C206 SKYLANE", A, P, 1, 0, "CESSNA"},
    Family{"Mooney", "M20", "M20 MOONEY", A, P, 1, 0, "MOONEY"},
    Family{"Cherokee", "PA28", "PA28 PA32 WARRIOR ARCHER CHEROKEE", A, P, 1, 0, "PIPER"},
    Family{"Cub", "J3", "J3 CUB PA18", A, P, 1, 0, "PIPER"},
    Family{"Extra 300", "EA300", "EA300 EA200 EA330", A, P, 1, 0, "EXTRA"},
    Family{"P-51", "P51", "P51 MUSTANG", A, P, 1, 0, "NORTH"},
    Family{"Spitfire", "SPIT", "SPIT SPITFIRE", A, P, 1, 0, "SUPERMARINE"},
    Family{"Camel", "CAMEL", "CAMEL", A, P, 1, 0, "SOPWITH"},
    Family{"Flyer", "FLYER", "FLYER", A, P, 1, 0, "WRIGHT"},
    Family{"Bell 206", "B206", "B206 JETRANGER LONGRANGER B407", R, H, 1, -1, "BELL"},
    Family{"Huey", "B206", "UH1 B205 B212 HUEY", R, H, 1, -1, "BELL"},
    Family{"Robinson", "R22", "R22 R44", R, P, 1, -1, "ROBINSON"},
    Family{"EC135", "EC", "EC135 BO105 EC145 EC120", R, H, 2, -1, "EUROCOPTER"},
    Family{"S-76", "S76", "S76 S92 UH60 BLACKHAWK", R, H, 2, -1, "SIKORSKY"},
    Family{"Sailplane", "GLIDER", "SGS232 ASK21 ASW28 DG808 LS8 DISCUS", Kind::Glider, G, 0, -1, "SCHWEIZER"},
};

// A maker's word and the letters it puts before a bare model number ("Fokker 100" is F100).
struct MakerWord {
    const char* word;
    const char* prefix; // nullptr: a bare number after it names nothing
};
constexpr std::array kMakers{
    MakerWord{"BOEING", ""}, MakerWord{"AIRBUS", "A"}, MakerWord{"FOKKER", "F"}, MakerWord{"CESSNA", "C"},
    MakerWord{"BELL", "B"}, MakerWord{"LEARJET", "LJ"}, MakerWord{"LEAR", "LJ"}, MakerWord{"EXTRA", "EA"},
    MakerWord{"BEECH", "BE"}, MakerWord{"BEECHCRAFT", "BE"}, MakerWord{"RAYTHEON", "BE"}, MakerWord{"PIPER", "PA"},
    MakerWord{"DOUGLAS", "DC"}, MakerWord{"MCDONNELL", "MD"}, MakerWord{"LOCKHEED", "L"},
    MakerWord{"EMBRAER", "E"}, MakerWord{"SAAB", "SAAB"}, MakerWord{"ATR", "ATR"}, MakerWord{"ROBINSON", "R"},
    MakerWord{"SIKORSKY", "S"}, MakerWord{"BOMBARDIER", nullptr}, MakerWord{"CANADAIR", nullptr},
    MakerWord{"DEHAVILLAND", "DHC"}, MakerWord{"HAVILLAND", "DHC"}, MakerWord{"SCHWEIZER", nullptr},
    MakerWord{"MOONEY", nullptr}, MakerWord{"SOPWITH", nullptr}, MakerWord{"NORTH", nullptr},
    MakerWord{"SUPERMARINE", nullptr}, MakerWord{"AEROSPATIALE", nullptr}, MakerWord{"EUROCOPTER", "EC"},
    MakerWord{"BAE", ""}, MakerWord{"AVRO", "RJ"}, MakerWord{"ILYUSHIN", "IL"}, MakerWord{"TUPOLEV", "TU"},
    MakerWord{"ANTONOV", "AN"}, MakerWord{"DORNIER", "DO"}, MakerWord{"PILATUS", "PC"}, MakerWord{"WRIGHT", nullptr},
    MakerWord{"GRUMMAN", nullptr}, MakerWord{"DASH", "DASH"}, MakerWord{"KING", nullptr},
};
// clang-format on

// Words that tell nothing of type or livery: generic words, and the names of groups that
// model or repaint aircraft for many airlines.
constexpr std::string_view kStopWords[] = {
    "AIR",   "AIRLINES", "AIRLINE", "AIRWAYS", "LINES",   "THE",     "OF",      "AND",   "DE",   "AIRCRAFT", "DEFAULT",
    "PAINT", "FS",       "FS2000",  "FS2002",  "SERIES",  "VERSION", "VC",      "PANEL", "WITH", "NEW",      "FREEWARE",
    "MODEL", "AIRPLANE", "POSKY",   "PROJECT", "OPENSKY", "AI",      "TRAFFIC", "IFDG",  "PAI",  "UTT"};

constexpr std::string_view kHelicopterWords[] = {"HELICOPTER", "HELI", "COPTER", "CHOPPER"};
constexpr std::string_view kGliderWords[] = {"GLIDER", "SAILPLANE", "SEGELFLUGZEUG"};

template <std::size_t N> bool among(const std::string_view (&list)[N], const QString& w) {
    const QByteArray b = w.toLatin1();
    const std::string_view v(b.constData(), static_cast<std::size_t>(b.size()));
    return std::find(std::begin(list), std::end(list), v) != std::end(list);
}

const MakerWord* makerOf(const QString& w) {
    for (const MakerWord& m : kMakers) {
        if (w == QLatin1String(m.word)) {
            return &m;
        }
    }
    return nullptr;
}

// Designator -> family, built once.
const QHash<QString, int>& familyByDesignator() {
    static const QHash<QString, int> table = [] {
        QHash<QString, int> t;
        for (int i = 0; i < static_cast<int>(kFamilies.size()); ++i) {
            for (const QString& d : QString::fromLatin1(kFamilies[static_cast<std::size_t>(i)].designators)
                                        .split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                t.insert(d, i);
            }
        }
        return t;
    }();
    return table;
}

const Family& family(int i) {
    return kFamilies[static_cast<std::size_t>(i)];
}

bool allLetters(const QString& s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c.isLetter(); });
}
bool allDigits(const QString& s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c.isDigit(); });
}
bool hasDigit(const QString& s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.isDigit(); });
}

// A registration such as N12345 or N345AB, which names one airframe, not a type.
bool isRegistration(const QString& s) {
    if (s.size() < 2 || s[0] != QLatin1Char('N') || !s[1].isDigit()) {
        return false;
    }
    qsizetype i = 1;
    while (i < s.size() && s[i].isDigit()) {
        ++i;
    }
    return s.size() - i <= 2;
}

// A Boeing jetliner's number: 7x7.
bool isBoeingNumber(const QString& s) {
    return s.size() == 3 && s[0] == QLatin1Char('7') && s[2] == QLatin1Char('7') && s[1].isDigit();
}

QString sizeName(int engines) {
    switch (engines) {
    case 1:
        return QStringLiteral("single");
    case 2:
        return QStringLiteral("twin");
    case 3:
        return QStringLiteral("three-engine");
    case 4:
        return QStringLiteral("four-engine");
    default:
        return {};
    }
}

QString kindName(Kind k) {
    switch (k) {
    case Kind::Helicopter:
        return QStringLiteral("helicopter");
    case Kind::Glider:
        return QStringLiteral("glider");
    case Kind::Airplane:
        break;
    }
    return QStringLiteral("airplane");
}

int sizeOfSpan(double feet) {
    if (!(feet > 0)) {
        return -1;
    }
    return feet < 50 ? 0 : (feet < 125 ? 1 : 2);
}

bool knownEngineType(int t) {
    return engineTypeOf(t).has_value();
}

std::int64_t key2(std::int64_t a, std::int64_t b) {
    return (a << 32) ^ (b & 0xffffffff);
}

// What a text says: the words of its type, maker and livery, its family and kind.
struct Parsed {
    int family = -1;
    std::optional<Kind> kind;
    QString familyWord; // the designator that named the family
    QString variant;    // e.g. "737-800"
    std::vector<std::pair<QString, WordKind>> words;
};

// The family of a designator, with Boeing's "B737" and the like read as "737".
int familyOf(const QString& d) {
    const auto& table = familyByDesignator();
    if (const auto it = table.constFind(d); it != table.cend()) {
        return *it;
    }
    if (d.size() == 4 && d[0] == QLatin1Char('B') && isBoeingNumber(d.mid(1))) {
        return familyOf(d.mid(1));
    }
    if (d.startsWith(QLatin1String("MD8"))) {
        return familyOf(QStringLiteral("MD80"));
    }
    if (d.startsWith(QLatin1String("CRJ"))) {
        return familyOf(QStringLiteral("CRJ"));
    }
    return -1;
}

// Whether a family has more than one designator, so that naming one of them says more than
// the family does.
bool severalModels(int f) {
    return QByteArray(family(f).designators).contains(' ');
}

void addDesignator(Parsed& p, const QString& base, const QString& variant) {
    const int f = familyOf(base);
    if (f >= 0) {
        if (p.family < 0) {
            p.family = f;
            p.familyWord = base;
        }
        if (severalModels(f)) {
            p.words.emplace_back(base, Model);
        }
        if (!variant.isEmpty()) {
            const QString v =
                (base.size() == 4 && base[0] == QLatin1Char('B') ? base.mid(1) : base) + QLatin1Char('-') + variant;
            if (p.variant.isEmpty()) {
                p.variant = v;
            }
            p.words.emplace_back(v, Variant);
        }
        return;
    }
    if (!isRegistration(base) && base.size() >= 2 && base.size() <= 8 && !allDigits(base)) {
        p.words.emplace_back(variant.isEmpty() ? base : base + QLatin1Char('-') + variant, Designator);
    }
}

// Splits "747SP" and "172SP" into the number and the letters after it.
std::pair<QString, QString> numberAndSuffix(const QString& s) {
    qsizetype i = 0;
    while (i < s.size() && !s[i].isDigit()) {
        ++i;
    }
    while (i < s.size() && s[i].isDigit()) {
        ++i;
    }
    return {s.left(i), s.mid(i)};
}

void parseInto(Parsed& p, const QString& text) {
    QString up = text.toUpper();
    for (QChar& c : up) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-')) {
            c = QLatin1Char(' ');
        }
    }
    // Names of two words.
    up.replace(QLatin1String("KING AIR"), QLatin1String("KINGAIR"));
    up.replace(QLatin1String("DASH 8"), QLatin1String("DASH8"));
    up.replace(QLatin1String("DASH 7"), QLatin1String("DASH7"));
    const QStringList tokens = up.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype t = 0; t < tokens.size(); ++t) {
        const QStringList parts = tokens[t].split(QLatin1Char('-'), Qt::SkipEmptyParts);
        if (parts.isEmpty()) {
            continue;
        }
        const QString& first = parts[0];
        if (parts.size() >= 2 && allLetters(first) && first.size() <= 3 && parts[1][0].isDigit()) {
            // DC-3, MD-82, C-47, PA-28, CRJ-200
            const auto [num, suffix] = numberAndSuffix(parts[1]);
            addDesignator(p, first + num, parts.size() >= 3 ? parts[2] : suffix);
            continue;
        }
        if (hasDigit(first)) {
            auto [num, suffix] = numberAndSuffix(first);
            QString variant = parts.size() >= 2 ? parts[1] : suffix;
            if (allDigits(num) && t > 0) {
                // "Fokker 100", "Cessna 172", "Bell 206B", "Boeing 737"
                if (const MakerWord* m = makerOf(tokens[t - 1]); m && m->prefix) {
                    addDesignator(p, QLatin1String(m->prefix) + num, variant);
                    continue;
                }
            }
            if (allDigits(num) && !isBoeingNumber(num)) {
                continue; // a bare number: a year, a flight number, a version
            }
            addDesignator(p, isBoeingNumber(num) ? num : first, isBoeingNumber(num) ? variant : QString());
            continue;
        }
        for (const QString& w : parts) {
            if (w.size() < 2 || among(kStopWords, w)) {
                continue;
            }
            if (among(kHelicopterWords, w)) {
                p.kind = Kind::Helicopter;
                continue;
            }
            if (among(kGliderWords, w)) {
                p.kind = Kind::Glider;
                continue;
            }
            if (makerOf(w)) {
                p.words.emplace_back(w, Maker);
                continue;
            }
            const int f = familyOf(w);
            if (f >= 0) {
                if (p.family < 0) {
                    p.family = f;
                    p.familyWord = w;
                }
                continue;
            }
            p.words.emplace_back(w, Livery);
        }
    }
}

QString folded(const QString& s) {
    return s.toCaseFolded();
}

// A remote title as it is compared: up to its first NUL, without surrounding blanks.
QString cleanTitle(const QString& title, bool* cut) {
    QString t = title;
    const qsizetype nul = t.indexOf(QChar(0));
    if (nul >= 0) {
        t.truncate(nul);
    }
    *cut = t.size() >= Matcher::kCutTitleChars;
    return t.trimmed();
}

} // namespace

struct Matcher::Features {
    int family = -1;
    Kind kind = Kind::Airplane;
    int engineType = -1;
    int engines = 0;
    int size = -1;
    QString variant;
    QString model;
    std::vector<std::pair<int, WordKind>> words; // known word ids, sorted, each once
};

Matcher::Features Matcher::featuresOf(const QString& text) const {
    Parsed p;
    parseInto(p, text);
    Features f;
    f.family = p.family;
    f.variant = p.variant;
    f.model = p.familyWord;
    if (p.family >= 0) {
        f.kind = (family(p.family).kind);
        f.engines = family(p.family).engines;
        f.size = family(p.family).size;
        f.engineType = family(p.family).engineType;
    } else if (p.kind) {
        f.kind = (*p.kind);
    }
    for (const auto& [w, k] : p.words) {
        const int id = wordId(w);
        if (id >= 0) {
            f.words.emplace_back(id, k);
        }
    }
    std::sort(f.words.begin(), f.words.end());
    f.words.erase(
        std::unique(f.words.begin(), f.words.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        f.words.end());
    return f;
}

int Matcher::wordId(const QString& word) const {
    return m_words.value(word, -1);
}

Matcher::Matcher(const Hangar& hangar) {
    const std::vector<Hangar::AircraftPtr> all = hangar.NewEnum();
    m_aircraft.reserve(all.size());
    m_sorted.reserve(all.size());
    for (int i = 0; i < static_cast<int>(all.size()); ++i) {
        const Aircraft& a = *all[static_cast<std::size_t>(i)];
        Parsed p;
        for (const QString* text :
             {&a.Title, &a.AtcModel, &a.Type, &a.AtcType, &a.Manufacturer, &a.Variation, &a.Airline}) {
            parseInto(p, *text);
        }
        Entry e;
        e.title = a.Title;
        e.family = p.family;
        const Family* fam = p.family >= 0 ? &family(p.family) : nullptr;
        e.engineType = a.EngineType >= 0 ? a.EngineType : (fam ? fam->engineType : -1);
        e.engines = a.EngineCount > 0 ? a.EngineCount : (fam ? fam->engines : 0);
        e.size = a.WingSpan > 0 ? sizeOfSpan(a.WingSpan) : (fam ? fam->size : -1);
        if (a.Category.trimmed().compare(QLatin1String("helicopter"), Qt::CaseInsensitive) == 0 || e.engineType == 3) {
            e.kind = Kind::Helicopter;
        } else if (fam) {
            e.kind = (fam->kind);
        } else if (p.kind) {
            e.kind = (*p.kind);
        } else if (e.engineType == 2) {
            e.kind = Kind::Glider;
        }
        if (e.kind == Kind::Helicopter) {
            e.size = -1; // a helicopter's wing span says nothing
        }
        for (const auto& [w, k] : p.words) {
            auto it = m_words.constFind(w);
            if (it == m_words.cend()) {
                it = m_words.insert(w, static_cast<int>(m_wordKind.size()));
                m_wordKind.push_back(k);
            }
            int* single = k == Maker ? &e.maker : (k == Variant ? &e.variant : (k == Model ? &e.model : nullptr));
            if (!single) {
                e.words.push_back(*it);
            } else if (*single < 0) {
                *single = *it;
            }
        }
        std::sort(e.words.begin(), e.words.end());
        e.words.erase(std::unique(e.words.begin(), e.words.end()), e.words.end());
        e.words.shrink_to_fit();
        const QString f = folded(a.Title);
        if (!m_exact.contains(f)) {
            m_exact.insert(f, i);
        }
        m_sorted.emplace_back(f, i);
        m_aircraft.push_back(std::move(e));
    }
    std::sort(m_sorted.begin(), m_sorted.end());
    for (int r = 0; r < static_cast<int>(m_sorted.size()); ++r) {
        m_aircraft[static_cast<std::size_t>(m_sorted[static_cast<std::size_t>(r)].second)].rank = r;
    }

    // The tables, filled in rank order so that the first of each class is its best.
    for (const auto& sorted : m_sorted) {
        const int i = sorted.second;
        const Entry& e = m_aircraft[static_cast<std::size_t>(i)];
        const int kind = static_cast<int>(e.kind);
        // Within a family the variant and model count too; outside it they never match.
        auto addTop = [&](std::vector<int>& tops, bool withType) {
            for (const int t : tops) {
                const Entry& o = m_aircraft[static_cast<std::size_t>(t)];
                if (o.kind == e.kind && o.engineType == e.engineType && o.engines == e.engines && o.size == e.size &&
                    o.maker == e.maker && (!withType || (o.variant == e.variant && o.model == e.model))) {
                    return;
                }
            }
            tops.push_back(i);
        };
        if (e.family >= 0) {
            addTop(m_familyClassTops[e.family], true);
            for (const int w : e.words) {
                m_familyWord[key2(e.family, w)].push_back(i);
            }
        }
        const std::int64_t ke = key2(kind, e.engineType);
        addTop(m_kindEngineClassTops[ke], false);
        addTop(m_kindClassTops[kind], false);
        for (const int w : e.words) {
            m_kindEngineWord[key2(ke, w)].push_back(i);
        }
    }
}

bool Matcher::isInstalled(const QString& title) const {
    bool cut = false;
    return m_exact.contains(folded(cleanTitle(title, &cut)));
}

int Matcher::score(const Entry& e, const Features& r, int relation, Hits& hits) {
    int s = relation;
    int livery = 0;
    bool maker = false;
    // Both word lists are sorted by id.
    auto it = e.words.begin();
    for (const auto& [id, kind] : r.words) {
        switch (kind) {
        case Maker:
            maker = maker || id == e.maker;
            continue;
        case Variant:
            hits.variant = hits.variant || id == e.variant;
            continue;
        case Model:
            hits.model = hits.model || id == e.model;
            continue;
        case Livery:
        case Designator:
            break;
        }
        it = std::lower_bound(it, e.words.end(), id);
        if (it == e.words.end() || *it != id) {
            continue;
        }
        if (kind == Livery) {
            ++livery;
        } else {
            hits.designator = true;
        }
    }
    if (hits.variant) {
        s += kSharedVariant;
    }
    if (hits.model) {
        s += kSharedModel;
    }
    if (hits.designator) {
        s += kSharedDesignator;
    }
    if (livery > 0) {
        hits.airline = true;
        s += kFirstLiveryWord + kFurtherLiveryWord * std::min(livery - 1, kMaxFurtherLiveryWords);
    }
    if (maker) {
        s += kSameMaker;
    }
    if (r.engineType >= 0 && e.engineType == r.engineType) {
        s += kSameEngineType;
    }
    if (r.engines > 0 && e.engines == r.engines) {
        s += kSameEngineCount;
    }
    if (r.size >= 0 && e.size == r.size) {
        s += kSameSize;
    }
    return s;
}

void Matcher::consider(int i, const Features& r, int relation, Match& best, int& bestRank) const {
    const Entry& e = m_aircraft[static_cast<std::size_t>(i)];
    if (e.kind != r.kind) {
        return;
    }
    Hits hits;
    const int s = score(e, r, relation, hits);
    if (best.index >= 0 && (s < best.score || (s == best.score && e.rank >= bestRank))) {
        return;
    }
    best.index = i;
    best.score = s;
    bestRank = e.rank;
    best.title = e.title;
    QString why;
    if (relation == kSameFamily) {
        why = hits.variant ? QStringLiteral("same type ") + r.variant
              : hits.model ? QStringLiteral("same type ") + r.model
                           : QStringLiteral("same family ") + QLatin1String(family(r.family).name);
    } else if (relation == kRelative) {
        why = QStringLiteral("related type ") + QLatin1String(family(e.family).name);
    } else if (hits.designator) {
        why = QStringLiteral("same designator");
    } else if (hits.airline) {
        why = QStringLiteral("same airline");
    }
    if (!why.isEmpty() && why != QLatin1String("same airline") && hits.airline) {
        why += QStringLiteral(" and airline");
    }
    if (why.isEmpty()) {
        why = QStringLiteral("same class: ") + engineTypeName(e.engineType);
        if (r.engines > 0 && e.engines == r.engines) {
            why += QLatin1Char(' ') + sizeName(e.engines);
        }
    }
    best.reason = why;
}

Matcher::Match Matcher::match(const QString& title, int engineType) const {
    bool cut = false;
    const QString clean = cleanTitle(title, &cut);
    Match best;
    best.title = title;
    if (clean.isEmpty()) {
        best.reason = QStringLiteral("no title");
        return best;
    }
    const QString f = folded(clean);
    if (const auto it = m_exact.constFind(f); it != m_exact.cend()) {
        return {*it, m_aircraft[static_cast<std::size_t>(*it)].title, QStringLiteral("same title"), kExactScore,
                Stage::Exact};
    }
    if (cut) {
        // The sender cut a longer title: one installed title that starts with it is that one.
        auto lo = std::lower_bound(m_sorted.begin(), m_sorted.end(), std::make_pair(f, -1));
        if (lo != m_sorted.end() && lo->first.startsWith(f)) {
            auto next = lo + 1;
            while (next != m_sorted.end() && next->first == lo->first) {
                ++next;
            }
            if (next == m_sorted.end() || !next->first.startsWith(f)) {
                return {lo->second, m_aircraft[static_cast<std::size_t>(lo->second)].title,
                        QStringLiteral("prefix of installed title"), kPrefixScore, Stage::Prefix};
            }
        }
    }

    Features r = featuresOf(clean);
    if (r.family < 0 && knownEngineType(engineType)) {
        if (engineType == 3) {
            r.kind = Kind::Helicopter;
        } else if (engineType == 2 && r.kind == Kind::Airplane) {
            r.kind = Kind::Glider;
        }
    }
    if (knownEngineType(engineType)) {
        r.engineType = engineType;
    }
    if (r.family < 0 && r.engineType == 0 && r.kind == Kind::Airplane) {
        // Most piston airplanes are light singles.
        r.engines = 1;
        r.size = 0;
    }
    int bestRank = 0;

    // By type: the family and its relatives.
    if (r.family >= 0) {
        const char* group = family(r.family).group;
        for (int fam = 0; fam < static_cast<int>(kFamilies.size()); ++fam) {
            const bool same = fam == r.family;
            if (!same && std::string_view(family(fam).group) != group) {
                continue;
            }
            const auto tops = m_familyClassTops.find(fam);
            if (tops == m_familyClassTops.end()) {
                continue;
            }
            const int relation = same ? kSameFamily : kRelative;
            for (const int i : tops->second) {
                consider(i, r, relation, best, bestRank);
            }
            for (const auto& [id, kind] : r.words) {
                if (const auto w = m_familyWord.find(key2(fam, id)); w != m_familyWord.end()) {
                    for (const int i : w->second) {
                        consider(i, r, relation, best, bestRank);
                    }
                }
            }
        }
        if (best.index >= 0) {
            best.stage = Stage::Type;
            return best;
        }
    }

    // By class: the same kind and engine type, and what shares a word with the title.
    const int kind = static_cast<int>(r.kind);
    const std::int64_t ke = key2(kind, r.engineType);
    if (const auto tops = m_kindEngineClassTops.find(ke); tops != m_kindEngineClassTops.end()) {
        for (const int i : tops->second) {
            consider(i, r, 0, best, bestRank);
        }
        for (const auto& [id, wk] : r.words) {
            if (const auto w = m_kindEngineWord.find(key2(ke, id)); w != m_kindEngineWord.end()) {
                for (const int i : w->second) {
                    consider(i, r, 0, best, bestRank);
                }
            }
        }
    }
    if (best.index >= 0) {
        best.stage = Stage::Class;
        return best;
    }

    // The nearest of the same kind.
    if (const auto tops = m_kindClassTops.find(kind); tops != m_kindClassTops.end()) {
        for (const int i : tops->second) {
            consider(i, r, 0, best, bestRank);
        }
    }
    if (best.index >= 0) {
        best.stage = Stage::Kind;
        best.reason = QStringLiteral("same kind: ") + kindName(r.kind);
        return best;
    }
    best.reason = QStringLiteral("no installed ") + kindName(r.kind);
    return best;
}

std::size_t Matcher::memoryBytes() const {
    auto str = [](const QString& s) { return static_cast<std::size_t>(s.capacity()) * sizeof(QChar) + 32; };
    std::size_t n = sizeof(*this);
    for (const Entry& e : m_aircraft) {
        n += sizeof(Entry) + str(e.title) + e.words.capacity() * sizeof(int);
    }
    n += m_sorted.capacity() * sizeof(m_sorted[0]);
    for (const auto& [f, i] : m_sorted) {
        n += str(f);
    }
    // A hash node: the key, the value and the table's own pointers.
    constexpr std::size_t node = 3 * sizeof(void*);
    n += static_cast<std::size_t>(m_exact.size()) * (sizeof(QString) + sizeof(int) + node);
    for (auto it = m_words.cbegin(); it != m_words.cend(); ++it) {
        n += str(it.key()) + sizeof(int) + node;
    }
    n += m_wordKind.capacity();
    auto lists = [&](const auto& map) {
        for (const auto& [k, v] : map) {
            n += sizeof(k) + sizeof(v) + node + v.capacity() * sizeof(int);
        }
    };
    lists(m_familyWord);
    lists(m_kindEngineWord);
    lists(m_familyClassTops);
    lists(m_kindEngineClassTops);
    lists(m_kindClassTops);
    return n;
}

} // namespace hangar
} // namespace airmesh
