#pragma once

#include "acceleratorguard.h"
#include "frmalias.h"
#include "frmmain.h"
#include "frmsplash.h"
#include "frmtraffic.h"
#include "widgetmessagebox.h"

#include "core/clientservices.h"
#include "core/userfolders.h"
#include "hangar/hangar.h"
#include "registry/players.h"
#include "relay/clientwiring.h"
#include "simlink/simlink.h"

#include <QLockFile>
#include <QPointer>

#include <memory>

namespace airmesh {
inline namespace ui {

// The program from its start to the running main window: one copy per user, the settings file
// in the program folder, the splash and its folder check, the join of the simulator's session,
// the log flags, the main window and the hangar scan. Owns every program-wide object.
class Startup {
public:
    struct Options {
        QString programFolder;          // where the settings and the sound files are
        SessionFactory* sessions;       // how the simulator's session is reached
        QString lockFolder;             // where the one-copy lock lives; empty: the user's runtime folder
        FrmSplash::FolderPicker picker; // empty: the system's folder picker
    };

    // Settings, sound files and log where a copy keeps them beside its program.
    explicit Startup(const Options& options);
    // Settings, sound files and log in the given folders (an installed copy's are per user).
    Startup(Options options, UserFolders folders);
    ~Startup();

    // Runs the start-up sequence. False when the program is to end (second copy, declined,
    // failed join, ended meanwhile); true when the main window is up and events drive the
    // program.
    bool Main();

    // Ends the program now, from whatever state it is in: during start-up (the splash, the
    // join, the hangar scan, where no event loop runs yet: Main() then returns false at once)
    // and once events drive it (the event loop ends, with any message box or other nested
    // loop that is open). Stops Timer1, closes the UDP socket and the simulator's session,
    // takes every window off the screen and gives up the one-copy lock at once, so that a new
    // start never finds this copy in its way. Cancel ends the program here; so may any part of
    // it that must stop it. A second call does nothing.
    void endProgram();
    bool ending() const { return m_ending; }

    // The settings file's path for a program folder: exactly one separator between them.
    static QString settingsPath(const QString& programFolder);

    // For tests and the windows.
    ClientServices& services() { return m_services; }
    FrmMain* mainWindow() { return m_frmMain.get(); }
    FrmTraffic* trafficWindow() { return m_frmTraffic; }
    SimLink& sim() { return m_sim; }
    ServerLink& server() { return m_wiring->link(); }
    Hangar& hangar() { return m_hangar; }

private:
    void wireMainWindow();
    void openTraffic();

    Options m_options;
    UserFolders m_folders;
    AcceleratorGuard m_acceleratorGuard;
    bool m_ending = false;
    bool m_started = false; // Main() has returned true: the event loop drives the program
    std::unique_ptr<QLockFile> m_lock;
    SystemClock m_clock;
    INIFiles m_objINI;
    ActivityLog m_log{m_clock, m_folders.logFile};
    SystemSoundOutput m_soundOut;
    SoundCues m_sound;
    WidgetMessageBoxService m_messages;
    ClientServices m_services;
    Players m_colPlayers;
    Hangar m_hangar;
    DesktopWindowSystem m_windows;
    SimLink m_sim;
    std::unique_ptr<ClientWiring> m_wiring; // made once joined
    std::unique_ptr<FrmMain> m_frmMain;
    QPointer<FrmAlias> m_frmAlias;
    QPointer<FrmTraffic> m_frmTraffic; // made when first opened
    QString m_strFSDir;
};

} // namespace ui
} // namespace airmesh
