#include "sound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace airmesh {
inline namespace core {

struct SystemSoundOutput::Impl {
    std::unique_ptr<QSoundEffect> effect;
};

SystemSoundOutput::SystemSoundOutput() : d(std::make_unique<Impl>()) {}
SystemSoundOutput::~SystemSoundOutput() = default;

bool SystemSoundOutput::isPlaying() const {
    if (!d->effect) {
        return false;
    }
    // A cue still being loaded counts as playing: it will start as soon as it is ready.
    return d->effect->isPlaying() || d->effect->status() == QSoundEffect::Loading;
}

void SystemSoundOutput::start(const QString& path) {
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
