#pragma once

#include <QString>

namespace airmesh {
inline namespace core {

// Titles, handles and texts from the server are padded with spaces: those go, other blanks
// are part of the text.
QString trimSpaces(const QString& s);

// A text field as received ends at its first U+0000 (a peer's C string, or the end mark a
// client puts after a title), which must reach neither the simulator nor the log.
QString untilNul(QString text);

} // namespace core
} // namespace airmesh
