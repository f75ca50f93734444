#pragma once

#include <QString>
#include <QStringList>

namespace airmesh {
inline namespace core {

// The Wine prefix the simulator runs in: $WINEPREFIX when set and not empty, else ~/.wine.
QString winePrefix();

// A Windows-style folder such as "c:\program files\microsoft games\fs2002\" as a local path
// inside `prefix`: the drive through dosdevices/<letter>: when that link exists (else drive_c
// for C:), then each name matched without regard to case against the entries really there.
// A name that matches nothing is kept as written, so the result simply does not exist. The
// result uses '/' and keeps a trailing separator when the input had one. A path without a
// drive letter comes back unchanged.
QString resolveWindowsPath(const QString& path, const QString& prefix);

// A folder as the simulator names it, as a local path: through winePrefix() where the
// simulator runs under Wine, unchanged on Windows.
QString resolveWindowsPath(const QString& path);

// True when `folder` holds an ordinary file named `fileName`, matched without regard to case
// as the simulator's own file system would. An empty folder holds nothing.
bool folderHoldsFile(const QString& folder, const QString& fileName);

// The Wine prefixes a user typically has below `home`, in the order they are searched:
// $WINEPREFIX, ~/.wine, then those that winetricks ($XDG_DATA_HOME/wineprefixes/*), Bottles
// (also as a Flatpak), PlayOnLinux and Lutris (~/Games/*) make, each group in name order. Only
// folders that look like a prefix (they hold drive_c) are listed, each once.
QStringList winePrefixes(const QString& home);

// The simulator's folder (the one holding fs2000.exe) in the first of `prefixes` that has
// one: in each prefix the simulator's own install folders first (Microsoft Games\FS2002 and
// FS2000 under Program Files and Program Files (x86)), then the other folders of its C:
// drive down to three levels. A local path ending in '/', or empty when none holds it.
QString findSimulatorFolder(const QStringList& prefixes);

// findSimulatorFolder() in the user's own Wine prefixes where the simulator runs under Wine;
// empty on Windows, where the default folder is the simulator's.
QString findSimulatorFolder();

} // namespace core
} // namespace airmesh
