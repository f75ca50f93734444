#pragma once

#include <QSet>
#include <QString>

namespace airmesh {
inline namespace core {
class INIFiles;
} // namespace core
} // namespace airmesh

namespace airmesh {
inline namespace hangar {

class Matcher;

// The title a remote aircraft is shown under, and why.
struct TitleChoice {
    enum class Source {
        Remote,    // the remote title itself
        UserAlias, // the user's alias from [Aliasing]
        Automatic, // the matcher's choice
    };
    QString title;
    Source source = Source::Remote;
    QString reason; // for an automatic choice
    int score = 0;
    // Log lines to write once: the first choice for this remote title, an alias whose target is
    // not installed. Empty when there is nothing new to tell.
    QStringList firstTime;
};

// Chooses the title to show for remote aircraft, remembering which titles it has told of.
//
// Without a matcher (the hangar not scanned yet) or with [General] AutoMatch=0 it is GetAlias
// exactly. Otherwise: the user's alias when its target is installed; else the matcher's choice
// (an alias whose target is gone is logged once and matched past); the remote title when
// nothing installed is of its kind.
class TitleChooser {
public:
    void setMatcher(const Matcher* matcher) { m_matcher = matcher; }
    const Matcher* matcher() const { return m_matcher; }

    TitleChoice choose(const INIFiles& settings, const QString& title, int engineType);

    // Whether [General] AutoMatch is on (the default).
    static bool autoMatchOn(const INIFiles& settings);

    // The most remote titles remembered as told.
    static constexpr qsizetype kMaxRemembered = 4096;

private:
    static void remember(QSet<QString>& told, const QString& title);

    const Matcher* m_matcher = nullptr;
    QSet<QString> m_told; // remote titles logged
    QSet<QString> m_toldMissingAlias;
};

} // namespace hangar
} // namespace airmesh
