#include "titlechoice.h"

#include "aliases.h"
#include "matcher.h"

#include "core/inifiles.h"
#include "core/text.h"

namespace airmesh {
inline namespace hangar {

bool TitleChooser::autoMatchOn(const INIFiles& settings) {
    return settingToBool(settings.ReadINI(QStringLiteral("General"), QStringLiteral("AutoMatch"), QStringLiteral("1")),
                         true);
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
    const QString alias = settings.ReadINI(QStringLiteral("Aliasing"), key, none);
    if (alias != none) {
        if (m_matcher->isInstalled(alias)) {
            c.title = alias;
            c.source = TitleChoice::Source::UserAlias;
            return c;
        }
        if (!m_toldMissingAlias.contains(key)) {
            m_toldMissingAlias.insert(key);
            c.firstTime << QStringLiteral(" - Alias of ") + key + QStringLiteral(" to ") + alias +
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
        m_told.insert(key);
        c.firstTime << QStringLiteral(" - Matched ") + key + QStringLiteral(" to ") + m.title + QStringLiteral(" (") +
                           m.reason + QLatin1Char(')');
    }
    return c;
}

} // namespace hangar
} // namespace airmesh
