#include "sound.h"

#include <QDir>

#include <windows.h>

#include <mmsystem.h>

namespace airmesh {
inline namespace core {

// winmm does what the cues need by itself: SND_ASYNC returns at once, SND_NODEFAULT plays
// nothing for a missing or unreadable file, SND_NOSTOP leaves a playing cue alone and drops the
// new one. The wide-character call takes any path the user's folders can have.
struct SystemSoundOutput::Impl {};

SystemSoundOutput::SystemSoundOutput() = default;
SystemSoundOutput::~SystemSoundOutput() = default;

bool SystemSoundOutput::isPlaying() const {
    return false;
}

void SystemSoundOutput::start(const QString& path) {
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    PlaySoundW(native.c_str(), nullptr, SND_ASYNC | SND_NODEFAULT | SND_NOSTOP | SND_FILENAME);
}

} // namespace core
} // namespace airmesh
