#pragma once

#include "serverlink/framing.h"

#include <QByteArray>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

namespace airmesh {

// A socket's receive side. UDP keeps whole datagrams, each handed out in a buffer of exactly
// its size so that reading past one trips the address sanitizer; TCP keeps one byte stream and
// hands out at most `maxChunk` bytes per read. `beforeRead` runs once at the next read: bytes
// that arrive between the notification and the read.
class FakeReceiveQueue final : public ReceiveQueue {
public:
    enum class Kind { Datagrams, Stream };
    explicit FakeReceiveQueue(Kind kind) : m_kind(kind) {}

    void arrive(const QByteArray& bytes) {
        if (m_kind == Kind::Stream) {
            m_stream.append(bytes);
            return;
        }
        auto& buffer = m_buffers.emplace_back(std::make_unique<char[]>(static_cast<std::size_t>(bytes.size())));
        std::memcpy(buffer.get(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
        m_datagrams.push_back(QByteArray::fromRawData(buffer.get(), bytes.size()));
    }

    qint64 BytesReceived() const override {
        if (m_kind == Kind::Stream) {
            return m_stream.size();
        }
        return std::accumulate(m_datagrams.begin(), m_datagrams.end(), qint64{0},
                               [](qint64 sum, const QByteArray& d) { return sum + d.size(); });
    }

    QByteArray GetData() override {
        ++reads;
        if (beforeRead) {
            std::exchange(beforeRead, {})();
        }
        if (m_kind == Kind::Stream) {
            const QByteArray chunk = m_stream.left(maxChunk);
            m_stream.remove(0, chunk.size());
            return chunk;
        }
        if (m_datagrams.empty()) {
            return {};
        }
        QByteArray datagram = m_datagrams.front();
        m_datagrams.pop_front();
        return datagram;
    }

    int reads = 0;
    qsizetype maxChunk = 1 << 20;
    std::function<void()> beforeRead;

private:
    Kind m_kind;
    QByteArray m_stream;
    std::deque<QByteArray> m_datagrams;
    std::vector<std::unique_ptr<char[]>> m_buffers; // outlive every datagram handed out
};

} // namespace airmesh
