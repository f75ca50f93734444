#include "fakerelayoutput.h"

namespace airmesh {

void FakeRelayOutput::sendOwnAircraft(qint32 engineType, const QString& title) {
    aircraft << qMakePair(engineType, title);
    record(QStringLiteral("aircraft %1 %2").arg(engineType).arg(title));
}

void FakeRelayOutput::sendQueryPlaneReply(qint32 engineType, const QString& title) {
    record(QStringLiteral("reply %1 %2").arg(engineType).arg(title));
}

void FakeRelayOutput::sendQueryPlane() {
    ++queries;
    record(QStringLiteral("query"));
}

void FakeRelayOutput::sendPlayerCrashed() {
    ++crashes;
    record(QStringLiteral("crashed"));
}

void FakeRelayOutput::sendPosition(const QByteArray& block) {
    positions << block;
    record(QStringLiteral("position ") + QString::fromLatin1(block.toHex()));
}

void FakeRelayOutput::sendChat(const QString& text) {
    chats << text;
    record(QStringLiteral("chat ") + text);
}

void FakeRelayOutput::record(const QString& call) {
    calls << call;
    if (onCall) {
        onCall();
    }
}

} // namespace airmesh
