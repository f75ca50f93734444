#include "activitylog.h"

#include "ansi.h"

#include <QFile>

namespace airmesh {
inline namespace core {

void ActivityLog::Write_Log(const QString& text) const {
    QFile f(m_fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return;
    }
    // One call is one line: a line break inside text from the network must not forge lines,
    // and a NUL would end the line early for many readers of a text file.
    QByteArray bytes = toAnsi(text);
    bytes.replace('\r', ' ').replace('\n', ' ').replace('\0', ' ');
    bytes.append("\r\n", 2);
    f.write(bytes); // a short write loses the line, as an unwritable file does
}

} // namespace core
} // namespace airmesh
