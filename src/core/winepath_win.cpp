#include "winepath.h"

namespace airmesh {
inline namespace core {

// A Windows path is already a local path here.
QString resolveWindowsPath(const QString& path) {
    return path;
}

// The simulator installs into the default folder itself; there is nothing else to search.
QString findSimulatorFolder() {
    return {};
}

} // namespace core
} // namespace airmesh
