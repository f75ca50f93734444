#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace airmesh {
inline namespace core {

// The engine type codes the simulator uses in an aircraft's details and its aircraft.cfg
// (`engine_type`). Numbers as FS writes them; 4 is not used.
enum class EngineType : qint32 { Piston = 0, Jet = 1, None = 2, HeloTurbine = 3, Turboprop = 5 };

// One row a code: its name in the activity log (" Engine Type <logName>") and in the aircraft
// matching's reasons.
struct EngineTypeInfo {
    EngineType type;
    const char* logName;
    const char* name;
};
inline constexpr std::array<EngineTypeInfo, 5> kEngineTypes{{
    {EngineType::Piston, "Piston", "piston"},
    {EngineType::Jet, "Jet", "jet"},
    {EngineType::None, "None", "unpowered"},
    {EngineType::HeloTurbine, "Helo_Turbine", "turbine"},
    {EngineType::Turboprop, "Turboprop", "turboprop"},
}};

inline constexpr qint32 engineCode(EngineType t) {
    return static_cast<qint32>(t);
}
// The engine type of a code; none for a code FS does not use.
std::optional<EngineType> engineTypeOf(qint32 code);
// " Engine Type Jet", ..., or " Unknown Engine type " and the code.
QString engineTypeText(qint32 code);
// "jet", ..., or "unknown engine".
QString engineTypeName(qint32 code);

} // namespace core
} // namespace airmesh
