#include "core/sound.h"
#include "fakes/fakesoundoutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#ifndef Q_OS_WIN
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QMediaDevices>
#endif

#include <memory>

using namespace airmesh;

namespace {

// A tiny valid wave file: 8 kHz, mono, 16-bit PCM, 0.1 s of a quiet square wave.
QByteArray tinyWave() {
    constexpr quint32 rate = 8000;
    constexpr quint16 bits = 16;
    constexpr quint16 channels = 1;
    QByteArray samples;
    for (int i = 0; i < 800; ++i) {
        const qint16 s = (i / 20) % 2 ? 1000 : -1000;
        samples.append(reinterpret_cast<const char*>(&s), 2); // little-endian host
    }
    auto le32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    auto le16 = [](quint16 v) {
        QByteArray b(2, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    QByteArray w;
    w += "RIFF" + le32(36 + samples.size()) + "WAVE";
    w += "fmt " + le32(16) + le16(1) + le16(channels) + le32(rate) + le32(rate * channels * bits / 8) +
         le16(channels * bits / 8) + le16(bits);
    w += "data" + le32(samples.size()) + samples;
    return w;
}

bool putBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestSound : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void cueWhilePlayingIsDropped() {
        for (const char* name : {"connected.wav", "incoming.wav", "crash.wav"}) {
            QVERIFY(putBytes(m_dir->filePath(QLatin1String(name)), tinyWave()));
        }
        FakeSoundOutput out;
        out.playUntilFinished = true; // the test decides when a cue has finished
        SoundCues cues(m_dir->path(), out);
        cues.Play_Sound(QStringLiteral("connected.wav"));
        cues.Play_Sound(QStringLiteral("incoming.wav"));
        cues.Play_Sound(QStringLiteral("crash.wav"));
        QCOMPARE(out.started, QStringList{m_dir->filePath(QStringLiteral("connected.wav"))});
        out.finish();
        cues.Play_Sound(QStringLiteral("incoming.wav"));
        QCOMPARE(out.started.size(), 2);
        QCOMPARE(out.started.last(), m_dir->filePath(QStringLiteral("incoming.wav")));
        QCOMPARE(out.startsWhilePlaying, 0);
    }

    void missingCuePlaysNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("no such file") << "connected.wav";
        QTest::newRow("a folder of that name") << "folder.wav";
        QTest::newRow("empty name") << "";
    }

    void missingCuePlaysNothing() {
        QFETCH(QString, name);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.wav")));
        FakeSoundOutput out;
        out.playUntilFinished = true;
        SoundCues cues(m_dir->path(), out);
        cues.Play_Sound(name);
        QVERIFY(out.started.isEmpty());
        QVERIFY(!out.isPlaying());
    }

    void cuePath_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no trailing separator") << "/opt/airmesh"
                                               << "/opt/airmesh/crash.wav";
        QTest::newRow("trailing slash") << "/opt/airmesh/"
                                        << "/opt/airmesh/crash.wav";
        QTest::newRow("root") << "/"
                              << "/crash.wav";
        QTest::newRow("drive root, trailing backslash") << "C:\\"
                                                        << "C:\\crash.wav";
        QTest::newRow("backslash folder without trailing one") << "C:\\Airmesh"
                                                               << "C:\\Airmesh/crash.wav";
    }

    void cuePath() {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(SoundCues::cuePath(folder, QStringLiteral("crash.wav")), expected);
    }

    // The platform's player with a real wave file, a broken one and a missing one: returns at
    // once, and nothing crashes or throws; without an audio device nothing plays.
    void systemOutputWithoutDeviceStaysSilent() {
        QVERIFY(putBytes(m_dir->filePath(QStringLiteral("connected.wav")), tinyWave()));
        QVERIFY(putBytes(m_dir->filePath(QStringLiteral("crash.wav")), QByteArray("RIFF\x04\0\0\0WAVEjunk", 16)));
#ifdef Q_OS_WIN
        const bool noDevice = true; // winmm's own bookkeeping: isPlaying() is always false
#else
        const bool noDevice = QMediaDevices::audioOutputs().isEmpty();
#endif
        auto out = std::make_unique<SystemSoundOutput>();
        SoundCues cues(m_dir->path(), *out);
        for (const char* name : {"connected.wav", "crash.wav", "incoming.wav"}) {
            cues.Play_Sound(QLatin1String(name));
            QCoreApplication::processEvents();
            if (noDevice) {
                QVERIFY(!out->isPlaying());
            }
        }
        out.reset(); // destroyed with a cue possibly under way
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
