#include "hangarscan.h"

#include "core/inifiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <vector>

namespace airmesh {
inline namespace hangar {

namespace {

struct Entry {
    QString name;
    bool isFolder = false;
    bool isLink = false;
};

// Name order without regard to case, as the simulator's own file system lists a folder, so
// that the hangar comes out in the same order on every machine.
bool byName(const Entry& a, const Entry& b) {
    const int c = a.name.compare(b.name, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.name < b.name;
}

// The ordinary files and folders of `path`, hidden ones left out. Without QDir::System, Qt
// also leaves out links that lead nowhere and anything else whose kind it cannot read.
std::vector<Entry> listFolder(const QString& path) {
    std::vector<Entry> entries;
    QDirIterator it(path, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        entries.push_back({info.fileName(), info.isDir(), info.isSymLink()});
    }
    std::sort(entries.begin(), entries.end(), byName);
    return entries;
}

struct Pending {
    QString path;
    QString canonical; // the folder's real path, which tells whether it was walked already
};

// The folder called "aircraft" in `fsDir`: under that name if it exists, otherwise the first
// folder whose name differs from it only in letter case, as a simulator installed on a
// case-sensitive file system may have it.
QString aircraftFolder(QString fsDir) {
    if (!fsDir.endsWith(QLatin1Char('/')) && !fsDir.endsWith(QDir::separator())) {
        fsDir += QLatin1Char('/');
    }
    QString exact = fsDir + QLatin1String("aircraft");
    if (QFileInfo(exact).isDir()) {
        return exact;
    }
    for (const Entry& e : listFolder(fsDir)) {
        if (e.isFolder && e.name.compare(QLatin1String("aircraft"), Qt::CaseInsensitive) == 0) {
            return fsDir + e.name;
        }
    }
    return exact;
}

// A real path and a name below it; the file system's root already ends in a separator.
QString joined(const QString& canonical, const QString& name) {
    return canonical.endsWith(QLatin1Char('/')) ? canonical + name : canonical + QLatin1Char('/') + name;
}

// Appends the folder's files named `fileName` to `list` and puts its subfolders on `stack`
// so that the first of them comes off next. Returns false once `list` is full.
bool takeFolder(const Pending& folder, const QString& fileName, QStringList& list, std::vector<Pending>& stack) {
    const std::vector<Entry> entries = listFolder(folder.path);
    for (const Entry& e : entries) {
        if (!e.isFolder && e.name.compare(fileName, Qt::CaseInsensitive) == 0) {
            list.append(folder.path + QLatin1Char('/') + e.name);
            if (list.size() >= kMaxAircraftFiles) {
                return false;
            }
        }
    }
    std::vector<Pending> subfolders;
    for (const Entry& e : entries) {
        if (!e.isFolder) {
            continue;
        }
        const QString sub = folder.path + QLatin1Char('/') + e.name;
        // Only a link can lead to a folder walked already; any other folder's real path
        // follows from its parent's.
        QString canonical = e.isLink ? QFileInfo(sub).canonicalFilePath() : joined(folder.canonical, e.name);
        if (!canonical.isEmpty()) {
            subfolders.push_back({sub, std::move(canonical)});
        }
    }
    stack.insert(stack.end(), std::make_move_iterator(subfolders.rbegin()), std::make_move_iterator(subfolders.rend()));
    return true;
}

} // namespace

void FindFiles(const QString& path, const QString& fileName, QStringList& list, const YieldHook& yield,
               const StopHook& stop) {
    const QString root = QFileInfo(path).canonicalFilePath();
    if (root.isEmpty() || list.size() >= kMaxAircraftFiles) {
        return;
    }
    QSet<QString> walked{root};
    // Depth first without recursion, so that no depth of folders can exhaust the stack.
    std::vector<Pending> stack;
    if (!takeFolder({path, root}, fileName, list, stack)) {
        return;
    }
    while (!stack.empty()) {
        Pending folder = std::move(stack.back());
        stack.pop_back();
        if (walked.contains(folder.canonical)) {
            continue;
        }
        walked.insert(folder.canonical);
        if (yield) {
            yield();
        }
        if (stop && stop()) {
            return;
        }
        if (!takeFolder(folder, fileName, list, stack)) {
            return;
        }
    }
}

QStringList LoadHangar(const QString& strFSDir, Hangar& objHangar, StatusSink& status, const YieldHook& yield,
                       const StopHook& stop) {
    status.setStatus(kLoadingHangarStatus);

    QStringList strAircraftFiles;
    FindFiles(aircraftFolder(strFSDir), QStringLiteral("aircraft.cfg"), strAircraftFiles, yield, stop);
    if (stop && stop()) {
        return {};
    }

    const QString title = QStringLiteral("title");
    const QString none = QStringLiteral("None");
    INIFiles reader;
    for (const QString& file : std::as_const(strAircraftFiles)) {
        reader.setFileName(file);
        for (int n = 0; n < kMaxSectionsPerFile; ++n) {
            const QString t = reader.ReadINI(QLatin1String("fltsim.") + QString::number(n), title, none);
            if (t == none) {
                break;
            }
            objHangar.Add(t);
        }
    }

    status.setStatus(kScanDoneStatus);
    return strAircraftFiles;
}

} // namespace hangar
} // namespace airmesh
