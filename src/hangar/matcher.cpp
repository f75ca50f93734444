#include "matcher.h"

#include "aircrafttypes.h"
#include "core/enginetype.h"

#include <QSet>

#include <algorithm>
#include <optional>
#include <string_view>

namespace airmesh {
inline namespace hangar {

namespace {

using Kind = Matcher::Kind;

// What a word of a title is to the matcher beyond its type.
enum WordKind : std::uint8_t { Livery, Designator };

// Scores. A type relation outweighs everything else together, a shared designator outweighs
// the airline, the airline outweighs the class, the class the era, the era the manufacturer.
constexpr int kSameType = 900;
constexpr int kSameFamily = 800;
constexpr int kSharedDesignator = 300;
constexpr int kFirstLiveryWord = 40;
constexpr int kFurtherLiveryWord = 10;
constexpr int kMaxFurtherLiveryWords = 2;
constexpr int kSameEngineType = 16;
constexpr int kSameEngineCount = 12;
constexpr int kSameSize = 8;
constexpr int kMaxEra = 6; // for the same year; one less per 8 years apart
constexpr int kEraYears = 8;
constexpr int kSameMaker = 3;
constexpr int kExactScore = 10000;
constexpr int kPrefixScore = 9000;

constexpr int kFastJet = static_cast<int>(Role::FastJet);

// Words that tell nothing of type or livery: generic words, and the names of groups that
// model or repaint aircraft for many airlines.
constexpr std::string_view kStopWords[] = {
    "AIR",   "AIRLINES", "AIRLINE", "AIRWAYS", "LINES",   "THE",     "OF",      "AND",   "DE",   "AIRCRAFT", "DEFAULT",
    "PAINT", "FS",       "FS2000",  "FS2002",  "SERIES",  "VERSION", "VC",      "PANEL", "WITH", "NEW",      "FREEWARE",
    "MODEL", "AIRPLANE", "POSKY",   "PROJECT", "OPENSKY", "AI",      "TRAFFIC", "IFDG",  "PAI",  "UTT"};

constexpr std::string_view kHelicopterWords[] = {"HELICOPTER", "HELI", "COPTER", "CHOPPER"};
constexpr std::string_view kGliderWords[] = {"GLIDER", "SAILPLANE", "SEGELFLUGZEUG"};

// The aircraft FS2000 and FS2002 ship, by engine type code, for a remote aircraft without a title.
constexpr std::array<const char*, 6> kFsDefaults{"Cessna Skyhawk 172SP", "Boeing 737-400", "Schweizer 2-32 Sailplane",
                                                 "Bell 206B JetRanger",  nullptr,          "Beech King Air 350"};

template <std::size_t N> bool among(const std::string_view (&list)[N], const QString& w) {
    const QByteArray b = w.toLatin1();
    const std::string_view v(b.constData(), static_cast<std::size_t>(b.size()));
    return std::find(std::begin(list), std::end(list), v) != std::end(list);
}

const AircraftTypes& types() {
    return AircraftTypes::builtIn();
}

bool isLetterWord(const QString& w) {
    return !w.isEmpty() && w[0].isLetter();
}
bool isDigitWord(const QString& w) {
    return !w.isEmpty() && w[0].isDigit();
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

// "2 jets", "1 piston".
QString enginesText(int engines, int engineType) {
    return QString::number(engines) + QLatin1Char(' ') + engineTypeName(engineType) +
           (engines == 1 ? QString() : QStringLiteral("s"));
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

Kind kindOf(TypeKind k) {
    switch (k) {
    case TypeKind::Helicopter:
        return Kind::Helicopter;
    case TypeKind::Glider:
        return Kind::Glider;
    case TypeKind::Aeroplane:
    case TypeKind::Amphibian:
        break;
    }
    return Kind::Airplane;
}

// What the table says of a type, into a remote title's features or an installed aircraft's entry.
template <class Into> void takeType(Into& into, const AircraftType& a, int row) {
    into.row = row;
    into.family = a.familyId;
    into.role = static_cast<int>(a.role);
    into.year = a.year;
    into.kind = kindOf(a.kind);
    into.engineType = a.engineType;
    into.engines = a.engines;
    into.size = a.size;
}

TypeKind typeKindOf(Kind k) {
    return k == Kind::Helicopter ? TypeKind::Helicopter : (k == Kind::Glider ? TypeKind::Glider : TypeKind::Aeroplane);
}

// The kind a remote aircraft of this engine type code and no other clue is.
Kind kindOfEngine(int engineType) {
    return engineType == engineCode(EngineType::HeloTurbine)
               ? Kind::Helicopter
               : (engineType == engineCode(EngineType::None) ? Kind::Glider : Kind::Airplane);
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

bool isCivil(int role) {
    switch (static_cast<Role>(role)) {
    case Role::FastJet:
    case Role::MilitaryTransport:
    case Role::Warbird:
    case Role::MilitaryHelicopter:
        return false;
    default:
        return true;
    }
}

// Whether showing one as the other crosses the line between military fast jets and civil
// aircraft; an unknown role crosses nothing.
bool crossesLine(int a, int b) {
    if (a < 0 || b < 0 || (a == kFastJet) == (b == kFastJet)) {
        return false;
    }
    return isCivil(a == kFastJet ? b : a);
}

std::int64_t key(std::int64_t group, std::int64_t word) {
    return (group << 32) ^ (word & 0xffffffff);
}
// A group of kind, role, engine type and count: each fits in its bits.
std::int64_t group(Kind kind, int role, int engineType, int engines) {
    return static_cast<std::int64_t>(kind) | static_cast<std::int64_t>(role + 1) << 2 |
           static_cast<std::int64_t>(engineType + 1) << 8 | static_cast<std::int64_t>(engines) << 12;
}

// A text's words beyond its type: livery words, and designators the table does not know
// ("Z-37" is Z37).
void wordsOf(const AircraftTypes::Found& f, std::vector<std::pair<QString, WordKind>>& out, std::optional<Kind>* kind) {
    const qsizetype n = f.words.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (f.covered[static_cast<std::size_t>(i)]) {
            continue;
        }
        const QString& w = f.words[i];
        if (!isLetterWord(w)) {
            continue;
        }
        const bool nextDigits = i + 1 < n && !f.covered[static_cast<std::size_t>(i + 1)] && isDigitWord(f.words[i + 1]);
        if (nextDigits && w.size() <= 3 && w != QLatin1String("N")) {
            out.emplace_back(w + f.words[i + 1], Designator);
            ++i;
            continue;
        }
        if (w.size() < 2 || among(kStopWords, w)) {
            continue;
        }
        if (among(kHelicopterWords, w)) {
            *kind = Kind::Helicopter;
        } else if (among(kGliderWords, w)) {
            *kind = Kind::Glider;
        } else {
            out.emplace_back(w, Livery);
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

bool better(const AircraftTypes::Found& a, const AircraftTypes::Found& b) {
    using By = AircraftTypes::Found::By;
    auto strength = [](By by) { return by == By::Name ? 3 : (by == By::Designator ? 2 : (by == By::Maker ? 1 : 0)); };
    if (strength(a.by) != strength(b.by)) {
        return strength(a.by) > strength(b.by);
    }
    return a.by == By::Name && a.weight > b.weight;
}

} // namespace

struct Matcher::Features {
    int row = -1;
    int family = -1;
    int role = -1;
    int year = 0;
    Kind kind = Kind::Airplane;
    int engineType = -1;
    int engines = 0;
    int size = -1;
    int maker = -1;
    std::vector<std::pair<int, WordKind>> words; // known word ids, sorted, each once
};

Matcher::Features Matcher::featuresOf(const QString& text, int engineType) const {
    const AircraftTypes& t = types();
    const AircraftTypes::Found found = t.classify(text);
    Features f;
    std::optional<Kind> kindWord;
    std::vector<std::pair<QString, WordKind>> words;
    wordsOf(found, words, &kindWord);
    f.maker = found.maker;
    if (found.row >= 0) {
        takeType(f, t.at(found.row), found.row);
    } else {
        f.role = found.role;
        f.engineType = found.engineType;
        if (found.kind >= 0) {
            f.kind = kindOf(static_cast<TypeKind>(found.kind));
        } else if (kindWord) {
            f.kind = *kindWord;
        } else if (knownEngineType(engineType)) {
            f.kind = kindOfEngine(engineType);
        }
    }
    if (knownEngineType(engineType)) {
        f.engineType = engineType;
    }
    if (f.row < 0 && f.role < 0 && f.engineType == engineCode(EngineType::Piston) && f.kind == Kind::Airplane) {
        // Most piston airplanes are light singles.
        f.engines = 1;
        f.size = 0;
    }
    for (const auto& [w, k] : words) {
        const int id = m_words.value(w, -1);
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

Matcher::Matcher(const Hangar& hangar) {
    const AircraftTypes& t = types();
    const std::vector<Hangar::AircraftPtr> all = hangar.NewEnum();
    m_aircraft.reserve(all.size());
    m_sorted.reserve(all.size());
    for (int i = 0; i < static_cast<int>(all.size()); ++i) {
        const Aircraft& a = *all[static_cast<std::size_t>(i)];
        const bool helicopterFile = a.Category.trimmed().compare(QLatin1String("helicopter"), Qt::CaseInsensitive) == 0;
        const int fileEngine = knownEngineType(a.EngineType) ? a.EngineType : -1;
        // The type: the surest reading of its texts that agrees with the file's engines and kind,
        // the variant's own texts first, since the variants of one file share its atc_model.
        AircraftTypes::Found type;
        AircraftTypes::Found title;
        for (const QString* text : {&a.Title, &a.Type, &a.AtcModel, &a.AtcType}) {
            AircraftTypes::Found f = t.classify(*text, fileEngine);
            if (f.row >= 0 && helicopterFile != (t.at(f.row).kind == TypeKind::Helicopter)) {
                f = t.classify(QString(), -1);
            }
            if (text == &a.Title) {
                title = f;
            }
            if (better(f, type)) {
                type = std::move(f);
            }
        }
        Entry e;
        e.title = a.Title;
        std::optional<Kind> kindWord;
        std::vector<std::pair<QString, WordKind>> words;
        wordsOf(title, words, &kindWord);
        for (const QString* text : {&a.Variation, &a.Airline}) {
            wordsOf(t.classify(*text), words, &kindWord);
        }
        e.maker = type.maker >= 0 ? type.maker : t.classify(a.Manufacturer).maker;
        if (type.row >= 0) {
            takeType(e, t.at(type.row), type.row);
        } else {
            e.engineType = fileEngine;
            e.engines = a.EngineCount;
            e.size = sizeOfSpan(a.WingSpan);
            e.role = type.role;
            if (helicopterFile || e.engineType == engineCode(EngineType::HeloTurbine)) {
                e.kind = Kind::Helicopter;
            } else if (type.kind >= 0) {
                e.kind = kindOf(static_cast<TypeKind>(type.kind));
            } else if (kindWord) {
                e.kind = *kindWord;
            } else if (e.engineType == engineCode(EngineType::None)) {
                e.kind = Kind::Glider;
            }
            if (e.kind == Kind::Helicopter) {
                e.size = -1; // a helicopter's wing span says nothing
            }
        }
        for (const auto& [w, k] : words) {
            auto it = m_words.constFind(w);
            if (it == m_words.cend()) {
                it = m_words.insert(w, static_cast<int>(m_words.size()));
            }
            e.words.push_back(*it);
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

    // The tables, filled in rank order so that the first of each class is its best. Of aircraft
    // alike in all the matching reads, only the first goes in: the others never score more.
    m_default.fill(-1);
    QSet<QByteArray> seen;
    for (const auto& sorted : m_sorted) {
        const int i = sorted.second;
        const Entry& e = m_aircraft[static_cast<std::size_t>(i)];
        if (knownEngineType(e.engineType) && m_default[static_cast<std::size_t>(e.engineType)] < 0 &&
            e.kind == kindOfEngine(e.engineType)) {
            m_default[static_cast<std::size_t>(e.engineType)] = i;
        }
        std::vector<int> sig{static_cast<int>(e.kind), e.row, e.role, e.engineType, e.engines, e.size, e.maker};
        sig.insert(sig.end(), e.words.begin(), e.words.end());
        const QByteArray s(reinterpret_cast<const char*>(sig.data()), static_cast<qsizetype>(sig.size() * sizeof(int)));
        if (seen.contains(s)) {
            continue;
        }
        seen.insert(s);
        if (e.family >= 0) {
            add(m_byFamily, e.family, i);
        }
        if (e.role >= 0) {
            add(m_byRoleCount, group(e.kind, e.role, e.engineType, e.engines), i);
            add(m_byRole, group(e.kind, e.role, e.engineType, 0), i);
        }
        add(m_byKindEngine, group(e.kind, -1, e.engineType, 0), i);
        add(m_byKind, group(e.kind, -1, -1, 0), i);
    }
    for (std::size_t code = 0; code < kFsDefaults.size(); ++code) {
        if (kFsDefaults[code] != nullptr) {
            if (const auto it = m_exact.constFind(folded(QLatin1String(kFsDefaults[code]))); it != m_exact.cend()) {
                m_default[code] = *it;
            }
        }
    }
}

void Matcher::add(Stage2& stage, std::int64_t g, int i) {
    const Entry& e = m_aircraft[static_cast<std::size_t>(i)];
    std::vector<int>& tops = stage.tops[g];
    const bool classSeen = std::any_of(tops.begin(), tops.end(), [&](int t) {
        const Entry& o = m_aircraft[static_cast<std::size_t>(t)];
        return o.kind == e.kind && o.row == e.row && o.role == e.role && o.engineType == e.engineType &&
               o.engines == e.engines && o.size == e.size && o.maker == e.maker;
    });
    if (!classSeen) {
        tops.push_back(i);
    }
    for (const int w : e.words) {
        stage.byWord[key(g, w)].push_back(i);
    }
}

bool Matcher::isInstalled(const QString& title) const {
    bool cut = false;
    return m_exact.contains(folded(cleanTitle(title, &cut)));
}

int Matcher::score(const Entry& e, const Features& r, int relation, Hits& hits) {
    int s = relation;
    int livery = 0;
    // Both word lists are sorted by id.
    auto it = e.words.begin();
    for (const auto& [id, kind] : r.words) {
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
    if (hits.designator) {
        s += kSharedDesignator;
    }
    if (livery > 0) {
        hits.airline = true;
        s += kFirstLiveryWord + kFurtherLiveryWord * std::min(livery - 1, kMaxFurtherLiveryWords);
    }
    if (r.maker >= 0 && e.maker == r.maker) {
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
    if (r.year > 0 && e.year > 0) {
        s += std::max(0, kMaxEra - std::abs(r.year - e.year) / kEraYears);
    }
    return s;
}

void Matcher::consider(int i, const Features& r, int relation, Match& best, int& bestRank, Hits& bestHits) const {
    const Entry& e = m_aircraft[static_cast<std::size_t>(i)];
    if (e.kind != r.kind || crossesLine(e.role, r.role)) {
        return;
    }
    Hits hits;
    const int s = score(e, r, relation, hits);
    if (best.index >= 0 && (s < best.score || (s == best.score && e.rank >= bestRank))) {
        return;
    }
    best.index = i;
    best.score = s;
    best.title = e.title;
    bestRank = e.rank;
    bestHits = hits;
}

bool Matcher::considerAll(const Stage2& stage, std::int64_t g, const Features& r, int relation, Match& best,
                          int& bestRank, Hits& bestHits) const {
    if (const auto tops = stage.tops.find(g); tops != stage.tops.end()) {
        for (const int i : tops->second) {
            const int rel =
                relation == kSameFamily && m_aircraft[static_cast<std::size_t>(i)].row == r.row ? kSameType : relation;
            consider(i, r, rel, best, bestRank, bestHits);
        }
    }
    for (const auto& [id, wk] : r.words) {
        if (const auto w = stage.byWord.find(key(g, id)); w != stage.byWord.end()) {
            for (const int i : w->second) {
                const int rel = relation == kSameFamily && m_aircraft[static_cast<std::size_t>(i)].row == r.row
                                    ? kSameType
                                    : relation;
                consider(i, r, rel, best, bestRank, bestHits);
            }
        }
    }
    return best.index >= 0;
}

Matcher::Match Matcher::fallback(int engineType) const {
    const std::size_t code = knownEngineType(engineType) ? static_cast<std::size_t>(engineType) : 0;
    const int i = m_default[code];
    if (i < 0) {
        return {};
    }
    const QString& title = m_aircraft[static_cast<std::size_t>(i)].title;
    const bool fs =
        kFsDefaults[code] != nullptr && title.compare(QLatin1String(kFsDefaults[code]), Qt::CaseInsensitive) == 0;
    return {i, title,
            QStringLiteral("no title: ") + (fs ? QStringLiteral("FS default ") : QStringLiteral("first ")) +
                engineTypeName(static_cast<int>(code)),
            0, Stage::Default};
}

Matcher::Match Matcher::match(const QString& title, int engineType) const {
    bool cut = false;
    const QString clean = cleanTitle(title, &cut);
    Match best;
    best.title = title;
    if (clean.isEmpty()) {
        Match m = fallback(engineType);
        if (m.index >= 0) {
            return m;
        }
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

    const Features r = featuresOf(clean, engineType);
    const AircraftTypes& t = types();
    const TypeKind tk = r.row >= 0 ? t.at(r.row).kind : typeKindOf(r.kind);
    int bestRank = 0;
    Hits hits;
    auto withAirline = [&](const QString& why) { return hits.airline ? why + QStringLiteral(" and airline") : why; };

    // By type: the same type, then the same family.
    if (r.family >= 0 && considerAll(m_byFamily, r.family, r, kSameFamily, best, bestRank, hits)) {
        const Entry& e = m_aircraft[static_cast<std::size_t>(best.index)];
        best.stage = Stage::Type;
        best.reason = withAirline(e.row == r.row ? QStringLiteral("same type ") + t.at(r.row).names.front()
                                                 : QStringLiteral("same family ") + t.at(r.row).family);
        return best;
    }
    // By role: with the same engine type and count, then with the same engine type.
    if (r.role >= 0 && r.engineType >= 0) {
        const QString role = AircraftTypes::roleName(static_cast<Role>(r.role), tk, r.engineType);
        if (r.engines > 0 &&
            considerAll(m_byRoleCount, group(r.kind, r.role, r.engineType, r.engines), r, 0, best, bestRank, hits)) {
            best.stage = Stage::Role;
            best.reason =
                QStringLiteral("same role: ") + role + QStringLiteral(", ") + enginesText(r.engines, r.engineType);
            return best;
        }
        if (considerAll(m_byRole, group(r.kind, r.role, r.engineType, 0), r, 0, best, bestRank, hits)) {
            best.stage = Stage::Role;
            best.reason = QStringLiteral("same role: ") + role + QStringLiteral(", ") + engineTypeName(r.engineType);
            return best;
        }
    }
    // By class: the same kind and engine type, and what shares a word with the title.
    if (considerAll(m_byKindEngine, group(r.kind, -1, r.engineType, 0), r, 0, best, bestRank, hits)) {
        best.stage = Stage::Class;
        if (hits.designator) {
            best.reason = QStringLiteral("same designator");
        } else if (hits.airline) {
            best.reason = QStringLiteral("same airline");
        } else {
            const Entry& e = m_aircraft[static_cast<std::size_t>(best.index)];
            best.reason = QStringLiteral("same class: ") + engineTypeName(e.engineType);
            if (r.engines > 0 && e.engines == r.engines) {
                best.reason += QLatin1Char(' ') + sizeName(e.engines);
            }
        }
        return best;
    }
    // The nearest of the same kind.
    const auto kindTops = m_byKind.tops.find(group(r.kind, -1, -1, 0));
    if (considerAll(m_byKind, group(r.kind, -1, -1, 0), r, 0, best, bestRank, hits)) {
        best.stage = Stage::Kind;
        best.reason = QStringLiteral("same kind: ") + kindName(r.kind);
        return best;
    }
    if (kindTops == m_byKind.tops.end()) {
        best.reason = QStringLiteral("no installed ") + kindName(r.kind);
    } else {
        best.reason = r.role == kFastJet ? QStringLiteral("no installed military fast jet")
                                         : QStringLiteral("no installed civil ") + kindName(r.kind);
    }
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
    auto lists = [&](const Table& map) {
        for (const auto& [k, v] : map) {
            n += sizeof(k) + sizeof(std::vector<int>) + node + v.capacity() * sizeof(int);
        }
    };
    for (const Stage2* s : {&m_byFamily, &m_byRoleCount, &m_byRole, &m_byKindEngine, &m_byKind}) {
        lists(s->tops);
        lists(s->byWord);
    }
    // The type table, shared by every index.
    return n + types().memoryBytes();
}

} // namespace hangar
} // namespace airmesh
