#include "aircrafttypes.h"

#include "core/enginetype.h"

#include <QSet>

#include <algorithm>
#include <array>
#include <string>

namespace airmesh {
inline namespace hangar {

// The table's text, cut into pieces short enough for any compiler's string literals
// (aircrafttypes_data.cpp, written at configure time from aircrafttypes.txt).
extern const std::string_view kAircraftTypesPieces[];
extern const std::size_t kAircraftTypesPieceCount;

namespace {

constexpr int kMaxEngines = 12;
constexpr int kFirstYear = 1890;
constexpr int kLastYear = 2030;
constexpr qsizetype kMaxDesignator = 5;
constexpr int kMaxNameWords = 3; // a designator is at most this many words: "DH8D" is DH, 8, D

constexpr std::array kRoleKeys{"airliner",  "regional", "business", "fastjet", "military", "warbird", "vintage",
                               "aerobatic", "trainer",  "single",   "twin",    "utility",  "milhelo", "glider"};
static_assert(kRoleKeys.size() == kRoles);
constexpr std::array kKindKeys{"aeroplane", "helicopter", "glider", "amphibian"};

struct EngineKey {
    const char* key;
    EngineType type;
};
constexpr std::array kEngineKeys{EngineKey{"piston", EngineType::Piston}, EngineKey{"jet", EngineType::Jet},
                                 EngineKey{"none", EngineType::None}, EngineKey{"turbine", EngineType::HeloTurbine},
                                 EngineKey{"turboprop", EngineType::Turboprop}};

template <std::size_t N> int keyIndex(const std::array<const char*, N>& keys, const QString& s) {
    for (std::size_t i = 0; i < N; ++i) {
        if (s == QLatin1String(keys[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int engineOfKey(const QString& s) {
    for (const EngineKey& e : kEngineKeys) {
        if (s == QLatin1String(e.key)) {
            return engineCode(e.type);
        }
    }
    return -1;
}

int sizeOfKey(const QString& s) {
    if (s == QLatin1String("light")) {
        return 0;
    }
    if (s == QLatin1String("medium")) {
        return 1;
    }
    return s == QLatin1String("heavy") ? 2 : -1;
}

bool isDigitWord(const QString& w) {
    return !w.isEmpty() && w[0].isDigit();
}

// A name's weight: its words, a word of digits counting twice, since a number names a type
// more surely than a word does ("Falcon 50" over "Falcon", "F-16" over "Falcon"); the maker's
// words count nothing, since they name no type ("Citation X" over "Cessna Citation").
int weightOf(const std::vector<QString>& words, const QSet<QString>& makerWords) {
    int w = 0;
    for (const QString& s : words) {
        w += makerWords.contains(s) ? 0 : (isDigitWord(s) ? 2 : 1);
    }
    return w;
}

int lettersOf(const std::vector<QString>& words) {
    int n = 0;
    for (const QString& s : words) {
        n += static_cast<int>(s.size());
    }
    return n;
}

// Which of two names that fit says more: the weight, then the words (the maker's among them:
// "Piper Dakota" over "Dakota"), then the letters.
bool heavier(int weightA, std::size_t wordsA, int lettersA, int weightB, std::size_t wordsB, int lettersB) {
    if (weightA != weightB) {
        return weightA > weightB;
    }
    return wordsA != wordsB ? wordsA > wordsB : lettersA > lettersB;
}

std::vector<QString> wordVector(const QString& text) {
    const QStringList w = AircraftTypes::words(text);
    return {w.begin(), w.end()};
}

QString joined(const std::vector<QString>& words) {
    QString s;
    for (const QString& w : words) {
        if (!s.isEmpty()) {
            s += QLatin1Char(' ');
        }
        s += w;
    }
    return s;
}

bool isDesignator(const QString& d) {
    return d.size() >= 2 && d.size() <= kMaxDesignator &&
           std::all_of(d.begin(), d.end(), [](QChar c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// Whether the words from `at` are those of the name.
bool holds(const QStringList& words, qsizetype at, const std::vector<QString>& name) {
    if (at + static_cast<qsizetype>(name.size()) > words.size()) {
        return false;
    }
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (words[at + static_cast<qsizetype>(k)] != name[k]) {
            return false;
        }
    }
    return true;
}

} // namespace

QStringList AircraftTypes::words(const QString& text) {
    QStringList out;
    QString cur;
    int curDigits = -1; // -1 none, 0 letters, 1 digits
    for (const QChar c : text) {
        const int d = c.isDigit() ? 1 : (c.isLetter() ? 0 : -1);
        if (d != curDigits && !cur.isEmpty()) {
            out.append(cur.toUpper());
            cur.clear();
        }
        curDigits = d;
        if (d >= 0) {
            cur += c;
        }
    }
    if (!cur.isEmpty()) {
        out.append(cur.toUpper());
    }
    return out;
}

const char* AircraftTypes::roleKey(Role role) {
    return kRoleKeys[static_cast<std::size_t>(role)];
}

QString AircraftTypes::roleName(Role role, TypeKind kind, int engineType) {
    switch (role) {
    case Role::Airliner:
        return QStringLiteral("airliner");
    case Role::Regional:
        return QStringLiteral("regional airliner");
    case Role::Business:
        return engineType == engineCode(EngineType::Jet)         ? QStringLiteral("business jet")
               : engineType == engineCode(EngineType::Turboprop) ? QStringLiteral("business turboprop")
                                                                 : QStringLiteral("business aircraft");
    case Role::FastJet:
        return QStringLiteral("military fast jet");
    case Role::MilitaryTransport:
        return QStringLiteral("military transport or bomber");
    case Role::Warbird:
        return QStringLiteral("warbird");
    case Role::Vintage:
        return QStringLiteral("vintage aircraft");
    case Role::Aerobatic:
        return QStringLiteral("aerobatic aircraft");
    case Role::Trainer:
        return QStringLiteral("trainer");
    case Role::GaSingle:
        return QStringLiteral("GA single");
    case Role::GaTwin:
        return QStringLiteral("GA twin");
    case Role::Utility:
        return kind == TypeKind::Helicopter ? QStringLiteral("utility helicopter")
                                            : QStringLiteral("utility or bush aircraft");
    case Role::MilitaryHelicopter:
        return QStringLiteral("military helicopter");
    case Role::Glider:
        break;
    }
    return QStringLiteral("glider");
}

const AircraftTypes& AircraftTypes::builtIn() {
    static const AircraftTypes table = [] {
        std::string text;
        for (std::size_t i = 0; i < kAircraftTypesPieceCount; ++i) {
            text += kAircraftTypesPieces[i];
        }
        return AircraftTypes(text);
    }();
    return table;
}

AircraftTypes::AircraftTypes(std::string_view text) {
    int lineNo = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        ++lineNo;
        QString line = QString::fromUtf8(text.data() + at, static_cast<qsizetype>(end - at));
        at = end + 1;
        if (const qsizetype hash = line.indexOf(QLatin1Char('#')); hash >= 0) {
            line.truncate(hash);
        }
        line = line.trimmed();
        if (!line.isEmpty()) {
            addRow(line, lineNo);
        }
    }
    index();
}

void AircraftTypes::addRow(const QString& line, int lineNo) {
    const QStringList f = line.split(QLatin1Char('|'));
    auto fail = [&](const QString& why) { m_errors << QStringLiteral("line %1: %2").arg(lineNo).arg(why); };
    if (f.size() != 10) {
        fail(QStringLiteral("%1 fields, not 10").arg(f.size()));
        return;
    }
    auto field = [&](int i) { return f[i].trimmed(); };
    AircraftType t;
    t.designator = field(0) == QLatin1String("-") ? QString() : field(0);
    if (!t.designator.isEmpty() && !isDesignator(t.designator)) {
        fail(QStringLiteral("designator %1 is not 2 to 5 capitals and digits").arg(t.designator));
        return;
    }
    for (const QString& m : field(1).split(QLatin1Char(','))) {
        if (!words(m).isEmpty()) {
            t.makers << m.trimmed();
        }
    }
    const int kind = keyIndex(kKindKeys, field(3));
    t.engineType = engineOfKey(field(4));
    bool engOk = false;
    t.engines = field(5).toInt(&engOk);
    t.size = sizeOfKey(field(6));
    const int role = keyIndex(kRoleKeys, field(7));
    bool yearOk = false;
    t.year = field(8).toInt(&yearOk);
    for (const QString& n : field(9).split(QLatin1Char(';'))) {
        if (!words(n).isEmpty()) {
            t.names << n.trimmed();
        }
    }
    if (t.makers.isEmpty() || t.names.isEmpty()) {
        fail(QStringLiteral("no maker or no name"));
        return;
    }
    if (kind < 0 || t.engineType < 0 || !engOk || t.engines < 0 || t.engines > kMaxEngines || t.size < 0 || role < 0 ||
        !yearOk || t.year < kFirstYear || t.year > kLastYear) {
        fail(QStringLiteral("a kind, engine, count, size, role or year not known"));
        return;
    }
    t.kind = static_cast<TypeKind>(kind);
    t.role = static_cast<Role>(role);
    const bool glider = t.kind == TypeKind::Glider;
    const bool helicopter = t.kind == TypeKind::Helicopter;
    const bool unpowered = t.engineType == engineCode(EngineType::None);
    const bool consistent =
        glider == (t.role == Role::Glider) && glider == unpowered && unpowered == (t.engines == 0) &&
        (t.engineType == engineCode(EngineType::HeloTurbine) ? helicopter : true) &&
        (t.role == Role::MilitaryHelicopter ? helicopter : true) &&
        (helicopter ? (t.role == Role::Utility || t.role == Role::MilitaryHelicopter) : true) &&
        (helicopter ? t.engineType != engineCode(EngineType::Jet) && t.engineType != engineCode(EngineType::Turboprop)
                    : true) &&
        (t.role == Role::FastJet ? t.engineType == engineCode(EngineType::Jet) : true);
    if (!consistent) {
        fail(QStringLiteral("kind, engine, count and role do not agree"));
        return;
    }
    // A name or designator of two types could not tell them apart.
    for (const QString& n : std::as_const(t.names)) {
        const std::vector<QString> w = wordVector(n);
        const auto it = m_names.constFind(w.front());
        if (it != m_names.cend() && std::any_of(it->begin(), it->end(), [&](const Name& o) { return o.words == w; })) {
            fail(QStringLiteral("name %1 belongs to another type").arg(n));
            return;
        }
    }
    if (!t.designator.isEmpty() && m_designators.contains(t.designator)) {
        fail(QStringLiteral("designator %1 belongs to another type").arg(t.designator));
        return;
    }
    const int row = static_cast<int>(m_types.size());
    QSet<QString> makerWords;
    for (const QString& m : std::as_const(t.makers)) {
        for (const QString& w : words(m)) {
            makerWords.insert(w);
        }
    }
    for (const QString& n : std::as_const(t.names)) {
        std::vector<QString> w = wordVector(n);
        const int weight = weightOf(w, makerWords);
        const int letters = lettersOf(w);
        auto& list = m_names[w.front()];
        // The same words twice in one row say nothing more.
        if (std::none_of(list.begin(), list.end(), [&](const Name& o) { return o.words == w; })) {
            list.push_back({std::move(w), row, weight, letters});
        }
    }
    if (!t.designator.isEmpty()) {
        m_designators.insert(t.designator, row);
    }
    t.family = field(2) == QLatin1String("-") ? t.names.front() : field(2);
    m_types.push_back(std::move(t));
}

void AircraftTypes::index() {
    QHash<QString, int> families;
    QHash<QString, int> makers;
    for (AircraftType& t : m_types) {
        const QString fkey = t.family.toCaseFolded();
        auto fam = families.constFind(fkey);
        if (fam == families.cend()) {
            fam = families.insert(fkey, static_cast<int>(m_familyNames.size()));
            m_familyNames << t.family;
        }
        t.familyId = *fam;
        for (const QString& m : std::as_const(t.makers)) {
            std::vector<QString> w = wordVector(m);
            const QString key = joined(w);
            auto it = makers.constFind(key);
            if (it == makers.cend()) {
                const int id = static_cast<int>(m_makerNames.size());
                it = makers.insert(key, id);
                m_makerNames.push_back(m);
                m_makerKind.push_back(static_cast<int>(t.kind));
                m_makerRole.push_back(static_cast<int>(t.role));
                m_makerEngine.push_back(t.engineType);
                const int weight = weightOf(w, {});
                const int letters = lettersOf(w);
                const QString first = w.front();
                m_makers[first].push_back({std::move(w), id, weight, letters});
            }
            const auto id = static_cast<std::size_t>(*it);
            auto agree = [](int& v, int mine) { v = v == mine ? v : -1; };
            agree(m_makerKind[id], static_cast<int>(t.kind));
            agree(m_makerRole[id], static_cast<int>(t.role));
            agree(m_makerEngine[id], t.engineType);
        }
    }
    // Longer names first, so that the first that fits at a word is the longest there.
    for (auto* table : {&m_names, &m_makers}) {
        for (auto& list : *table) {
            std::stable_sort(list.begin(), list.end(), [](const Name& a, const Name& b) {
                return heavier(a.weight, a.words.size(), a.letters, b.weight, b.words.size(), b.letters);
            });
        }
    }
}

AircraftTypes::Found AircraftTypes::classify(const QString& text, int engineType) const {
    Found f;
    f.words = words(text);
    const qsizetype n = f.words.size();
    f.covered.assign(static_cast<std::size_t>(n), false);
    auto fits = [&](int row) { return engineType < 0 || at(row).engineType == engineType; };
    auto cover = [&](qsizetype from, qsizetype count) {
        for (qsizetype k = from; k < from + count && k < n; ++k) {
            f.covered[static_cast<std::size_t>(k)] = true;
        }
    };

    struct Hit {
        int row;
        qsizetype at;
        qsizetype count;
    };
    std::vector<Hit> hits;
    const Name* best = nullptr;
    for (qsizetype i = 0; i < n; ++i) {
        const auto it = m_names.constFind(f.words[i]);
        if (it == m_names.cend()) {
            continue;
        }
        for (const Name& name : *it) {
            if (!fits(name.row) || !holds(f.words, i, name.words)) {
                continue;
            }
            hits.push_back({name.row, i, static_cast<qsizetype>(name.words.size())});
            if (!best ||
                heavier(name.weight, name.words.size(), name.letters, best->weight, best->words.size(),
                        best->letters) ||
                (!heavier(best->weight, best->words.size(), best->letters, name.weight, name.words.size(),
                          name.letters) &&
                 name.row < best->row)) {
                best = &name;
            }
        }
    }
    if (best) {
        f.by = Found::By::Name;
        f.row = best->row;
        f.weight = best->weight;
        // All that names its family is the type's, not the livery's: "737" in "737-800".
        for (const Hit& h : hits) {
            if (at(h.row).familyId == at(f.row).familyId) {
                cover(h.at, h.count);
            }
        }
    } else {
        for (qsizetype i = 0; i < n && f.row < 0; ++i) {
            QString d;
            for (qsizetype k = 0; k < kMaxNameWords && i + k < n; ++k) {
                d += f.words[i + k];
                const auto it = m_designators.constFind(d);
                if (it != m_designators.cend() && fits(*it)) {
                    f.by = Found::By::Designator;
                    f.row = *it;
                    cover(i, k + 1);
                }
            }
        }
    }

    for (qsizetype i = 0; i < n; ++i) {
        const auto it = m_makers.constFind(f.words[i]);
        if (it == m_makers.cend()) {
            continue;
        }
        for (const Name& name : *it) {
            if (holds(f.words, i, name.words)) {
                if (f.maker < 0) {
                    f.maker = name.row;
                }
                cover(i, static_cast<qsizetype>(name.words.size()));
                i += static_cast<qsizetype>(name.words.size()) - 1;
                break;
            }
        }
    }
    if (f.row >= 0) {
        if (f.maker < 0) {
            const std::vector<QString> w = wordVector(at(f.row).makers.front());
            if (const auto it = m_makers.constFind(w.front()); it != m_makers.cend()) {
                for (const Name& name : *it) {
                    if (name.words == w) {
                        f.maker = name.row;
                    }
                }
            }
        }
    } else if (f.maker >= 0) {
        const auto m = static_cast<std::size_t>(f.maker);
        f.by = Found::By::Maker;
        f.kind = m_makerKind[m];
        f.role = m_makerRole[m];
        f.engineType = m_makerEngine[m];
    }
    return f;
}

std::size_t AircraftTypes::memoryBytes() const {
    auto str = [](const QString& s) { return static_cast<std::size_t>(s.capacity()) * sizeof(QChar) + 32; };
    std::size_t n = sizeof(*this);
    for (const AircraftType& t : m_types) {
        n += sizeof(t) + str(t.designator) + str(t.family);
        for (const QString& s : t.makers) {
            n += str(s);
        }
        for (const QString& s : t.names) {
            n += str(s);
        }
    }
    for (const auto* table : {&m_names, &m_makers}) {
        for (auto it = table->cbegin(); it != table->cend(); ++it) {
            n += str(it.key()) + 3 * sizeof(void*);
            for (const Name& name : *it) {
                n += sizeof(name);
                for (const QString& w : name.words) {
                    n += str(w);
                }
            }
        }
    }
    n += static_cast<std::size_t>(m_designators.size()) * (48 + sizeof(int));
    return n;
}

} // namespace hangar
} // namespace airmesh
