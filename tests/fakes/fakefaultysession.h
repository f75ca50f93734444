#pragma once

#include "simlink/session.h"
#include "standin/memorysession.h"

#include <QHash>

#include <memory>

namespace airmesh {

// Failures a test makes the session layer report, shared by every session a
// FakeFaultySessionFactory makes: the next `times` calls of an operation (every call when
// times < 0) fail with a result code, before the operation reaches the session behind.
class FakeSessionFaults {
public:
    enum class Op {
        Create, // the factory's DirectPlayCreate
        EnumConnections,
        InitializeConnection,
        EnumSessions,
        Open,
        Close,
        GetSessionDesc,
        CreatePlayer,
        DestroyPlayer,
        EnumGroups,
        AddPlayerToGroup,
        GetPlayerFriendlyName,
        Send,
        GetMessageQueue,
        Receive,
    };

    void failOperation(Op op, qint32 code, int times = 1);
    void clearFailures() { m_failures.clear(); }
    // Throws the failure this call of `op` is to report, if any.
    void check(Op op);

private:
    struct Failure {
        qint32 code = 0;
        int times = 0;
    };
    QHash<Op, Failure> m_failures;
};

// A session that reports the failures of a FakeSessionFaults and otherwise hands every
// operation to the session behind it.
class FakeFaultySession final : public Session {
public:
    FakeFaultySession(FakeSessionFaults& faults, std::unique_ptr<Session> inner);

    ConnectionList GetDPEnumConnections(const QString& guid, int flags) override;
    void InitializeConnection(const QByteArray& address) override;
    SessionList GetDPEnumSessions(const SessionData& search, int timeoutMs, int flags) override;
    void Open(const SessionData& session, int flags) override;
    void Close() override;
    SessionData GetSessionDesc() override;
    qint32 CreatePlayer(const QString& friendlyName, const QString& formalName, qint64 event, int flags) override;
    void DestroyPlayer(qint32 player) override;
    GroupList GetDPEnumGroups(const QString& guid, int flags) override;
    void AddPlayerToGroup(qint32 group, qint32 player) override;
    QString GetPlayerFriendlyName(qint32 player) override;
    void Send(qint32 from, qint32 to, int flags, const SimMessage& message) override;
    int GetMessageQueue(qint32 from, qint32 to, int flags, int* bytes = nullptr) override;
    SimMessage Receive(qint32& fromId, qint32& toId, int flags) override;
    void waitForMessage(int maxMs) override { m_inner->waitForMessage(maxMs); }
    void setIntakeFilter(IntakeFilter filter) override { m_inner->setIntakeFilter(std::move(filter)); }
    void setArrivalNotifier(std::function<void()> notify) override { m_inner->setArrivalNotifier(std::move(notify)); }

    Session& inner() { return *m_inner; }

private:
    FakeSessionFaults& m_faults;
    std::unique_ptr<Session> m_inner;
};

// Makes in-memory sessions on a world, each behind the failures of `faults`.
class FakeFaultySessionFactory final : public SessionFactory {
public:
    FakeFaultySessionFactory(MemoryWorld& world, FakeSessionFaults& faults) : m_world(world), m_faults(faults) {}
    std::unique_ptr<Session> DirectPlayCreate(const QString& guid) override;

private:
    MemoryWorld& m_world;
    FakeSessionFaults& m_faults;
};

} // namespace airmesh
