#include "stdinlines.h"

#include <QStringList>

#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace airmesh {
inline namespace core {

struct StdinLines::Shared {
    std::mutex lock;
    QStringList lines;
};

StdinLines::StdinLines(QObject* parent) : QObject(parent), m_shared(std::make_shared<Shared>()) {
    // The reader owns its share of the queue: a read that returns after we are gone finds it
    // still there. It is detached, as a blocked read cannot be interrupted portably; the process
    // ending takes it along.
    std::thread([shared = m_shared] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line.size() > kMaxLineChars) {
                line.resize(kMaxLineChars);
            }
            const std::lock_guard<std::mutex> guard(shared->lock);
            if (shared->lines.size() < kMaxPendingLines) {
                shared->lines.append(QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size())));
            }
        }
    }).detach();
    connect(&m_poll, &QTimer::timeout, this, &StdinLines::collect);
    m_poll.start(kPollMs);
}

StdinLines::~StdinLines() = default;

void StdinLines::collect() {
    QStringList lines;
    {
        const std::lock_guard<std::mutex> guard(m_shared->lock);
        lines.swap(m_shared->lines);
    }
    for (const QString& l : std::as_const(lines)) {
        emit lineRead(l);
    }
}

} // namespace core
} // namespace airmesh
