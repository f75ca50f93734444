#include "titlechoice.h"

#include "core/settings.h"

#include "aliases.h"
#include "matcher.h"

#include "core/inifiles.h"
#include "core/text.h"

namespace airmesh {
inline namespace hangar {

bool TitleChooser::autoMatchOn(const INIFiles& settings) {
    return settingToBool(readSetting(settings, setting::AutoMatch), true);
}

void TitleChooser::remember(QSet<QString>& told, const QString& title) {
    // A server may send any number of titles; past this many they may be told again.
    if (told.size() >= kMaxRemembered) {
        told.clear();
    }
    told.insert(title);
}

TitleChoice TitleChooser::choose(const INIFiles& settings, const QString& title, int engineType) {
    TitleChoice c;
    if (!m_matcher || !autoMatchOn(settings)) {
        c.title = GetAlias(settings, title);
        c.source = c.title == title ? TitleChoice::Source::Remote : TitleChoice::Source::UserAlias;
        return c;
    }
    const QString none = QStringLiteral("None");
    const QString key = trimSpaces(title);
    // Log lines name the title up to the NUL that ended it on the wire.
    QString named = key.left(key.indexOf(QChar(0)) >= 0 ? key.indexOf(QChar(0)) : key.size());
    if (named.isEmpty()) {
        named = QStringLiteral("an empty title");
    }
    const QString alias = settings.ReadINI(QLatin1String(setting::kAliasing), key, none);
    if (alias != none) {
        if (m_matcher->isInstalled(alias)) {
            c.title = alias;
            c.source = TitleChoice::Source::UserAlias;
            return c;
        }
        if (!m_toldMissingAlias.contains(key)) {
            remember(m_toldMissingAlias, key);
            c.firstTime << QStringLiteral(" - Alias of ") + named + QStringLiteral(" to ") + alias +
                               QStringLiteral(" is not installed; matching instead");
        }
    }
    const Matcher::Match m = m_matcher->match(title, engineType);
    c.reason = m.reason;
    c.score = m.score;
    if (m.index < 0) {
        c.title = title;
        c.source = TitleChoice::Source::Remote;
        return c;
    }
    c.title = m.title;
    c.source = TitleChoice::Source::Automatic;
    if (!m_told.contains(key)) {
        remember(m_told, key);
        c.firstTime << QStringLiteral(" - Matched ") + named + QStringLiteral(" to ") + m.title + QStringLiteral(" (") +
                           m.reason + QLatin1Char(')');
    }
    return c;
}

} // namespace hangar
} // namespace airmesh
