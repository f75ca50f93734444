// airmesh-client with the simulator played in memory, for end-to-end tests of the windows and
// the start-up: a session hosted under the first application identifier whose own player
// ("E2EPilot") accepts the observer. Built only with the tests.
#include "fakes/fakefs.h"
#include "ui/startup.h"

#include <QApplication>
#include <QThread>

using namespace airmesh;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("airmesh-client"));

    FakeFs fake(QStringLiteral("E2EPilot"));
    fake.world.onWait = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };

    Startup startup({QCoreApplication::applicationDirPath(), &fake.factory, {}, {}});
    if (!startup.Main()) {
        return 0;
    }
    return QApplication::exec();
}
