#pragma once

#include <QDateTime>

namespace airmesh {
inline namespace core {

// Every "now" of the client comes from here, so tests can move time by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that only moves forward, from an arbitrary start: what a busy
    // road stamps its events with (the wall clock's local time costs microseconds to read).
    virtual qint64 steadyMs() const = 0;
};

// The wall clock, local time.
class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 steadyMs() const override;
};

// A clock that only moves when told to.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(12, 0, 0))) { set(std::move(start)); }
    QDateTime now() const override { return m_now; }
    // Kept beside the time, since reading a local time's milliseconds costs what the steady
    // clock is there to avoid.
    qint64 steadyMs() const override { return m_ms; }
    void set(QDateTime t) {
        m_now = std::move(t);
        m_ms = m_now.toMSecsSinceEpoch();
    }
    void advanceMs(qint64 ms) { set(m_now.addMSecs(ms)); }
    void advance(int seconds) { set(m_now.addSecs(seconds)); }

private:
    QDateTime m_now;
    qint64 m_ms = 0;
};

// Whole seconds between two instants as a wall clock of one-second resolution sees them:
// the number of second boundaries crossed, so 12:00:00.9 to 12:00:01.0 counts as one.
qint64 secondsSince(const QDateTime& then, const QDateTime& now);

// "hh:nn:ss", 24-hour, as every activity-log line begins.
QString logTime(const QDateTime& t);

} // namespace core
} // namespace airmesh
