#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <stdexcept>
#include <variant>
#include <vector>

namespace airmesh {
inline namespace hangar {

// One installed aircraft variant: the title of one [fltsim.N] section of an aircraft.cfg, and
// what the aircraft matching needs of it (empty, -1 or 0 where the file does not say).
struct Aircraft {
    QString Title;
    // From [fltsim.N]: ui_manufacturer, ui_type, ui_variation, atc_airline.
    QString Manufacturer;
    QString Type;
    QString Variation;
    QString Airline;
    // From [General]: atc_type, atc_model, Category.
    QString AtcType;
    QString AtcModel;
    QString Category;
    // From [GeneralEngineData]: engine_type (0 piston, 1 jet, 2 none, 3 helicopter turbine,
    // 5 turboprop), and how many engine.N lines it has.
    int EngineType = -1;
    int EngineCount = 0;
    // From [airplane_geometry]: wing_span, in feet.
    double WingSpan = 0;
    bool operator==(const Aircraft&) const = default;
};

// The hangar's errors carry the numbers and texts of a keyed collection's errors, since
// callers log them as such.
class HangarError : public std::runtime_error {
public:
    enum Code { InvalidArgument = 5, DuplicateKey = 457 };
    explicit HangarError(Code code);
    Code code() const { return m_code; }
    int number() const { return m_code; }

private:
    Code m_code;
};

// The installed aircraft in the order they were found. The same title may be held any number
// of times; a key is optional and, when given, unique without regard to letter case.
class Hangar {
public:
    using AircraftPtr = std::shared_ptr<Aircraft>;
    // A 1-based position or a key.
    using IndexKey = std::variant<int, QString>;

    // Creates a record with this title and appends it, under sKey unless sKey is empty.
    // Throws DuplicateKey when sKey is already in use.
    AircraftPtr Add(const QString& Title, const QString& sKey = {});
    // Throws InvalidArgument for an unknown key or a position out of range.
    AircraftPtr Item(const IndexKey& vntIndexKey) const;
    int Count() const { return static_cast<int>(m_order.size()); }
    void Remove(const IndexKey& vntIndexKey);

    // The records present now, in insertion order. A copy: adding or removing while going
    // through it is safe.
    std::vector<AircraftPtr> NewEnum() const;

private:
    struct Slot {
        AircraftPtr record;
        QString key; // folded; empty for a record added without a key
    };
    std::size_t positionOf(const IndexKey& k) const;

    std::vector<Slot> m_order;
    QHash<QString, AircraftPtr> m_byKey; // folded key -> record
};

} // namespace hangar
} // namespace airmesh
