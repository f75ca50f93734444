#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace airmesh::dplay {

// The steady clock every timer of a DirectPlay node runs on, in milliseconds from an arbitrary
// start: a search's window, resends and broadcast fallback, the join's answer periods, keep-alive
// pings, the expiry of fragments and of the host's early datagrams. Only these timers read it;
// sockets are always real.
class NodeClock {
public:
    using Lock = std::unique_lock<std::recursive_mutex>;

    // A node on this clock, told when the clock moves other than by the passing of time.
    class Sleeper {
    public:
        // Wakes the node's thread without waiting for it.
        virtual void clockMoved() = 0;
        // Returns once the node's thread has run its timers at `nowMs` and its waiters have seen
        // that time. Never called from the node's own thread.
        virtual void awaitTimers(qint64 nowMs) = 0;

    protected:
        ~Sleeper() = default;
    };

    NodeClock() = default;
    virtual ~NodeClock() = default;
    NodeClock(const NodeClock&) = delete;
    NodeClock& operator=(const NodeClock&) = delete;

    virtual qint64 nowMs() const = 0;
    // Blocks on `changed`, whose mutex `lock` holds, until `done()` holds or this clock reaches
    // `deadlineMs`; returns done().
    virtual bool waitUntil(std::condition_variable_any& changed, Lock& lock, qint64 deadlineMs,
                           const std::function<bool()>& done) = 0;
    // A node joins the clock when it is made and leaves it before it goes.
    virtual void attach(Sleeper& sleeper) = 0;
    virtual void detach(Sleeper& sleeper) = 0;

    // The system's steady clock, which every node given no clock shares.
    static std::shared_ptr<NodeClock> system();
};

// A clock that moves only when told to, so that a period can pass without being sat out.
// Moving it wakes every node on it and every thread waiting on it.
class ManualNodeClock final : public NodeClock {
public:
    explicit ManualNodeClock(qint64 startMs = 0) : m_now(startMs) {}

    qint64 nowMs() const override { return m_now.load(); }
    bool waitUntil(std::condition_variable_any& changed, Lock& lock, qint64 deadlineMs,
                   const std::function<bool()>& done) override;
    void attach(Sleeper& sleeper) override;
    void detach(Sleeper& sleeper) override;

    // Moves the clock on by `ms` and returns once every node on it has run its timers at the new
    // time. Not from a node's own thread.
    void advance(qint64 ms);
    // The next wait on this clock that ends at exactly `deadlineMs` finds that time come: the
    // clock jumps there as the wait begins, as if the period had passed with nothing in it. A
    // blocking call thus runs into its time-out at once, while everything before it (a reply
    // over the sockets) still takes the time it takes.
    void jumpWhenAwaited(qint64 deadlineMs);

private:
    // The nodes to wake, held (and kept from leaving) until release().
    std::vector<Sleeper*> hold();
    void release();

    std::atomic<qint64> m_now;
    // Taken under a node's lock (by a waiter), never the other way round: nothing holds it while
    // it takes a node's lock.
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::vector<Sleeper*> m_sleepers;
    int m_holders = 0;
    std::multiset<qint64> m_jumps;
};

} // namespace airmesh::dplay
