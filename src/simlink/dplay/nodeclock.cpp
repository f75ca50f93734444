#include "nodeclock.h"

#include <algorithm>
#include <chrono>

namespace airmesh::dplay {

namespace {
class SystemNodeClock final : public NodeClock {
public:
    qint64 nowMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    bool waitUntil(std::condition_variable_any& changed, Lock& lock, qint64 deadlineMs,
                   const std::function<bool()>& done) override {
        const std::chrono::steady_clock::time_point deadline{std::chrono::milliseconds(deadlineMs)};
        return changed.wait_until(lock, deadline, done);
    }
    // Time passes by itself: nobody needs waking.
    void attach(Sleeper&) override {}
    void detach(Sleeper&) override {}
};
} // namespace

std::shared_ptr<NodeClock> NodeClock::system() {
    static const std::shared_ptr<NodeClock> clock = std::make_shared<SystemNodeClock>();
    return clock;
}

bool ManualNodeClock::waitUntil(std::condition_variable_any& changed, Lock& lock, qint64 deadlineMs,
                                const std::function<bool()>& done) {
    bool jumped = false;
    {
        std::lock_guard guard(m_mutex);
        if (const auto it = m_jumps.find(deadlineMs); it != m_jumps.end()) {
            m_jumps.erase(it);
            if (deadlineMs > m_now.load()) {
                m_now.store(deadlineMs);
                jumped = true;
            }
        }
    }
    if (jumped) {
        // The other nodes' threads see the new time on their next round; this thread holds a
        // node's lock, so it waits for none of them.
        for (Sleeper* s : hold()) {
            s->clockMoved();
        }
        release();
    }
    // Whoever moves the clock wakes this condition under the node's lock after the move, so the
    // time read here is never older than the wake-up that would be missed.
    while (!done()) {
        if (m_now.load() >= deadlineMs) {
            return false;
        }
        changed.wait(lock);
    }
    return true;
}

void ManualNodeClock::attach(Sleeper& sleeper) {
    std::lock_guard guard(m_mutex);
    m_sleepers.push_back(&sleeper);
}

void ManualNodeClock::detach(Sleeper& sleeper) {
    std::unique_lock guard(m_mutex);
    // A node may go only while nobody is waking it.
    m_released.wait(guard, [this] { return m_holders == 0; });
    m_sleepers.erase(std::remove(m_sleepers.begin(), m_sleepers.end(), &sleeper), m_sleepers.end());
}

void ManualNodeClock::advance(qint64 ms) {
    qint64 now = 0;
    {
        std::lock_guard guard(m_mutex);
        now = m_now.load() + ms;
        m_now.store(now);
    }
    const std::vector<Sleeper*> sleepers = hold();
    for (Sleeper* s : sleepers) {
        s->clockMoved();
    }
    for (Sleeper* s : sleepers) {
        s->awaitTimers(now);
    }
    release();
}

void ManualNodeClock::jumpWhenAwaited(qint64 deadlineMs) {
    std::lock_guard guard(m_mutex);
    m_jumps.insert(deadlineMs);
}

std::vector<NodeClock::Sleeper*> ManualNodeClock::hold() {
    std::lock_guard guard(m_mutex);
    ++m_holders;
    return m_sleepers;
}

void ManualNodeClock::release() {
    std::lock_guard guard(m_mutex);
    if (--m_holders == 0) {
        m_released.notify_all();
    }
}

} // namespace airmesh::dplay
