#pragma once

#include "clock.h"

#include <QString>

namespace airmesh {
inline namespace core {

// The activity log "log.txt" in the current working folder. Every call opens the file,
// appends one line ended CRLF in the ANSI code page, and closes it again; a line that
// cannot be written is lost quietly. Callers build the line and test their flag first.
class ActivityLog {
public:
    explicit ActivityLog(const Clock& clock, QString fileName = QStringLiteral("log.txt"))
        : m_clock(clock), m_fileName(std::move(fileName)) {}

    void Write_Log(const QString& text) const;

    // Write_Log of the current time "hh:nn:ss" followed by `text` (which begins " - ").
    void line(const QString& text) const { Write_Log(logTime(m_clock.now()) + text); }

    const Clock& clock() const { return m_clock; }

private:
    const Clock& m_clock;
    QString m_fileName;
};

} // namespace core
} // namespace airmesh
