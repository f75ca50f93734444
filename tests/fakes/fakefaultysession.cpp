#include "fakefaultysession.h"

namespace airmesh {

void FakeSessionFaults::failOperation(Op op, qint32 code, int times) {
    // Zero calls means no failure; kept as an entry it would never count down and fail forever.
    if (times == 0) {
        m_failures.remove(op);
        return;
    }
    m_failures.insert(op, Failure{code, times});
}

void FakeSessionFaults::check(Op op) {
    const auto it = m_failures.find(op);
    if (it == m_failures.end()) {
        return;
    }
    const qint32 code = it->code;
    if (it->times > 0 && --it->times == 0) {
        m_failures.erase(it);
    }
    throw dp::DpError(code, "injected failure");
}

FakeFaultySession::FakeFaultySession(FakeSessionFaults& faults, std::unique_ptr<Session> inner)
    : m_faults(faults), m_inner(std::move(inner)) {}

ConnectionList FakeFaultySession::GetDPEnumConnections(const QString& guid, int flags) {
    m_faults.check(FakeSessionFaults::Op::EnumConnections);
    return m_inner->GetDPEnumConnections(guid, flags);
}

void FakeFaultySession::InitializeConnection(const QByteArray& address) {
    m_faults.check(FakeSessionFaults::Op::InitializeConnection);
    m_inner->InitializeConnection(address);
}

SessionList FakeFaultySession::GetDPEnumSessions(const SessionData& search, int timeoutMs, int flags) {
    m_faults.check(FakeSessionFaults::Op::EnumSessions);
    return m_inner->GetDPEnumSessions(search, timeoutMs, flags);
}

void FakeFaultySession::Open(const SessionData& session, int flags) {
    m_faults.check(FakeSessionFaults::Op::Open);
    m_inner->Open(session, flags);
}

void FakeFaultySession::Close() {
    m_faults.check(FakeSessionFaults::Op::Close);
    m_inner->Close();
}

SessionData FakeFaultySession::GetSessionDesc() {
    m_faults.check(FakeSessionFaults::Op::GetSessionDesc);
    return m_inner->GetSessionDesc();
}

qint32 FakeFaultySession::CreatePlayer(const QString& friendlyName, const QString& formalName, qint64 event,
                                       int flags) {
    m_faults.check(FakeSessionFaults::Op::CreatePlayer);
    return m_inner->CreatePlayer(friendlyName, formalName, event, flags);
}

void FakeFaultySession::DestroyPlayer(qint32 player) {
    m_faults.check(FakeSessionFaults::Op::DestroyPlayer);
    m_inner->DestroyPlayer(player);
}

GroupList FakeFaultySession::GetDPEnumGroups(const QString& guid, int flags) {
    m_faults.check(FakeSessionFaults::Op::EnumGroups);
    return m_inner->GetDPEnumGroups(guid, flags);
}

void FakeFaultySession::AddPlayerToGroup(qint32 group, qint32 player) {
    m_faults.check(FakeSessionFaults::Op::AddPlayerToGroup);
    m_inner->AddPlayerToGroup(group, player);
}

QString FakeFaultySession::GetPlayerFriendlyName(qint32 player) {
    m_faults.check(FakeSessionFaults::Op::GetPlayerFriendlyName);
    return m_inner->GetPlayerFriendlyName(player);
}

void FakeFaultySession::Send(qint32 from, qint32 to, int flags, const SimMessage& message) {
    m_faults.check(FakeSessionFaults::Op::Send);
    m_inner->Send(from, to, flags, message);
}

int FakeFaultySession::GetMessageQueue(qint32 from, qint32 to, int flags, int* bytes) {
    m_faults.check(FakeSessionFaults::Op::GetMessageQueue);
    return m_inner->GetMessageQueue(from, to, flags, bytes);
}

SimMessage FakeFaultySession::Receive(qint32& fromId, qint32& toId, int flags) {
    m_faults.check(FakeSessionFaults::Op::Receive);
    return m_inner->Receive(fromId, toId, flags);
}

std::unique_ptr<Session> FakeFaultySessionFactory::DirectPlayCreate(const QString&) {
    m_faults.check(FakeSessionFaults::Op::Create);
    return std::make_unique<FakeFaultySession>(m_faults, std::make_unique<MemorySession>(m_world));
}

} // namespace airmesh
