// airmesh-client: joins the simulator's multiplayer session and relays it to a server.
#include "core/inifiles.h"
#include "core/settings.h"
#include "core/userfolders.h"
#include "simlink/dplay/nativesession.h"
#include "ui/addressprompt.h"
#include "ui/startup.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("airmesh-client"));
    QApplication::setApplicationVersion(QStringLiteral(AIRMESH_VERSION));
    // Lets a Wayland desktop match the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.airmesh.Client"));
    // --help and --version, and nothing else: the program asks for all it needs in its windows.
    // (A Windows build shows their text in a message box when it has no console.)
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Relays the simulator's multiplayer session to an Airmesh server."));
    cli.addHelpOption();
    cli.addVersionOption();
    cli.process(app);

    // The simulator's session over DirectPlay on the wire. The host address the user last
    // typed is kept in the settings file and offered again.
    const QString programFolder = QCoreApplication::applicationDirPath();
    // An installed copy keeps its settings and log per user; a copy in a folder of its own
    // keeps them beside the program.
    const airmesh::UserFolders folders = airmesh::UserFolders::forProgram(programFolder);
    if (!folders.prepare()) {
        qWarning("cannot make the folders %s and %s", qPrintable(folders.settingsFolder), qPrintable(folders.logFile));
    }
    airmesh::INIFiles settings(folders.settingsFile());
    airmesh::dplay::NativeOptions native;
    native.suggestedAddress = airmesh::readSetting(settings, airmesh::setting::SessionHost);
    native.prompt = [](const QString& suggested) { return airmesh::askSessionHost(nullptr, suggested); };
    native.rememberAddress = [&settings](const QString& address) {
        airmesh::writeSetting(settings, airmesh::setting::SessionHost, address);
    };
    native.log = [](const QString& line) { qInfo("session: %s", qPrintable(line)); };
    airmesh::dplay::NativeSessionFactory sessions(native);

    airmesh::Startup startup({programFolder, &sessions, {}, {}}, folders);
    if (!startup.Main()) {
        return 0;
    }
    return QApplication::exec();
}
