#pragma once

#include <QString>

#include <stdexcept>
#include <string>

namespace airmesh {
inline namespace core {

// A failure that carries the number its error line shows: the session layer's result code, the
// registry's collection number, the socket's number, or a number of the client's own. Every
// error trap of the client logs "<prefix><number> <description>" from this one mapping.
class NumberedError : public std::runtime_error {
public:
    NumberedError(qint64 number, const std::string& what) : std::runtime_error(what), m_number(number) {}
    qint64 number() const { return m_number; }
    // The text of the error line.
    virtual QString description() const { return QString::fromLocal8Bit(what()); }

private:
    qint64 m_number;
};

// The number of an error line for a failure that carries none of its own.
inline constexpr int kErrOther = 51;

struct ErrorInfo {
    qint64 number = kErrOther;
    QString description;
};

// The number and text an error line shows for `e`.
ErrorInfo errorInfo(const std::exception& e);
// ... for the exception being handled; call only inside a catch block.
ErrorInfo currentErrorInfo();
// "<prefix><number> <description>".
QString errorLine(const QString& prefix, const ErrorInfo& error);

} // namespace core
} // namespace airmesh
