#include "winepath.h"

namespace airmesh {

// A Windows path is already a local path here.
QString resolveWindowsPath(const QString& path) {
    return path;
}

} // namespace airmesh
