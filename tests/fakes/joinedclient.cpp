#include "joinedclient.h"

namespace airmesh {

qint32 ClientFixture::joinAsTheJoinWould(SimLink& sim, SessionFactory& sessions, qint32 hostPlayer,
                                         const std::function<void(JoinedSession&)>& adjust) {
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

    JoinedSession joined;
    joined.blnAltGuid = false;
    joined.strAppGuid = SimLink::kFirstAppGuid;
    joined.objEnumGroups = s->GetDPEnumGroups(joined.strAppGuid, 0);
    for (int i = 1; i <= joined.objEnumGroups.GetCount(); ++i) {
        const QString name = joined.objEnumGroups.GetName(i);
        if (name == QStringLiteral("FS61_REQUEST_PARAMS")) {
            joined.intRequestParamsGroup = i;
        }
        if (name == QStringLiteral("FS61_REFUSE_PARAMS")) {
            joined.intRefuseParamsGroup = i;
        }
    }
    if (joined.intRefuseParamsGroup != 0) {
        s->AddPlayerToGroup(joined.objEnumGroups.GetItem(joined.intRefuseParamsGroup), observer);
    }
    joined.lngMyPlayerID = observer;
    joined.lngHostPlayerID = hostPlayer;
    joined.strHandle = s->GetPlayerFriendlyName(hostPlayer);
    if (adjust) {
        adjust(joined);
    }
    sim.adopt(std::move(s), joined);
    return observer;
}

void ClientFixture::pretendLoggedOn(ServerLink& link, qint32 sessionNumber, const QDateTime& lastAck) {
    link.m_blnConnected = true;
    link.m_lngSessionID = sessionNumber;
    link.m_dtLastServerAck = lastAck;
    // The state as a logon leaves it, without reporting it: nobody watches a pretended logon.
    link.m_state = LinkState::LoggedOn;
    link.m_statusText = linkStatusText(LinkState::LoggedOn);
}

void ClientFixture::pretendPostConnectSends(ServerLink& link, int count) {
    link.m_Timer2.start();
    link.m_intPostConnectCount = count;
}

} // namespace airmesh
