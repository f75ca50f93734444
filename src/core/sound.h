#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace airmesh {
inline namespace core {

// Where cues are played. One cue at a time: start() is only called while isPlaying() is false.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    virtual bool isPlaying() const = 0;
    // Starts playing the wave file at `path` and returns at once.
    virtual void start(const QString& path) = 0;
};

// Plays the cue files of the program folder without waiting. A missing file plays nothing,
// and a cue that comes while another is still playing is dropped, neither queued nor
// cutting the earlier one short. Nothing is ever reported.
class SoundCues {
public:
    SoundCues(QString programFolder, SoundOutput& output) : m_folders{std::move(programFolder)}, m_output(output) {}
    // Each cue from the first of `folders` that holds it (a user's own files before the shipped ones).
    SoundCues(QStringList folders, SoundOutput& output) : m_folders(std::move(folders)), m_output(output) {}

    void Play_Sound(const QString& fileName);

    // Folder and file name joined by exactly one separator.
    static QString cuePath(const QString& folder, const QString& fileName);

private:
    QStringList m_folders;
    SoundOutput& m_output;
};

// The platform's own player: Qt Multimedia on Linux (silent where no audio device exists), winmm
// on Windows (which itself drops a cue while another plays, and plays no substitute sound).
class SystemSoundOutput final : public SoundOutput {
public:
    SystemSoundOutput();
    ~SystemSoundOutput() override;
    bool isPlaying() const override;
    void start(const QString& path) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// An output that plays nothing.
class SilentSoundOutput final : public SoundOutput {
public:
    bool isPlaying() const override { return false; }
    void start(const QString&) override {}
};

} // namespace core
} // namespace airmesh
