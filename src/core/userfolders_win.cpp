#include "userfolders.h"

#include <QDir>

namespace airmesh {
inline namespace core {

UserFolders UserFolders::forProgram(const QString& programFolder) {
    return forWindowsProgram(programFolder, folderIsWritable(programFolder), qEnvironmentVariable("APPDATA"));
}

} // namespace core
} // namespace airmesh
