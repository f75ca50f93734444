#include "fakesoundoutput.h"

#include <QFileInfo>

namespace airmesh {

void FakeSoundOutput::start(const QString& path) {
    if (m_playing) {
        ++startsWhilePlaying;
    }
    started.append(path);
    m_playing = playUntilFinished;
}

QStringList FakeSoundOutput::cues() const {
    QStringList out;
    for (const QString& path : started) {
        out << QFileInfo(path).fileName();
    }
    return out;
}

} // namespace airmesh
