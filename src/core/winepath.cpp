#include "winepath.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace airmesh {

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

} // namespace

QString winePrefix() {
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
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

    static const QRegularExpression separators(QStringLiteral("[\\\\/]+"));
    const QStringList names = path.mid(2).split(separators, Qt::SkipEmptyParts);
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
    for (const QString& entry : files) {
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace airmesh
