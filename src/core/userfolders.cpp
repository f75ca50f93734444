#include "userfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace airmesh {
inline namespace core {

namespace {

const QString kSettingsFile = QStringLiteral("AirmeshClient.ini");
const QString kAppFolder = QStringLiteral("airmesh");

QString xdgFolder(const char* variable, const QString& home, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable);
    // A relative value is invalid and is to be ignored, as the base-directory rules say.
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) {
        return QDir::cleanPath(value);
    }
    return QDir::cleanPath(home + QLatin1Char('/') + fallback);
}

} // namespace

UserFolders UserFolders::portable(const QString& programFolder) {
    return choose(programFolder, false, {}, {});
}

UserFolders UserFolders::choose(const QString& programFolder, bool perUser, const QString& configHome,
                                const QString& stateHome) {
    UserFolders f;
    f.perUser = perUser;
    if (!perUser) {
        f.settingsFolder = programFolder;
        f.logFile = QStringLiteral("log.txt");
        f.soundFolders = {programFolder};
        return f;
    }
    f.settingsFolder = configHome + QLatin1Char('/') + kAppFolder;
    f.logFile = stateHome + QLatin1Char('/') + kAppFolder + QStringLiteral("/log.txt");
    // The user's own files first, then any beside a read-only program, then the shipped ones.
    f.soundFolders = {f.settingsFolder, programFolder};
    const QString data = installedDataFolder(programFolder);
    if (!data.isEmpty()) {
        f.soundFolders.append(data + QStringLiteral("/sounds"));
    }
    return f;
}

UserFolders UserFolders::forWindowsProgram(const QString& programFolder, bool writable, const QString& appData) {
    if (writable || appData.isEmpty()) {
        UserFolders f = portable(programFolder);
        f.logFile = QDir(programFolder).filePath(QStringLiteral("log.txt"));
        return f;
    }
    UserFolders f;
    f.perUser = true;
    // Read as a Windows path on any platform, so that the rule is the same wherever it is checked.
    f.settingsFolder =
        QDir::cleanPath(QString(appData).replace(QLatin1Char('\\'), QLatin1Char('/')) + QStringLiteral("/Airmesh"));
    f.logFile = f.settingsFolder + QStringLiteral("/log.txt");
    f.soundFolders = {f.settingsFolder, programFolder};
    return f;
}

bool UserFolders::prepare() const {
    if (!perUser) {
        return true;
    }
    // Settings hold the password: the folders are the user's own, as the file is.
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    bool ok = true;
    for (const QString& folder : {settingsFolder, QFileInfo(logFile).path()}) {
        if (!QFileInfo(folder).isDir()) {
            ok = QDir().mkpath(folder) && QFile::setPermissions(folder, ownerOnly) && ok;
        }
    }
    return ok;
}

QString UserFolders::settingsFile() const {
    if (settingsFolder.endsWith(QLatin1Char('/')) || settingsFolder.endsWith(QLatin1Char('\\'))) {
        return settingsFolder + kSettingsFile;
    }
    return settingsFolder + QLatin1Char('/') + kSettingsFile;
}

bool folderIsWritable(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return false;
    }
    // Permission bits do not tell: root passes them, a read-only mount or an access list does
    // not show in them. Making a file does tell; it goes again at once.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".airmesh-probe-XXXXXX")));
    return probe.open();
}

QString installedDataFolder(const QString& programFolder) {
    const QDir bin(QDir::cleanPath(programFolder));
    if (bin.dirName() != QLatin1String("bin")) {
        return {};
    }
    const QString data = QDir::cleanPath(bin.absolutePath() + QStringLiteral("/../share/") + kAppFolder);
    return QFileInfo(data).isDir() ? data : QString();
}

QString configHome(const QString& home) {
    return xdgFolder("XDG_CONFIG_HOME", home, QStringLiteral(".config"));
}

QString stateHome(const QString& home) {
    return xdgFolder("XDG_STATE_HOME", home, QStringLiteral(".local/state"));
}

} // namespace core
} // namespace airmesh
