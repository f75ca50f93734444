#pragma once

#include "serverlink/relayoutput.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>

namespace airmesh {

// The server link as the relay sees it: logged on unless told otherwise, and every
// call written down, both as one line in `calls` and by kind.
class FakeRelayOutput final : public RelayOutput {
public:
    bool isConnected() const override { return connected; }
    void sendOwnAircraft(qint32 engineType, const QString& title) override;
    void sendQueryPlaneReply(qint32 engineType, const QString& title) override;
    void sendQueryPlane() override;
    void sendPlayerCrashed() override;
    void sendPosition(const QByteArray& block) override;
    void sendChat(const QString& text) override;

    bool connected = true;
    // Runs after each call is written down, inside the dispatch that made it.
    std::function<void()> onCall;

    // "aircraft <engine> <title>", "reply <engine> <title>", "query", "crashed", "position <hex>",
    // "chat <text>".
    QStringList calls;
    QList<QPair<qint32, QString>> aircraft; // engine type, title
    QList<QByteArray> positions;
    QStringList chats;
    int queries = 0;
    int crashes = 0;

private:
    void record(const QString& call);
};

} // namespace airmesh
