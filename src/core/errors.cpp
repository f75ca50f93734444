#include "errors.h"

namespace airmesh {
inline namespace core {

ErrorInfo errorInfo(const std::exception& e) {
    if (const auto* numbered = dynamic_cast<const NumberedError*>(&e)) {
        return {numbered->number(), numbered->description()};
    }
    return {kErrOther, QString::fromLocal8Bit(e.what())};
}

ErrorInfo currentErrorInfo() {
    try {
        throw;
    } catch (const std::exception& e) {
        return errorInfo(e);
    } catch (...) {
        return {kErrOther, QStringLiteral("Unknown error")};
    }
}

QString errorLine(const QString& prefix, const ErrorInfo& error) {
    return prefix + QString::number(error.number) + QLatin1Char(' ') + error.description;
}

} // namespace core
} // namespace airmesh
