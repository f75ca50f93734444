#include "sound.h"

#include <QFileInfo>

namespace airmesh {
inline namespace core {

QString SoundCues::cuePath(const QString& folder, const QString& fileName) {
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'))) {
        return folder + fileName;
    }
    return folder + QLatin1Char('/') + fileName;
}

void SoundCues::Play_Sound(const QString& fileName) {
    for (const QString& folder : m_folders) {
        const QString path = cuePath(folder, fileName);
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable()) {
            continue;
        }
        if (!m_output.isPlaying()) {
            m_output.start(path);
        }
        return;
    }
}

} // namespace core
} // namespace airmesh
