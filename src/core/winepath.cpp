#include "winepath.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace airmesh {
inline namespace core {

namespace {

bool isSeparator(QChar c) {
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

// "X:" alone or followed by a separator. "X:name" (relative to a drive's current folder) has
// no meaning outside Windows and is left alone like any other non-Windows path.
bool isWindowsStyle(const QString& path) {
    return path.size() >= 2 && path[0].isLetter() && path[0].unicode() < 128 && path[1] == QLatin1Char(':') &&
           (path.size() == 2 || isSeparator(path[2]));
}

// The entry of `folder` named `name` without regard to case. An exact match wins, so two
// entries differing only in case (possible on Linux) resolve to the one written; otherwise
// the first in name order, so the choice does not depend on the file system's listing order.
QString matchEntry(const QString& folder, const QString& name) {
    if (name == QLatin1String(".") || name == QLatin1String("..")) {
        return name;
    }
    if (QFileInfo::exists(folder + QLatin1Char('/') + name)) {
        return name;
    }
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            return entry;
        }
    }
    return name;
}

const QString kSimulatorFile = QStringLiteral("fs2000.exe");
constexpr int kSearchDepth = 3;      // as deep as C:\Program Files\Microsoft Games\FS2002
constexpr int kSearchFolders = 4000; // folders looked into per prefix at most

void addPrefix(QStringList& prefixes, const QString& folder) {
    // Listed by its real path, so that a prefix reached through a link is searched once.
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (!real.isEmpty() && QFileInfo(real + QStringLiteral("/drive_c")).isDir() && !prefixes.contains(real)) {
        prefixes.append(real);
    }
}

void addPrefixesIn(QStringList& prefixes, const QString& parent) {
    const QStringList names = QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        addPrefix(prefixes, parent + QLatin1Char('/') + name);
    }
}

// The folders below `drive`, level by level and in name order, for the first holding the
// simulator. Linked folders are not followed (a prefix links the user's own folders in) and
// the system folder is left out, which keeps the search to a few hundred folders.
QString searchDrive(const QString& drive) {
    QStringList level{drive};
    int looked = 0;
    for (int depth = 1; depth <= kSearchDepth && !level.isEmpty(); ++depth) {
        QStringList next;
        for (const QString& folder : level) {
            const QStringList names =
                QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
            for (const QString& name : names) {
                if (depth == 1 && name.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0) {
                    continue;
                }
                if (++looked > kSearchFolders) {
                    return {};
                }
                const QString child = folder + QLatin1Char('/') + name;
                if (folderHoldsFile(child, kSimulatorFile)) {
                    return child + QLatin1Char('/');
                }
                next.append(child);
            }
        }
        level = next;
    }
    return {};
}

} // namespace

QString winePrefix() {
    QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (!prefix.isEmpty()) {
        return prefix;
    }
    return QDir::homePath() + QStringLiteral("/.wine");
}

QString resolveWindowsPath(const QString& path, const QString& prefix) {
    if (!isWindowsStyle(path)) {
        return path;
    }
    const QString drive = QString(path[0].toLower()) + QLatin1Char(':');
    const QString dosdevices = prefix + QStringLiteral("/dosdevices");

    // Wine names its drive links in lower case, but a hand-made prefix may not.
    QString base = dosdevices + QLatin1Char('/') + matchEntry(dosdevices, drive);
    if (!QFileInfo(base).isDir() && drive == QLatin1String("c:")) {
        base = prefix + QStringLiteral("/drive_c");
    }

    // Split by hand: a regular expression's match keeps a thread_local stack, which makes a
    // Windows program's exit wait on a lock now and then.
    QString rest = path.mid(2);
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList names = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString result = base;
    for (const QString& name : names) {
        result += QLatin1Char('/') + matchEntry(result, name);
    }
    if (isSeparator(path.back())) {
        result += QLatin1Char('/');
    }
    return result;
}

bool folderHoldsFile(const QString& folder, const QString& fileName) {
    if (folder.isEmpty() || fileName.isEmpty()) {
        return false;
    }
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(fileName)).isFile()) {
        return true;
    }
    // Ordinary files only: no folders, devices or dangling links.
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden);
    return std::ranges::any_of(
        files, [&fileName](const QString& entry) { return entry.compare(fileName, Qt::CaseInsensitive) == 0; });
}

QStringList winePrefixes(const QString& home) {
    QStringList prefixes;
    const QString chosen = qEnvironmentVariable("WINEPREFIX");
    if (!chosen.isEmpty()) {
        addPrefix(prefixes, chosen);
    }
    addPrefix(prefixes, home + QStringLiteral("/.wine"));
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) {
        data = home + QStringLiteral("/.local/share");
    }
    addPrefixesIn(prefixes, data + QStringLiteral("/wineprefixes"));
    addPrefixesIn(prefixes, data + QStringLiteral("/bottles/bottles"));
    addPrefixesIn(prefixes, home + QStringLiteral("/.var/app/com.usebottles.bottles/data/bottles/bottles"));
    addPrefixesIn(prefixes, home + QStringLiteral("/.PlayOnLinux/wineprefix"));
    addPrefixesIn(prefixes, home + QStringLiteral("/Games"));
    return prefixes;
}

QString findSimulatorFolder(const QStringList& prefixes) {
    for (const QString& prefix : prefixes) {
        const QString drive = prefix + QStringLiteral("/drive_c");
        // 32-bit programs go to Program Files (x86) in a 64-bit prefix.
        for (const char* programs : {"Program Files", "Program Files (x86)"}) {
            for (const char* simulator : {"FS2002", "FS2000"}) {
                QString folder = drive;
                for (const QString& name : {QString::fromLatin1(programs), QStringLiteral("Microsoft Games"),
                                            QString::fromLatin1(simulator)}) {
                    folder += QLatin1Char('/') + matchEntry(folder, name);
                }
                if (folderHoldsFile(folder, kSimulatorFile)) {
                    return folder + QLatin1Char('/');
                }
            }
        }
        QString found = searchDrive(drive);
        if (!found.isEmpty()) {
            return found;
        }
    }
    return {};
}

} // namespace core
} // namespace airmesh
