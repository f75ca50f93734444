#pragma once

#include <QString>

namespace airmesh {

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

} // namespace airmesh
