#include "startup.h"

#include "core/settings.h"

#include "hangar/hangarscan.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QThread>

namespace airmesh {
inline namespace ui {

namespace {
const QString kAlreadyRunning =
    QStringLiteral("Airmesh Client module is already running, cannot run program twice on same machine");
} // namespace

QString Startup::settingsPath(const QString& programFolder) {
    if (programFolder.endsWith(QLatin1Char('/')) || programFolder.endsWith(QLatin1Char('\\'))) {
        return programFolder + QStringLiteral("AirmeshClient.ini");
    }
    return programFolder + QLatin1Char('/') + QStringLiteral("AirmeshClient.ini");
}

Startup::Startup(const Options& options) : Startup(options, UserFolders::portable(options.programFolder)) {}

Startup::Startup(Options options, UserFolders folders)
    : m_options(std::move(options)), m_folders(std::move(folders)),
      m_sound(m_folders.soundFolders, m_soundOut), m_services{m_objINI,   m_log, m_clock, m_sound,
                                                              m_messages, false, false},
      m_sim(m_services, m_colPlayers, m_windows) {
    // No Alt+letter that a disabled button leaves over may type into any window of the program.
    QCoreApplication::instance()->installEventFilter(&m_acceleratorGuard);
}

Startup::~Startup() {
    if (m_frmAlias) {
        delete m_frmAlias.data();
    }
}

bool Startup::Main() {
    // 1. One copy per user. The lock names its owner's process, so the lock of a copy that
    //    crashed is taken over instead of blocking every later start.
    QString lockFolder = m_options.lockFolder;
    if (lockFolder.isEmpty()) {
        lockFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    if (lockFolder.isEmpty()) {
        lockFolder = QDir::tempPath();
    }
    QDir().mkpath(lockFolder);
    m_lock = std::make_unique<QLockFile>(QDir(lockFolder).filePath(QStringLiteral("airmesh-client.lock")));
    m_lock->setStaleLockTime(0); // stale only when its owner is gone, however old it is
    if (!m_lock->tryLock(0)) {
        m_messages.showMessage(kAlreadyRunning, QStringLiteral("ERROR"));
        return false;
    }

    // 2. The settings file: in the program folder, or the user's own folder for an installed copy.
    m_objINI.setFileName(settingsPath(m_folders.settingsFolder));

    // 3. The splash, until the user has decided.
    {
        FrmSplash splash(m_services);
        if (m_options.picker) {
            splash.setFolderPicker(m_options.picker);
        }
        splash.show();
        while (splash.isVisible() && !m_ending) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        // 4. Decision.
        if (splash.blnQuit() || m_ending) {
            return false;
        }
        m_strFSDir = splash.strFSDir();
    }

    // 5. Join the simulator's session; a failure has shown its own message.
    if (!m_sim.Join_Session(*m_options.sessions) || m_ending) {
        return false;
    }

    // 6. The log flags. A value that is neither a Boolean word nor a number counts as on,
    //    as a missing key does.
    m_services.blnDebug = settingToBool(readSetting(m_objINI, setting::Debug), true);
    m_services.blnDebugLowLevel = settingToBool(readSetting(m_objINI, setting::DebugLowLevel), true);

    // 7. Load the main window and its engine.
    m_wiring = std::make_unique<ClientWiring>(m_services, m_sim, m_colPlayers);
    ServerLink& server = m_wiring->link();
    // Once the user has been told that the simulator's session ended, the program ends.
    m_wiring->setOnEnded([this] { endProgram(); });
    m_frmMain = std::make_unique<FrmMain>(m_services);
    m_frmMain->showLinkState(server.state(), server.statusText());
    QObject::connect(&server, &ServerLink::stateChanged, m_frmMain.get(), &FrmMain::showLinkState);
    wireMainWindow();
    m_frmMain->load();
    m_wiring->engine().windowLoaded();

    // 8. The user's handle.
    m_services.debug(QStringLiteral(" - Your Handle in the game is ") + m_sim.strHandle());

    // 9. Show it, and the Traffic window if it was open when the program last ended.
    m_frmMain->show();
    if (trafficWindowWanted(m_objINI)) {
        openTraffic();
    }

    // 10. The hangar, with the hourglass over the window. The scan lets events run, so the
    //     user may quit meanwhile: then it stops, and so does start-up.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    LoadHangar(
        m_strFSDir, m_hangar, *m_frmMain, [] { QCoreApplication::processEvents(); }, [this] { return m_ending; });
    QApplication::restoreOverrideCursor();
    if (!m_ending) {
        m_wiring->relay().useHangar(m_hangar); // the aircraft matching's index, built once
    }
    m_started = !m_ending;
    return m_started;
}

void Startup::wireMainWindow() {
    FrmMain& w = *m_frmMain;
    w.onConnect = [this](const ServerSettings& settings) { m_wiring->link().Connect(settings); };
    w.onAlias = [this] { openAliasDialog(m_services, m_colPlayers, m_hangar, m_frmAlias, m_frmMain.get()); };
    w.onTraffic = [this] { openTraffic(); };
    w.onCancel = [this] { endProgram(); };
    w.onClosed = [this] {
        // The close box: only the alias dialog goes with the window; the program ends because
        // no window is left. Until the event loop runs nothing would notice that, so during the
        // hangar scan the close box ends the program as Cancel does.
        if (m_frmAlias) {
            m_frmAlias->close();
        }
        // The Traffic window goes too, and opens again at the next start.
        if (m_frmTraffic && m_frmTraffic->isVisible()) {
            m_frmTraffic->rememberPlace(true);
            m_frmTraffic->hide();
        }
        if (!m_started) {
            endProgram();
        }
    };
}

void Startup::openTraffic() {
    openTrafficWindow(m_services, m_colPlayers, m_wiring->relay(), m_frmTraffic, m_frmMain.get());
}

void Startup::endProgram() {
    if (m_ending) {
        return;
    }
    m_ending = true;
    // Every step is carried on past any failure; the engine's own steps already are.
    if (m_wiring) {
        m_wiring->engine().quit();
    } else {
        try {
            m_sim.closeSession();
        } catch (const std::exception&) {
        }
    }
    if (m_frmAlias) {
        m_frmAlias->close();
    }
    if (m_frmTraffic && m_frmTraffic->isVisible()) {
        m_frmTraffic->rememberPlace(true);
    }
    // The splash, the main window and any message box: a nested loop that waits for one of
    // them to go sees it gone.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        w->hide();
    }
    // A copy on its way out is no longer in the way of the next start.
    if (m_lock) {
        m_lock->unlock();
    }
    // An exit asked for while no event loop runs would be forgotten by the loop that starts
    // next; start-up sees m_ending instead and returns before any loop starts.
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(0);
    }
}

} // namespace ui
} // namespace airmesh
