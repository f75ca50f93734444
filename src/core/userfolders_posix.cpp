#include "userfolders.h"

#include <QDir>

namespace airmesh {
inline namespace core {

UserFolders UserFolders::forProgram(const QString& programFolder) {
    const bool perUser = !installedDataFolder(programFolder).isEmpty() || !folderIsWritable(programFolder);
    const QString home = QDir::homePath();
    return choose(programFolder, perUser, configHome(home), stateHome(home));
}

} // namespace core
} // namespace airmesh
