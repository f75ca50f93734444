#include "joinedclient.h"

namespace airmesh {

qint32 joinAsTheJoinWould(SimLink& sim, SessionFactory& sessions, qint32 hostPlayer) {
    std::unique_ptr<Session> s = sessions.DirectPlayCreate(QString());
    const ConnectionList providers = s->GetDPEnumConnections({}, dpflags::ConnectionsServiceProviders);
    for (int i = 1; i <= providers.GetCount(); ++i) {
        if (providers.GetName(i).contains(QStringLiteral("TCP"))) {
            s->InitializeConnection(providers.GetAddress(i));
            break;
        }
    }
    SessionData search = s->CreateSessionData();
    search.SetGuidApplication(SimLink::kFirstAppGuid);
    s->Open(s->GetDPEnumSessions(search, 0, dpflags::EnumSessionsAll).GetItem(1), dpflags::OpenJoin);
    const qint32 observer = s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    s->setIntakeFilter(SimLink::intakeFilter(observer));

    sim.blnAltGuid = false;
    sim.strAppGuid = SimLink::kFirstAppGuid;
    sim.objEnumGroups = s->GetDPEnumGroups(sim.strAppGuid, 0);
    sim.intRequestParamsGroup = 0;
    sim.intRefuseParamsGroup = 0;
    for (int i = 1; i <= sim.objEnumGroups.GetCount(); ++i) {
        const QString name = sim.objEnumGroups.GetName(i);
        if (name == QStringLiteral("FS61_REQUEST_PARAMS")) {
            sim.intRequestParamsGroup = i;
        }
        if (name == QStringLiteral("FS61_REFUSE_PARAMS")) {
            sim.intRefuseParamsGroup = i;
        }
    }
    if (sim.intRefuseParamsGroup != 0) {
        s->AddPlayerToGroup(sim.objEnumGroups.GetItem(sim.intRefuseParamsGroup), observer);
    }
    sim.lngMyPlayerID = observer;
    sim.lngHostPlayerID = hostPlayer;
    sim.strHandle = s->GetPlayerFriendlyName(hostPlayer);
    sim.objDP = std::move(s);
    return observer;
}

void pretendLoggedOn(ServerLink& link, qint32 sessionNumber, const QDateTime& lastAck) {
    link.blnConnected = true;
    link.lngSessionID = sessionNumber;
    link.dtLastServerAck = lastAck;
}

} // namespace airmesh
