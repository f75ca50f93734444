#include "aliases.h"

#include "core/inifiles.h"

namespace airmesh {

namespace {

// Spaces only: titles arrive padded with spaces, and other blanks are part of the text.
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

} // namespace

QString GetAlias(const INIFiles& settings, const QString& title) {
    const QString none = QStringLiteral("None");
    // The settings engine ends a key at its first NUL, so a title followed by a NUL and
    // padding finds the entry made for the bare title.
    QString alias = settings.ReadINI(QStringLiteral("Aliasing"), trimSpaces(title), none);
    if (alias == none) {
        return title;
    }
    return alias;
}

} // namespace airmesh
