#include "sound.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

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

struct QtSoundOutput::Impl {
    std::unique_ptr<QSoundEffect> effect;
};

QtSoundOutput::QtSoundOutput() : d(std::make_unique<Impl>()) {}
QtSoundOutput::~QtSoundOutput() = default;

bool QtSoundOutput::isPlaying() const {
    if (!d->effect) {
        return false;
    }
    // A cue still being loaded counts as playing: it will start as soon as it is ready.
    return d->effect->isPlaying() || d->effect->status() == QSoundEffect::Loading;
}

void QtSoundOutput::start(const QString& path) {
    if (QMediaDevices::audioOutputs().isEmpty()) {
        return;
    }
    d->effect = std::make_unique<QSoundEffect>();
    QSoundEffect* e = d->effect.get();
    e->setSource(QUrl::fromLocalFile(path));
    // Play once loaded; an unreadable file ends in the Error status and plays nothing.
    QObject::connect(e, &QSoundEffect::statusChanged, e, [e] {
        if (e->status() == QSoundEffect::Ready) {
            e->play();
        }
    });
    if (e->status() == QSoundEffect::Ready) {
        e->play();
    }
}

} // namespace core
} // namespace airmesh
