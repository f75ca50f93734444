#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string_view>
#include <vector>

namespace airmesh {
inline namespace hangar {

// What an aircraft type is for. The order is the table's; names as in aircrafttypes.txt.
enum class Role : std::uint8_t {
    Airliner,
    Regional,
    Business,
    FastJet,           // military fast jet, jet trainers among them
    MilitaryTransport, // military transport, tanker, patrol aircraft or bomber
    Warbird,           // military, propeller, before about 1960
    Vintage,           // civil, before about 1945
    Aerobatic,
    Trainer,
    GaSingle,
    GaTwin,
    Utility, // utility or bush aeroplane, civil helicopter
    MilitaryHelicopter,
    Glider,
};
constexpr int kRoles = static_cast<int>(Role::Glider) + 1;

enum class TypeKind : std::uint8_t { Aeroplane, Helicopter, Glider, Amphibian };

// One row of the type table.
struct AircraftType {
    QString designator; // ICAO style; empty where there is none
    QStringList makers;
    QString family; // as shown in reasons; types of one family share it
    int familyId = -1;
    TypeKind kind = TypeKind::Aeroplane;
    int engineType = 0; // the aircraft.cfg code: 0 piston, 1 jet, 2 none, 3 helicopter turbine, 5 turboprop
    int engines = 0;
    int size = 0; // 0 light, 1 medium, 2 heavy
    Role role = Role::GaSingle;
    int year = 0;      // of the first flight
    QStringList names; // the first is the one reasons show
};

// The table of aircraft types and what a title says of its type. Built once; a look-up splits
// the text into words and tries the names that start with each word.
class AircraftTypes {
public:
    // The table compiled into the program (src/hangar/aircrafttypes.txt).
    static const AircraftTypes& builtIn();

    // A table in the file's format: one type a line, `#` starts a comment,
    //   designator | maker, maker | family | kind | engine | engines | size | role | year | name; name
    // A row that is not well formed is left out and told in errors(), as is a name or designator
    // that another row has already.
    explicit AircraftTypes(std::string_view text);

    int count() const { return static_cast<int>(m_types.size()); }
    const AircraftType& at(int row) const { return m_types[static_cast<std::size_t>(row)]; }
    int familyCount() const { return static_cast<int>(m_familyNames.size()); }
    const QStringList& errors() const { return m_errors; }

    // What a text says of its type.
    struct Found {
        enum class By : std::uint8_t { Nothing, Name, Designator, Maker };
        By by = By::Nothing;
        int row = -1;   // the type, by name or designator
        int maker = -1; // the first maker named, else the type's first maker; into makerName()
        int weight = 0; // of the name: a word of digits counts twice
        // Named by maker alone: what all that maker's types agree on, -1 where they differ.
        int kind = -1;
        int role = -1;
        int engineType = -1;
        QStringList words;         // the text's words (see words())
        std::vector<bool> covered; // per word: part of the type's names or a maker's
    };
    // The type named by the longest name the text holds (a name's words in a row; the most
    // weight, a word of digits counting twice and the maker's words nothing, then the most words,
    // the most letters, the first in the table); else by a designator ("B738"); else the maker.
    // With engineType >= 0, only types of that engine type.
    Found classify(const QString& text, int engineType = -1) const;

    const QString& makerName(int maker) const { return m_makerNames[static_cast<std::size_t>(maker)]; }

    // The upper-case words of a text: runs of letters and runs of digits, all else between.
    static QStringList words(const QString& text);
    // "airliner", "business jet", "military fast jet", ...
    static QString roleName(Role role, TypeKind kind, int engineType);
    static const char* roleKey(Role role); // as written in the table

    std::size_t memoryBytes() const;

private:
    struct Name {
        std::vector<QString> words;
        int row = -1;
        int weight = 0;
        int letters = 0;
    };
    void addRow(const QString& line, int lineNo);
    void index();

    std::vector<AircraftType> m_types;
    QStringList m_errors;
    QStringList m_familyNames;
    std::vector<QString> m_makerNames;
    std::vector<int> m_makerKind, m_makerRole, m_makerEngine; // per maker; -1 where its types differ
    QHash<QString, std::vector<Name>> m_names;                // first word -> names starting with it
    QHash<QString, std::vector<Name>> m_makers;               // first word -> maker names (row: the maker)
    QHash<QString, int> m_designators;                        // designator -> row
};

} // namespace hangar
} // namespace airmesh
