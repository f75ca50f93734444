// The start-up sequence with real windows on the offscreen platform and the simulator played
// in memory: one copy per user, the splash's decision, the join, the log flags, the main
// window and the hangar.
#include "simlink/memorysession.h"
#include "simlink/simcodec.h"
#include "ui/startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLockFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace airmesh;

namespace {

// The simulator on this machine: a session whose own player accepts the observer.
struct FakeFs {
    MemoryWorld world;
    MemorySessionFactory factory{world};
    qint32 host = 0;
    FakeFs() {
        const QByteArray fs = world.hostSession(SimLink::kFirstAppGuid);
        host = world.addHostPlayer(fs, QStringLiteral("Maverick"), QStringLiteral("Maverick"));
        world.addGroup(fs, QStringLiteral("FS61_REQUEST_PARAMS"));
        world.addGroup(fs, QStringLiteral("FS61_REFUSE_PARAMS"));
        world.onSendToHost = [this](const MemoryWorld::Sent& sent) {
            SimMessage m(sent.bytes);
            if (m.size() >= 4 && m.ReadLong() == simMsgNumber(SimMsg::ObserverJoinRequest)) {
                SimMessage accepted;
                sim::writeHeaderOnly(accepted, SimMsg::ObserverJoinAccepted);
                world.sendFromHost(host, sent.from, accepted);
            }
        };
    }
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Presses a splash button as soon as the splash is on screen.
void pressOnSplash(const QString& buttonText) {
    QTimer::singleShot(0, [buttonText] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* splash = qobject_cast<FrmSplash*>(w); splash && splash->isVisible()) {
                for (QPushButton* b : splash->findChildren<QPushButton*>()) {
                    if (b->text() == buttonText) {
                        b->click();
                        return;
                    }
                }
            }
        }
        pressOnSplash(buttonText); // not shown yet
    });
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_prog = m_dir->filePath(QStringLiteral("prog"));
        m_fs = m_dir->filePath(QStringLiteral("fs"));
        QVERIFY(QDir().mkpath(m_prog));
        QVERIFY(QDir().mkpath(m_fs + QStringLiteral("/aircraft/c172")));
        writeFile(m_fs + QStringLiteral("/fs2000.exe"), {});
        writeFile(m_fs + QStringLiteral("/aircraft/c172/aircraft.cfg"), "[fltsim.0]\r\ntitle=Cessna Skyhawk\r\n");
        m_oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path())); // the log goes to the working folder
    }
    void cleanup() {
        QDir::setCurrent(m_oldCwd);
        m_dir.reset();
    }

    void settingsPathHasOneSeparator() {
        QCOMPARE(Startup::settingsPath(QStringLiteral("/opt/airmesh")),
                 QStringLiteral("/opt/airmesh/AirmeshClient.ini"));
        QCOMPARE(Startup::settingsPath(QStringLiteral("/")), QStringLiteral("/AirmeshClient.ini"));
        QCOMPARE(Startup::settingsPath(QStringLiteral("C:\\")), QStringLiteral("C:\\AirmeshClient.ini"));
    }

    void agreedJoinedAndScanned_data() {
        QTest::addColumn<QByteArray>("flags");
        QTest::addColumn<bool>("handleLine");
        QTest::newRow("no flags: on") << QByteArray() << true;
        QTest::newRow("Debug=0") << QByteArray("Debug=0\r\n") << false;
        QTest::newRow("Debug=False") << QByteArray("Debug=False\r\n") << false;
        QTest::newRow("Debug=True") << QByteArray("Debug=True\r\n") << true;
        QTest::newRow("Debug=maybe: on") << QByteArray("Debug=maybe\r\n") << true;
    }
    void agreedJoinedAndScanned() {
        QFETCH(QByteArray, flags);
        QFETCH(bool, handleLine);
        writeFile(m_prog + QStringLiteral("/AirmeshClient.ini"),
                  "[General]\r\nFSDir=" + QFile::encodeName(m_fs) + "/\r\n" + flags);
        FakeFs fs;
        Startup startup({m_prog, &fs.factory, m_dir->filePath(QStringLiteral("lock")), {}});
        pressOnSplash(QStringLiteral("I agree - Lets Start!"));
        QVERIFY(startup.Main());

        QVERIFY(startup.mainWindow() && startup.mainWindow()->isVisible());
        QCOMPARE(startup.sim().strHandle, QStringLiteral("Maverick"));
        QCOMPARE(startup.hangar().Count(), 1);
        QCOMPARE(startup.mainWindow()->lblStatus()->text(), QStringLiteral("Disconnected"));
        QFile log(QStringLiteral("log.txt"));
        const bool logged =
            log.open(QIODevice::ReadOnly) && log.readAll().contains(" - Your Handle in the game is Maverick\r\n");
        QCOMPARE(logged, handleLine);
    }

    void declinedEndsWithoutJoining() {
        FakeFs fs;
        Startup startup({m_prog, &fs.factory, m_dir->filePath(QStringLiteral("lock")), {}});
        pressOnSplash(QStringLiteral("Don't agree - Quit"));
        QVERIFY(!startup.Main());
        QVERIFY(fs.world.sentToHost().isEmpty()); // the simulator was never asked
        QVERIFY(!startup.mainWindow());
    }

    void secondCopyRefused() {
        const QString lockFolder = m_dir->filePath(QStringLiteral("lock"));
        QDir().mkpath(lockFolder);
        QLockFile first(lockFolder + QStringLiteral("/airmesh-client.lock"));
        QVERIFY(first.tryLock(0)); // a running copy, as far as the second one can tell
        FakeFs fs;
        Startup second({m_prog, &fs.factory, lockFolder, {}});
        // The refusal is a real message box here; answer it.
        QTimer::singleShot(0, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                QTest::keyClick(box, Qt::Key_Enter);
            }
        });
        QVERIFY(!second.Main());
        QVERIFY(!QFile::exists(m_prog + QStringLiteral("/AirmeshClient.ini"))); // nothing touched
    }

    void staleLockOfACrashedCopyIsTakenOver() {
        const QString lockFolder = m_dir->filePath(QStringLiteral("lock"));
        QDir().mkpath(lockFolder);
        // A lock left by a process that no longer exists.
        writeFile(lockFolder + QStringLiteral("/airmesh-client.lock"),
                  "999999999\nairmesh-client\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        writeFile(m_prog + QStringLiteral("/AirmeshClient.ini"),
                  "[General]\r\nFSDir=" + QFile::encodeName(m_fs) + "/\r\n");
        FakeFs fs;
        Startup startup({m_prog, &fs.factory, lockFolder, {}});
        pressOnSplash(QStringLiteral("I agree - Lets Start!"));
        QVERIFY(startup.Main());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_prog;
    QString m_fs;
    QString m_oldCwd;
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
