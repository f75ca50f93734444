// The start-up sequence with real windows on the offscreen platform and the simulator played
// in memory: one copy per user, the splash's decision, the join, the log flags, the main
// window and the hangar.
#include "fakes/fakefs.h"
#include "ui/startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace airmesh;

namespace {

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

// Runs `act` on the main window once start-up has shown it: the first events that run after
// that are those the hangar scan lets run.
void onMainWindow(Startup& startup, std::function<void(FrmMain&)> act) {
    QTimer::singleShot(0, [&startup, act] {
        if (FrmMain* w = startup.mainWindow(); w && w->isVisible()) {
            act(*w);
        } else {
            onMainWindow(startup, act);
        }
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
        FakeFs fs{QStringLiteral("Maverick")};
        Startup startup({m_prog, &fs.factory, m_dir->filePath(QStringLiteral("lock")), {}});
        pressOnSplash(QStringLiteral("I agree - Lets Start!"));
        QVERIFY(startup.Main());

        QVERIFY(startup.mainWindow() && startup.mainWindow()->isVisible());
        QCOMPARE(startup.sim().strHandle(), QStringLiteral("Maverick"));
        QCOMPARE(startup.hangar().Count(), 1);
        QCOMPARE(startup.mainWindow()->lblStatus()->text(), QStringLiteral("Disconnected"));
        QFile log(QStringLiteral("log.txt"));
        const bool logged =
            log.open(QIODevice::ReadOnly) && log.readAll().contains(" - Your Handle in the game is Maverick\r\n");
        QCOMPARE(logged, handleLine);
    }

    void declinedEndsWithoutJoining() {
        FakeFs fs{QStringLiteral("Maverick")};
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
        FakeFs fs{QStringLiteral("Maverick")};
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
#ifdef Q_OS_WIN
        // Qt's own check of the owner differs there, and under Wine a lock written by hand is
        // never taken for stale: this is left to the Linux pass.
        QSKIP("QLockFile's owner check on Windows cannot be fed a lock written by hand under Wine");
#endif
        // A lock left by a process that no longer exists: one that ran and ended just now (a
        // number made up could name a live process).
        QProcess gone;
        gone.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-functions")});
        QVERIFY(gone.waitForStarted(30000));
        const QByteArray pid = QByteArray::number(gone.processId());
        QVERIFY(gone.waitForFinished(30000));
        writeFile(lockFolder + QStringLiteral("/airmesh-client.lock"),
                  pid + "\nairmesh-client\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        writeFile(m_prog + QStringLiteral("/AirmeshClient.ini"),
                  "[General]\r\nFSDir=" + QFile::encodeName(m_fs) + "/\r\n");
        FakeFs fs{QStringLiteral("Maverick")};
        Startup startup({m_prog, &fs.factory, lockFolder, {}});
        pressOnSplash(QStringLiteral("I agree - Lets Start!"));
        QVERIFY(startup.Main());
    }

    // Quitting while the hangar is scanned ends the program at once: the scan stops, start-up
    // returns without the event loop ever running, and the next start is not refused.
    void quitDuringTheScanEndsAtOnce_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Cancel") << false;
        QTest::newRow("close box") << true;
    }
    void quitDuringTheScanEndsAtOnce() {
        QFETCH(bool, closeBox);
        for (int i = 0; i < 50; ++i) { // a hangar whose walk yields 50 times and more
            const QString folder = m_fs + QStringLiteral("/aircraft/addon%1").arg(i);
            QVERIFY(QDir().mkpath(folder));
            writeFile(folder + QStringLiteral("/aircraft.cfg"), "[fltsim.0]\r\ntitle=Addon\r\n");
        }
        writeFile(m_prog + QStringLiteral("/AirmeshClient.ini"),
                  "[General]\r\nFSDir=" + QFile::encodeName(m_fs) + "/\r\n");
        const QString lockFolder = m_dir->filePath(QStringLiteral("lock"));
        FakeFs fs{QStringLiteral("Maverick")};
        Startup startup({m_prog, &fs.factory, lockFolder, {}});
        pressOnSplash(QStringLiteral("I agree - Lets Start!"));
        QString statusWhenQuit;
        onMainWindow(startup, [&](FrmMain& w) {
            statusWhenQuit = w.lblStatus()->text();
            closeBox ? void(w.close()) : w.cmdCancel()->click();
        });

        QVERIFY(!startup.Main());
        QCOMPARE(statusWhenQuit, QStringLiteral("Loading your aircraft list..pls wait"));
        QCOMPARE(startup.hangar().Count(), 0); // no file was read after the quit
        QVERIFY(startup.ending());
        QVERIFY(!startup.mainWindow()->isVisible());
        QVERIFY(!startup.sim().objDP()); // the session is closed
        QLockFile next(lockFolder + QStringLiteral("/airmesh-client.lock"));
        QVERIFY(next.tryLock(0)); // given up already, before this copy is even gone
    }

    // The simulator's session ending is told in a box titled ERROR; then the program ends as
    // by Cancel, and the next start is not refused.
    void simulatorSessionEndingEndsTheProgram() {
        writeFile(m_prog + QStringLiteral("/AirmeshClient.ini"),
                  "[General]\r\nFSDir=" + QFile::encodeName(m_fs) + "/\r\n");
        const QString lockFolder = m_dir->filePath(QStringLiteral("lock"));
        FakeFs fs{QStringLiteral("Maverick")};
        Startup startup({m_prog, &fs.factory, lockFolder, {}});
        pressOnSplash(QStringLiteral("I agree - Lets Start!"));
        QVERIFY(startup.Main());
        QString boxTitle;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                boxTitle = box->windowTitle();
                QTest::keyClick(box, Qt::Key_Enter);
            }
        });
        answer.start(0);

        fs.world.endSession(fs.fs);
        startup.sim().pumpMessages(); // a Timer1 tick
        QTRY_VERIFY(startup.ending());
        QCOMPARE(boxTitle, QStringLiteral("ERROR"));
        QVERIFY(!startup.mainWindow()->isVisible());
        QLockFile next(lockFolder + QStringLiteral("/airmesh-client.lock"));
        QVERIFY(next.tryLock(0));
    }

    // Alt and the letter of a button that is disabled does nothing, in the program's windows:
    // it neither presses the button nor types the letter into the text box that has the focus.
    // An enabled button's accelerator still works.
    void acceleratorOfADisabledButtonTypesNothing() {
        QTcpServer silentServer; // accepts the connection and never answers the logon
        QVERIFY(silentServer.listen(QHostAddress::LocalHost));
        writeFile(m_prog + QStringLiteral("/AirmeshClient.ini"),
                  "[General]\r\nFSDir=" + QFile::encodeName(m_fs) +
                      "/\r\nHostIP=127.0.0.1\r\nPID=1001\r\n"
                      "PWD=4711\r\nClientConnectPort=0\r\nClientConnectTCP=" +
                      QByteArray::number(silentServer.serverPort()) + "\r\n");
        FakeFs fs{QStringLiteral("Maverick")};
        Startup startup({m_prog, &fs.factory, m_dir->filePath(QStringLiteral("lock")), {}});
        pressOnSplash(QStringLiteral("I agree - Lets Start!"));
        QVERIFY(startup.Main());
        FrmMain& w = *startup.mainWindow();
        QLineEdit* host = w.txtHostIP();
        host->setFocus();
        QVERIFY(!w.cmdAlias()->isEnabled());
        QTest::keyClick(host, Qt::Key_A, Qt::AltModifier); // Aliasing, disabled before logon
        QTest::keyClick(host, Qt::Key_X, Qt::AltModifier); // no button has it
        QCOMPARE(host->text(), QStringLiteral("127.0.0.1"));

        // Connect: all three buttons are disabled while the logon is awaited.
        QTest::keyClick(host, Qt::Key_T, Qt::AltModifier);
        QTRY_COMPARE(w.lblStatus()->text(), QStringLiteral("Awaiting Server Logon Validation"));
        QVERIFY(!w.cmdCancel()->isEnabled());
        host->setFocus();
        for (const Qt::Key key : {Qt::Key_C, Qt::Key_T, Qt::Key_A}) {
            QTest::keyClick(host, key, Qt::AltModifier);
        }
        QCOMPARE(host->text(), QStringLiteral("127.0.0.1"));
        QVERIFY(!startup.ending());
        QCOMPARE(startup.services().objINI.ReadINI(QStringLiteral("General"), QStringLiteral("HostIP"), QString()),
                 QStringLiteral("127.0.0.1"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_prog;
    QString m_fs;
    QString m_oldCwd;
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
