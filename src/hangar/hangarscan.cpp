#include "hangarscan.h"

#include "core/profile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
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

// One aircraft.cfg, read once and looked up as the settings engine reads a file: a missing,
// unreadable or over-large file has no keys; a value is cut to the 127 characters of the
// read buffer, then its leading blanks go.
class CfgFile {
public:
    explicit CfgFile(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly) || f.size() > profile::kMaxFileBytes) {
            return;
        }
        QByteArray bytes = f.read(f.size() + 1);
        if (bytes.size() <= profile::kMaxFileBytes) {
            m_index.emplace(std::move(bytes));
        }
    }

    std::optional<QString> read(std::string_view section, std::string_view key) const {
        if (!m_index) {
            return std::nullopt;
        }
        const auto value = m_index->find(section, key);
        if (!value) {
            return std::nullopt;
        }
        QString out = profile::fromText(*value, m_index->encoding());
        if (out.size() > profile::kMaxValueChars) {
            out.truncate(profile::kMaxValueChars);
        }
        qsizetype lead = 0;
        while (lead < out.size() && out[lead] == QLatin1Char(' ')) {
            ++lead;
        }
        return out.mid(lead);
    }
    QString text(std::string_view section, std::string_view key) const {
        return read(section, key).value_or(QString());
    }

    bool ok() const { return m_index.has_value(); }

private:
    std::optional<profile::Index> m_index;
};

// The number of engine.0, engine.1, ... lines, up to the first gap.
int engineCount(const CfgFile& cfg) {
    constexpr int kMaxEngines = 16;
    int n = 0;
    while (n < kMaxEngines && cfg.read("GeneralEngineData", "engine." + std::to_string(n))) {
        ++n;
    }
    return n;
}

// A number as the simulator reads it: what a leading number gives, and `otherwise` when
// there is none.
double leadingNumber(const QString& text, double otherwise) {
    const QString t = text.trimmed();
    qsizetype end = 0;
    while (end < t.size() && (t[end].isDigit() || t[end] == QLatin1Char('.') ||
                              (end == 0 && (t[end] == QLatin1Char('-') || t[end] == QLatin1Char('+'))))) {
        ++end;
    }
    bool ok = false;
    const double v = t.left(end).toDouble(&ok);
    return ok ? v : otherwise;
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

    const QString none = QStringLiteral("None");
    for (const QString& file : std::as_const(strAircraftFiles)) {
        const CfgFile cfg(file);
        if (!cfg.ok()) {
            continue;
        }
        // What the file says once for all its variants.
        const QString atcType = cfg.text("General", "atc_type");
        const QString atcModel = cfg.text("General", "atc_model");
        const QString category = cfg.text("General", "Category");
        const int engineType = static_cast<int>(leadingNumber(cfg.text("GeneralEngineData", "engine_type"), -1));
        const int engines = engineCount(cfg);
        const double span = leadingNumber(cfg.text("airplane_geometry", "wing_span"), 0);
        for (int n = 0; n < kMaxSectionsPerFile; ++n) {
            const std::string section = "fltsim." + std::to_string(n);
            const std::optional<QString> t = cfg.read(section, "title");
            if (!t || *t == none) {
                break;
            }
            const Hangar::AircraftPtr a = objHangar.Add(*t);
            a->Manufacturer = cfg.text(section, "ui_manufacturer");
            a->Type = cfg.text(section, "ui_type");
            a->Variation = cfg.text(section, "ui_variation");
            a->Airline = cfg.text(section, "atc_airline");
            a->AtcType = atcType;
            a->AtcModel = atcModel;
            a->Category = category;
            a->EngineType = engineType;
            a->EngineCount = engines;
            a->WingSpan = span;
        }
    }

    status.setStatus(kScanDoneStatus);
    return strAircraftFiles;
}

} // namespace hangar
} // namespace airmesh
