#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

namespace airmesh {
inline namespace core {

// Windows-1252, the ANSI code page of the settings file, the activity log and the
// simulator's message texts. Characters it cannot hold become '?' on the way out.
QString fromAnsi(std::string_view bytes);
inline QString fromAnsi(const QByteArray& bytes) {
    return fromAnsi(std::string_view(bytes.constData(), bytes.size()));
}
QByteArray toAnsi(const QString& text);

// One character of the code page, or '?' when it has none.
char toAnsiChar(QChar ch);
QChar fromAnsiChar(unsigned char byte);

} // namespace core
} // namespace airmesh
