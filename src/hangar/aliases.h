#pragma once

#include <QString>

namespace airmesh {
inline namespace core {
class INIFiles;
} // namespace core
} // namespace airmesh

namespace airmesh {
inline namespace hangar {

// The local aircraft to show in place of a remote aircraft titled `title`: the value stored
// under the title (without its surrounding spaces) in section "Aliasing" of `settings`, or
// `title` itself, unchanged, when there is none. A stored "None" means no alias. Every call
// reads the file, so an alias set or edited in the meantime takes effect at once.
QString GetAlias(const INIFiles& settings, const QString& title);

} // namespace hangar
} // namespace airmesh
