// airmesh-client with the simulator played in memory, for end-to-end tests of the windows and
// the start-up: a session hosted under the first application identifier whose own player
// ("E2EPilot") accepts the observer. Built only with the tests.
#include "simlink/memorysession.h"
#include "simlink/simcodec.h"
#include "ui/startup.h"

#include <QApplication>
#include <QThread>

using namespace airmesh;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("airmesh-client"));

    MemoryWorld world;
    const QByteArray fs = world.hostSession(SimLink::kFirstAppGuid);
    const qint32 host = world.addHostPlayer(fs, QStringLiteral("E2EPilot"), QStringLiteral("E2EPilot"));
    world.addGroup(fs, QStringLiteral("FS61_REQUEST_PARAMS"));
    world.addGroup(fs, QStringLiteral("FS61_REFUSE_PARAMS"));
    world.onSendToHost = [&world, host](const MemoryWorld::Sent& sent) {
        SimMessage m(sent.bytes);
        if (m.size() >= 4 && m.ReadLong() == simMsgNumber(SimMsg::ObserverJoinRequest)) {
            SimMessage accepted;
            sim::writeHeaderOnly(accepted, SimMsg::ObserverJoinAccepted);
            world.sendFromHost(host, sent.from, accepted);
        }
    };
    world.onWait = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    MemorySessionFactory sessions(world);

    Startup startup({QCoreApplication::applicationDirPath(), &sessions, {}, {}});
    if (!startup.Main()) {
        return 0;
    }
    return QApplication::exec();
}
