#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

namespace airmesh {
inline namespace core {

// Lines typed on standard input, delivered on the thread that owns this object. A reader
// thread blocks on the input and hands complete lines over; a timer collects them, so nothing
// of the program runs on the reader thread. The end of the input ends the reading, nothing else.
class StdinLines : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollMs = 50;
    // Longest line kept; longer input is cut there.
    static constexpr int kMaxLineChars = 4096;
    // Lines waiting beyond this are dropped until the program catches up.
    static constexpr int kMaxPendingLines = 256;

    explicit StdinLines(QObject* parent = nullptr);
    ~StdinLines() override;

signals:
    void lineRead(const QString& line);

private:
    struct Shared;
    void collect();

    std::shared_ptr<Shared> m_shared;
    QTimer m_poll;
};

} // namespace core
} // namespace airmesh
