#include "winepath.h"

#include <QDir>

namespace airmesh {
inline namespace core {

// The simulator runs under Wine here, so its folders live inside the prefix.
QString resolveWindowsPath(const QString& path) {
    return resolveWindowsPath(path, winePrefix());
}

QString findSimulatorFolder() {
    return findSimulatorFolder(winePrefixes(QDir::homePath()));
}

} // namespace core
} // namespace airmesh
