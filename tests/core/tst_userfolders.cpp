#include "core/sound.h"
#include "core/userfolders.h"
#include "fakes/fakesoundoutput.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace airmesh;

namespace {

void makeFile(const QString& path) {
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// Sets an environment variable for one scope and puts the old value back.
class EnvGuard {
public:
    EnvGuard(const char* name, const QByteArray& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        qputenv(name, value);
    }
    ~EnvGuard() {
        if (m_had) {
            qputenv(m_name, m_old);
        } else {
            qunsetenv(m_name);
        }
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

class TestUserFolders : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    // A copy in a writable folder of its own keeps everything as it always has.
    void portableCopyUnchanged() {
#ifdef Q_OS_WIN
        QSKIP("the Linux rule (XDG folders); the Windows rule is checked by windowsRule");
#endif
        const QString prog = m_tmp->filePath("prog");
        QVERIFY(QDir().mkpath(prog));
        const EnvGuard config("XDG_CONFIG_HOME", m_tmp->filePath("config").toUtf8());
        const UserFolders f = UserFolders::forProgram(prog);
        QVERIFY(!f.perUser);
        QCOMPARE(f.settingsFile(), prog + "/AirmeshClient.ini");
        QCOMPARE(f.logFile, QString("log.txt"));
        QCOMPARE(f.soundFolders, QStringList{prog});
        QVERIFY(f.prepare());
        QVERIFY(!QFileInfo::exists(m_tmp->filePath("config")));
        QCOMPARE(QDir(prog).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // The bin folder of an installation is per user even where it is writable (root, or an
    // installation in the user's own folders); so is a folder nothing can be written to.
    void installedCopyPerUser_data() {
        QTest::addColumn<QString>("prog");
        QTest::addColumn<bool>("installed");
        QTest::newRow("installation's bin folder") << "usr/bin" << true;
        QTest::newRow("read-only folder") << "/proc" << false;
    }
    void installedCopyPerUser() {
#ifdef Q_OS_WIN
        QSKIP("the Linux rule (XDG folders); the Windows rule is checked by windowsRule");
#endif
        QFETCH(QString, prog);
        QFETCH(bool, installed);
        if (installed) {
            QVERIFY(QDir().mkpath(m_tmp->filePath("usr/share/airmesh/sounds")));
            QVERIFY(QDir().mkpath(m_tmp->filePath(prog)));
            prog = m_tmp->filePath(prog);
        }
        const QString config = m_tmp->filePath("home/config"), state = m_tmp->filePath("home/state");
        const EnvGuard c("XDG_CONFIG_HOME", config.toUtf8()), s("XDG_STATE_HOME", state.toUtf8());

        const UserFolders f = UserFolders::forProgram(prog);
        QVERIFY(f.perUser);
        QCOMPARE(f.settingsFile(), config + "/airmesh/AirmeshClient.ini");
        QCOMPARE(f.logFile, state + "/airmesh/log.txt");
        QStringList sounds{config + "/airmesh", prog};
        if (installed) {
            sounds.append(m_tmp->filePath("usr/share/airmesh/sounds"));
        }
        QCOMPARE(f.soundFolders, sounds);

        // Made on demand, the user's own; the settings file itself only on its first write.
        QVERIFY(!QFileInfo::exists(config));
        QVERIFY(f.prepare());
        for (const QString& folder : {config + "/airmesh", state + "/airmesh"}) {
            QVERIFY(QFileInfo(folder).isDir());
            const QFile::Permissions p = QFile::permissions(folder);
            QVERIFY(p.testFlags(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QVERIFY(!(p & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)));
        }
        QVERIFY(!QFileInfo::exists(f.settingsFile()));
        QVERIFY(f.prepare()); // a second start finds them made
    }

    void writableFolders() {
        QVERIFY(folderIsWritable(m_tmp->path()));
        QVERIFY(QDir(m_tmp->path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)); // probe gone
        QVERIFY(!folderIsWritable(m_tmp->filePath("missing")));
        QVERIFY(!folderIsWritable(QString()));
        makeFile(m_tmp->filePath("file"));
        QVERIFY(!folderIsWritable(m_tmp->filePath("file")));
        if (QFileInfo("/proc/self").exists()) {
            QVERIFY(!folderIsWritable("/proc")); // not even for root
        }
    }

    // Only <prefix>/bin beside <prefix>/share/airmesh is an installation.
    void installationLayout() {
        QVERIFY(QDir().mkpath(m_tmp->filePath("usr/bin")));
        QVERIFY(QDir().mkpath(m_tmp->filePath("opt/tools")));
        QCOMPARE(installedDataFolder(m_tmp->filePath("usr/bin")), QString());
        QVERIFY(QDir().mkpath(m_tmp->filePath("usr/share/airmesh")));
        QVERIFY(QDir().mkpath(m_tmp->filePath("opt/share/airmesh")));
        QCOMPARE(installedDataFolder(m_tmp->filePath("usr/bin")), m_tmp->filePath("usr/share/airmesh"));
        QCOMPARE(installedDataFolder(m_tmp->filePath("usr/bin/")), m_tmp->filePath("usr/share/airmesh"));
        QCOMPARE(installedDataFolder(m_tmp->filePath("opt/tools")), QString());
    }

    void baseDirectories() {
        {
            const EnvGuard c("XDG_CONFIG_HOME", ""), s("XDG_STATE_HOME", "relative/state");
            QCOMPARE(configHome("/home/pilot"), QString("/home/pilot/.config"));
            QCOMPARE(stateHome("/home/pilot"), QString("/home/pilot/.local/state")); // relative: ignored
        }
        const EnvGuard c("XDG_CONFIG_HOME", "/cfg/"), s("XDG_STATE_HOME", "/var/state");
        QCOMPARE(configHome("/home/pilot"), QString("/cfg"));
        QCOMPARE(stateHome("/home/pilot"), QString("/var/state"));
    }

    // A user's own cue beside the settings file wins over the shipped one; a cue the user
    // has not replaced comes from the shipped folder.
    // Windows: a writable program folder keeps everything beside the program (a portable copy);
    // one under Program Files sends the settings and the log to %APPDATA%\Airmesh, with the
    // shipped cues still read beside the program.
    void windowsRule() {
        const UserFolders portable =
            UserFolders::forWindowsProgram("C:/Tools/Airmesh", true, "C:\\Users\\p\\AppData\\Roaming");
        QCOMPARE(portable.settingsFile(), QString("C:/Tools/Airmesh/AirmeshClient.ini"));
        QCOMPARE(portable.logFile, QString("C:/Tools/Airmesh/log.txt"));
        QVERIFY(!portable.perUser);

        const UserFolders installed =
            UserFolders::forWindowsProgram("C:/Program Files/Airmesh", false, "C:\\Users\\p\\AppData\\Roaming");
        QVERIFY(installed.perUser);
        QCOMPARE(installed.settingsFile(), QString("C:/Users/p/AppData/Roaming/Airmesh/AirmeshClient.ini"));
        QCOMPARE(installed.logFile, QString("C:/Users/p/AppData/Roaming/Airmesh/log.txt"));
        QCOMPARE(installed.soundFolders,
                 QStringList({"C:/Users/p/AppData/Roaming/Airmesh", "C:/Program Files/Airmesh"}));

        // No %APPDATA% at all: beside the program rather than nowhere.
        QCOMPARE(UserFolders::forWindowsProgram("C:/Program Files/Airmesh", false, {}).settingsFolder,
                 QString("C:/Program Files/Airmesh"));
    }

    void usersOwnSoundsFirst() {
        const QString own = m_tmp->filePath("config/airmesh"), shipped = m_tmp->filePath("share/sounds");
        makeFile(own + "/crash.wav");
        makeFile(shipped + "/crash.wav");
        makeFile(shipped + "/incoming.wav");
        FakeSoundOutput out;
        SoundCues cues(QStringList{own, m_tmp->filePath("bin"), shipped}, out);
        cues.Play_Sound("crash.wav");
        cues.Play_Sound("incoming.wav");
        cues.Play_Sound("connected.wav");
        QCOMPARE(out.started, QStringList({own + "/crash.wav", shipped + "/incoming.wav"}));
    }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

QTEST_GUILESS_MAIN(TestUserFolders)
#include "tst_userfolders.moc"
