#include "text.h"

namespace airmesh {
inline namespace core {

QString trimSpaces(const QString& s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin] == QLatin1Char(' ')) {
        ++begin;
    }
    while (end > begin && s[end - 1] == QLatin1Char(' ')) {
        --end;
    }
    return s.mid(begin, end - begin);
}

QString untilNul(QString text) {
    if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0) {
        text.truncate(nul);
    }
    return text;
}

} // namespace core
} // namespace airmesh
