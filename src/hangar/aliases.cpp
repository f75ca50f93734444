#include "aliases.h"

#include "core/inifiles.h"
#include "core/settings.h"
#include "core/text.h"

namespace airmesh {
inline namespace hangar {

QString GetAlias(const INIFiles& settings, const QString& title) {
    const QString none = QStringLiteral("None");
    // The settings engine ends a key at its first NUL, so a title followed by a NUL and
    // padding finds the entry made for the bare title.
    QString alias = settings.ReadINI(QLatin1String(setting::kAliasing), trimSpaces(title), none);
    if (alias == none) {
        return title;
    }
    return alias;
}

} // namespace hangar
} // namespace airmesh
