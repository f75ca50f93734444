#pragma once

#include "hangar.h"

#include <QHash>
#include <QString>

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace airmesh {
inline namespace hangar {

// The installed aircraft closest to a remote one. Built once from the hangar after the scan;
// a look-up then touches only the aircraft that share a type family, a role or a word with the
// remote title, and the best of each class, never the whole hangar. Aircraft that look alike in
// all the matching reads of them (type, class, maker, livery words) are looked at only through
// the first of them in title order.
//
// Both sides are read through the type table (aircrafttypes.txt): the remote title by the
// longest name it holds, an installed aircraft by its atc_model, atc_type, ui_type and title;
// what the table does not know is read from the words and the engine code (remote) or the
// aircraft.cfg's engines, wing span and category (installed).
//
// The order of choice: the exact title (without regard to case, as the simulator compares
// titles); for a title of 30 characters or more (the sender cuts longer ones), the one installed
// title it starts; the same type; the same family; the same role with the same engine type and
// count (then size); the same role with the same engine type; the same kind and engine type;
// the same kind. Within each, airline words, class, era and maker decide. Never an aircraft of
// another kind (airplanes, helicopters and gliders are kept apart), never a military fast jet
// for a civil aircraft or a civil aircraft for a military fast jet. Equal scores go to the title
// first in case-folded order. An empty title gets the aircraft FS ships for its engine type,
// else the first installed of that engine type.
class Matcher {
public:
    // A remote title cut by its sender is this long.
    static constexpr int kCutTitleChars = 30;

    enum class Stage { None, Exact, Prefix, Type, Role, Class, Kind, Default };
    // Aircraft of one kind are never shown as another.
    enum class Kind : std::uint8_t { Airplane, Helicopter, Glider };
    struct Match {
        int index = -1; // into the hangar's order; -1: nothing installed fits
        QString title;  // the installed title, or the remote title when nothing fits
        QString reason; // e.g. "same family 737", "same role: business jet, 2 jets"
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
    struct Features; // what a remote title says
    struct Entry {
        QString title;
        int row = -1;    // into the type table
        int family = -1; // the type's family
        int role = -1;
        int year = 0;
        int engineType = -1;
        int engines = 0;
        int size = -1; // 0 light, 1 medium, 2 heavy; -1 unknown
        int rank = 0;  // position in case-folded title order
        Kind kind = Kind::Airplane;
        int maker = -1;         // into the type table's makers
        std::vector<int> words; // ids of its livery words and unknown designators, sorted, each once
    };
    struct Hits {
        bool airline = false;
        bool designator = false;
    };
    using Table = std::unordered_map<std::int64_t, std::vector<int>>;
    // One stage of the choice: the first in rank of each class within a group, and the
    // aircraft of a group by shared word.
    struct Stage2 {
        Table tops;
        Table byWord;
    };

    Features featuresOf(const QString& text, int engineType) const;
    static int score(const Entry& e, const Features& r, int relation, Hits& hits);
    bool considerAll(const Stage2& stage, std::int64_t group, const Features& r, int relation, Match& best,
                     int& bestRank, Hits& bestHits) const;
    void consider(int i, const Features& r, int relation, Match& best, int& bestRank, Hits& bestHits) const;
    void add(Stage2& stage, std::int64_t group, int i);
    Match fallback(int engineType) const;

    std::vector<Entry> m_aircraft;
    QHash<QString, int> m_exact;                   // folded title -> first aircraft with it
    std::vector<std::pair<QString, int>> m_sorted; // folded titles in order, for prefixes
    QHash<QString, int> m_words;                   // upper-case word -> id
    Stage2 m_byFamily;                             // group: family
    Stage2 m_byRoleCount;                          // group: kind, role, engine type and count
    Stage2 m_byRole;                               // group: kind, role, engine type
    Stage2 m_byKindEngine;                         // group: kind, engine type
    Stage2 m_byKind;                               // group: kind
    // Per engine type code: the aircraft FS ships for it when installed, else the first
    // installed of it; -1 for none.
    std::array<int, 6> m_default{};
};

} // namespace hangar
} // namespace airmesh
