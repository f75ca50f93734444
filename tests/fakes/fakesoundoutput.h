#pragma once

#include "core/sound.h"

#include <QStringList>

namespace airmesh {

// A sound output that plays nothing and writes down every cue it is asked to start. A cue is
// over at once, or, with `playUntilFinished`, only when the test calls finish().
class FakeSoundOutput final : public SoundOutput {
public:
    bool isPlaying() const override { return m_playing; }
    void start(const QString& path) override;
    void finish() { m_playing = false; }
    // The file names of the cues started, without their folders.
    QStringList cues() const;

    bool playUntilFinished = false;
    QStringList started; // the cues' paths, in order
    int startsWhilePlaying = 0;

private:
    bool m_playing = false;
};

} // namespace airmesh
