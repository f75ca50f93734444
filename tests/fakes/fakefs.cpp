#include "fakefs.h"

#include "simlink/simcodec.h"
#include "simlink/simlink.h"

namespace airmesh {

FakeFs::FakeFs(const QString& handle) {
    fs = world.hostSession(SimLink::kFirstAppGuid);
    host = world.addHostPlayer(fs, handle, handle);
    world.addGroup(fs, QStringLiteral("FS61_REQUEST_PARAMS"));
    world.addGroup(fs, QStringLiteral("FS61_REFUSE_PARAMS"));
    world.onSendToHost = [this](const MemoryWorld::Sent& sent) {
        SimMessage m(sent.bytes);
        if (m.size() >= 4 && m.ReadLong() == simMsgNumber(SimMsg::ObserverJoinRequest)) {
            SimMessage accepted;
            sim::writeHeaderOnly(accepted, SimMsg::ObserverJoinAccepted);
            world.sendFromHost(host, sent.from, accepted);
        }
    };
}

} // namespace airmesh
