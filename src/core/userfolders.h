#pragma once

#include <QString>
#include <QStringList>

namespace airmesh {
inline namespace core {

// Where the client keeps what it writes and where it finds its sound cues.
//
// A copy that runs from a folder of its own (unpacked somewhere, or a build tree) keeps
// everything beside the program, as it always has: the settings file and the sound files in
// the program folder, log.txt in the working folder (on Windows in the program folder). An
// installed copy cannot, and must not, write beside its program. On Linux, when the program
// folder is not writable, or it is the bin folder of an installation (the shipped data lies in
// ../share/airmesh), everything is kept per user:
//
//   settings file and the user's own sound files   $XDG_CONFIG_HOME/airmesh/ (~/.config/airmesh/)
//   activity log log.txt                           $XDG_STATE_HOME/airmesh/  (~/.local/state/airmesh/)
//   sound files shipped with the program           <prefix>/share/airmesh/sounds/
//
// On Windows, when the program folder is not writable (a copy installed under Program Files),
// the settings file, log.txt and the user's own sound files are kept in %APPDATA%\Airmesh\,
// and the shipped sound files are read from the program folder.
//
// A cue file is taken from the first of the sound folders that holds it, so a user's own
// connected.wav beside the settings file is played instead of the shipped one.
struct UserFolders {
    QString settingsFolder;   // holds AirmeshClient.ini
    QString logFile;          // the activity log; a relative name is in the working folder
    QStringList soundFolders; // searched in this order for each cue file
    bool perUser = false;     // the per-user folders are in use

    // The folders of a copy that keeps everything beside its program.
    static UserFolders portable(const QString& programFolder);

    // The rule with everything it looks at given: the program folder, whether the per-user
    // folders are to be used, and the user's configuration and state folders.
    static UserFolders choose(const QString& programFolder, bool perUser, const QString& configHome,
                              const QString& stateHome);

    // The Windows rule with everything it looks at given: the program folder, whether it is
    // writable, and the user's %APPDATA% (an empty one is the program folder's own).
    static UserFolders forWindowsProgram(const QString& programFolder, bool writable, const QString& appData);

    // The folders for a program in `programFolder` on this machine and for this user.
    static UserFolders forProgram(const QString& programFolder);

    // Makes the per-user folders (readable by their owner only), so that the settings file
    // and the log can be created in them on their first write. Nothing to do for a portable
    // copy. False when a folder could not be made.
    bool prepare() const;

    // The settings file's path.
    QString settingsFile() const;
};

// True when a file can really be made in `folder`, whatever its permission bits say (a
// read-only mount, an access list, or root, who may write where the bits say no).
bool folderIsWritable(const QString& folder);

// The shipped data folder <prefix>/share/airmesh of an installation whose programs lie in
// `programFolder` (<prefix>/bin), or empty when the program does not run from one.
QString installedDataFolder(const QString& programFolder);

// $XDG_CONFIG_HOME and $XDG_STATE_HOME as the base-directory rules define them: the variable
// when it holds an absolute path, else ~/.config and ~/.local/state below `home`.
QString configHome(const QString& home);
QString stateHome(const QString& home);

} // namespace core
} // namespace airmesh
