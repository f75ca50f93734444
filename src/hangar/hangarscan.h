#pragma once

#include "hangar.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace airmesh {
inline namespace hangar {

// Where the scan reports its progress: the main window's status line, which shows each text
// at once.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void setStatus(const QString& text) = 0;
};

// Lets pending user-interface events run once; the program passes
// QCoreApplication::processEvents. An empty hook does nothing.
using YieldHook = std::function<void()>;

// Asked after each yield: true when the program is ending and the scan is to stop where it
// stands. An empty hook never stops it.
using StopHook = std::function<bool()>;

// The scan counts files, and sections within a file, in 16 bits.
inline constexpr int kMaxAircraftFiles = 32767;
inline constexpr int kMaxSectionsPerFile = 32767;

inline constexpr QLatin1String kLoadingHangarStatus("Loading your aircraft list..pls wait");
inline constexpr QLatin1String kScanDoneStatus("Disconnected");

// Appends to `list` the path of every ordinary file named `fileName` (any letter case) in the
// folder `path` and in all folders below it, depth first: a folder's own files come before
// those of its subfolders. Entries are taken in name order; hidden entries and entries that
// cannot be read are skipped; every real folder is walked at most once, so folder links
// cannot make the walk loop. `yield` runs once before each subfolder is walked. Paths are
// `path`, '/', and the names below it. Stops when `list` holds kMaxAircraftFiles paths, or
// when `stop` says so after a yield.
void FindFiles(const QString& path, const QString& fileName, QStringList& list, const YieldHook& yield = {},
               const StopHook& stop = {});

// Fills `objHangar` with the title of every [fltsim.0], [fltsim.1], ... section of every
// aircraft.cfg below the folder "aircraft" of `strFSDir` (the simulator folder, ending in a
// separator), reporting progress to `status`. A file's titles end at the first missing
// section or title, or at a title that is exactly "None". Returns the files read, in order.
// Once `stop` has said so, nothing more is read and the status line is left as it is.
QStringList LoadHangar(const QString& strFSDir, Hangar& objHangar, StatusSink& status, const YieldHook& yield = {},
                       const StopHook& stop = {});

} // namespace hangar
} // namespace airmesh
