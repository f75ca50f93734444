#include "chatoutbox.h"

#include <algorithm>
#include <exception>

namespace airmesh {
inline namespace serverlink {

void ChatOutbox::queue(const std::vector<wire::ServerRecord>& chat) {
    for (size_t i = 0; i < chat.size(); ++i) {
        m_queue.push_back({chat[i], i + 1 == chat.size()});
    }
    sendNext(true);
}

void ChatOutbox::sendNext(bool throwOnFailure) {
    while (!m_sending && !m_queue.empty()) {
        const Piece next = m_queue.front();
        m_queue.pop_front();
        try {
            m_hooks.send(next.record);
            m_sends.push_back(next.endMark ? Send::ChatEnd : Send::ChatPiece);
            m_sending = true;
        } catch (const std::exception&) {
            if (!next.endMark) {
                dropRestOfChat();
            }
            if (throwOnFailure) {
                throw;
            }
            if (m_hooks.sendFailed) {
                m_hooks.sendFailed();
            }
        }
    }
}

void ChatOutbox::dropRestOfChat() {
    while (!m_queue.empty()) {
        const bool endMark = m_queue.front().endMark;
        m_queue.pop_front();
        if (endMark) {
            return;
        }
    }
}

void ChatOutbox::abandonInFlight() {
    if (!m_sending) {
        return;
    }
    const auto inFlight = std::find_if(m_sends.begin(), m_sends.end(), [](Send s) { return s != Send::Other; });
    const bool endMarkInFlight = inFlight != m_sends.end() && *inFlight == Send::ChatEnd;
    if (inFlight != m_sends.end()) {
        *inFlight = Send::Other; // its completion, should it still come, lets nothing go
    }
    m_sending = false;
    if (!endMarkInFlight) {
        dropRestOfChat();
    }
    sendNext(false);
}

void ChatOutbox::sendComplete() {
    if (m_sends.empty()) {
        return;
    }
    const Send done = m_sends.front();
    m_sends.pop_front();
    if (done == Send::Other) {
        return;
    }
    m_sending = false;
    if (done == Send::ChatEnd && m_hooks.chatSent) {
        m_hooks.chatSent();
    }
    sendNext(false);
}

} // namespace serverlink
} // namespace airmesh
