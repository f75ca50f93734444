#pragma once

#include "hangar.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace airmesh {
inline namespace hangar {

// The installed aircraft closest to a remote one. Built once from the hangar after the scan;
// a look-up then touches only the aircraft that share a type family or a word with the remote
// title, and the best of each class, never the whole hangar.
//
// The order of choice: the exact title (without regard to case, as the simulator compares
// titles); for a title of 30 characters or more (the sender cuts longer ones), the one installed
// title it starts; then the best score by type (same designator and variant, same family,
// related family), airline and livery words, class (engine type, engine count, size from the
// wing span) and manufacturer; then the best of the same engine type and class. Never an
// aircraft of another kind: airplanes, helicopters and gliders are kept apart. Equal scores go
// to the title first in case-folded order, then the one found first.
class Matcher {
public:
    // A remote title cut by its sender is this long.
    static constexpr int kCutTitleChars = 30;

    enum class Stage { None, Exact, Prefix, Type, Class, Kind };
    // Aircraft of one kind are never shown as another.
    enum class Kind : std::uint8_t { Airplane, Helicopter, Glider };
    struct Match {
        int index = -1; // into the hangar's order; -1: nothing installed fits
        QString title;  // the installed title, or the remote title when nothing fits
        QString reason; // e.g. "same family 737", "same class: jet twin"
        int score = 0;
        Stage stage = Stage::None;
    };

    explicit Matcher(const Hangar& hangar);
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    // The choice for a remote aircraft of this engine type code (0 piston, 1 jet, 2 none,
    // 3 helicopter turbine, 5 turboprop; anything else: unknown) and title. A title ends at its
    // first NUL; blanks around it do not count.
    Match match(const QString& title, int engineType) const;

    // Whether a title is installed, without regard to case.
    bool isInstalled(const QString& title) const;

    int count() const { return static_cast<int>(m_aircraft.size()); }
    // The bytes the index holds, roughly: its tables and the text they keep.
    std::size_t memoryBytes() const;

private:
    struct Features; // what a title says: kind, family, words
    struct Entry {
        QString title;
        int family = -1; // into the family table
        int engineType = -1;
        int engines = 0;
        int size = -1; // 0 light, 1 medium, 2 heavy; -1 unknown
        int rank = 0;  // position in case-folded title order
        Kind kind = Kind::Airplane;
        // The word ids of its manufacturer, variant ("737-800") and model ("A321") as first
        // named; -1 for none.
        int maker = -1;
        int variant = -1;
        int model = -1;
        std::vector<int> words; // ids of its livery words and unknown designators, sorted, each once
    };
    struct Hits {
        bool airline = false;
        bool variant = false;
        bool model = false;
        bool designator = false;
    };

    Features featuresOf(const QString& text) const;
    int wordId(const QString& word) const;
    static int score(const Entry& e, const Features& r, int relation, Hits& hits);
    void consider(int i, const Features& r, int relation, Match& best, int& bestRank) const;

    std::vector<Entry> m_aircraft;
    QHash<QString, int> m_exact;                   // folded title -> first aircraft with it
    std::vector<std::pair<QString, int>> m_sorted; // folded titles in order, for prefixes
    QHash<QString, int> m_words;                   // upper-case word -> id
    std::vector<std::uint8_t> m_wordKind;          // per id: livery, variant, designator, maker
    // Aircraft by family and shared word.
    std::unordered_map<std::int64_t, std::vector<int>> m_familyWord;
    // Aircraft by kind and engine type, and by kind, engine type and word.
    std::unordered_map<std::int64_t, std::vector<int>> m_kindEngineWord;
    // The first in rank of each class (kind, engine type and count, size, manufacturer, and
    // within a family variant and model), per family, per kind and engine type and per kind:
    // every other of the class scores no more unless it shares a word, which the tables above
    // find.
    std::unordered_map<std::int64_t, std::vector<int>> m_familyClassTops;
    std::unordered_map<std::int64_t, std::vector<int>> m_kindEngineClassTops;
    std::unordered_map<int, std::vector<int>> m_kindClassTops;
};

} // namespace hangar
} // namespace airmesh
