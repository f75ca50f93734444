#include "enginetype.h"

namespace airmesh {
inline namespace core {

namespace {
const EngineTypeInfo* infoOf(qint32 code) {
    for (const EngineTypeInfo& e : kEngineTypes) {
        if (engineCode(e.type) == code) {
            return &e;
        }
    }
    return nullptr;
}
} // namespace

std::optional<EngineType> engineTypeOf(qint32 code) {
    const EngineTypeInfo* e = infoOf(code);
    return e != nullptr ? std::optional(e->type) : std::nullopt;
}

QString engineTypeText(qint32 code) {
    const EngineTypeInfo* e = infoOf(code);
    return e != nullptr ? QStringLiteral(" Engine Type ") + QLatin1String(e->logName)
                        : QStringLiteral(" Unknown Engine type ") + QString::number(code);
}

QString engineTypeName(qint32 code) {
    const EngineTypeInfo* e = infoOf(code);
    return e != nullptr ? QLatin1String(e->name) : QStringLiteral("unknown engine");
}

} // namespace core
} // namespace airmesh
