#pragma once

#include "wire/records.h"

#include <deque>
#include <functional>
#include <vector>

namespace airmesh {
inline namespace serverlink {

// The chats on their way to the server over TCP: one record at a time, each let go by the send
// completion of the one before, and every send of the connection still to complete, so that a
// completion is matched to the send it belongs to. A logon or post-connect record finishing
// meanwhile says nothing about the chat piece on its way.
class ChatOutbox {
public:
    struct Hooks {
        // Hands a record to the TCP socket; throws when the socket refuses it.
        std::function<void(const wire::ServerRecord&)> send;
        // A piece that went out on a completion failed: called inside the handler, so the
        // exception in flight can be logged.
        std::function<void()> sendFailed;
        // A chat's end mark has gone out: the whole chat has.
        std::function<void()> chatSent;
    };

    explicit ChatOutbox(Hooks hooks) : m_hooks(std::move(hooks)) {}

    // Queues a chat's records, the last its end mark, and sends the first at once unless a
    // piece is still on its way. Throws when that first send fails; the chat is then dropped.
    void queue(const std::vector<wire::ServerRecord>& chat);
    // Any other record handed to the socket on this connection.
    void otherSent() { m_sends.push_back(Send::Other); }
    // The socket has completed its oldest send still due.
    void sendComplete();
    // The piece on its way can no longer complete (the connection is gone): the rest of its
    // chat goes nowhere, without an end mark or a log line; a chat queued behind it is tried.
    void abandonInFlight();
    // The connection is closed: sends not yet complete never will be.
    void connectionClosed() { m_sends.clear(); }

    // A chat piece is on its way and the next waits for its completion.
    bool sending() const { return m_sending; }
    // Records queued and not yet handed to the socket.
    size_t waiting() const { return m_queue.size(); }

private:
    // What one TCP send was, so its completion is matched to it.
    enum class Send { Other, ChatPiece, ChatEnd };
    struct Piece {
        wire::ServerRecord record;
        bool endMark = false;
    };

    void sendNext(bool throwOnFailure);
    void dropRestOfChat();

    Hooks m_hooks;
    std::deque<Piece> m_queue;
    // One entry per send on the current connection whose completion is still due.
    std::deque<Send> m_sends;
    bool m_sending = false;
};

} // namespace serverlink
} // namespace airmesh
