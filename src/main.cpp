// airmesh-client: joins the simulator's multiplayer session and relays it to a server.
#include "ui/startup.h"

#include <QApplication>

namespace {

// The session back-end that speaks DirectPlay on the wire is not part of this build yet:
// without it the join reports that the session layer could not be started.
class NoSessionBackEnd final : public airmesh::SessionFactory {
public:
    std::unique_ptr<airmesh::Session> DirectPlayCreate(const QString&) override { return nullptr; }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("airmesh-client"));
    QApplication::setApplicationDisplayName(QStringLiteral("Airmesh Client"));
    QApplication::setApplicationVersion(QStringLiteral(AIRMESH_VERSION));

    NoSessionBackEnd sessions;
    airmesh::Startup startup({QCoreApplication::applicationDirPath(), &sessions, {}, {}});
    if (!startup.Main()) {
        return 0;
    }
    return QApplication::exec();
}
