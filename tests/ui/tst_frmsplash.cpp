#include "fakes/servicesrig.h"
#include "ui/frmmain.h"
#include "ui/frmsplash.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <deque>

using namespace airmesh;

namespace {

const QString kNotFound =
    "Airmesh couldn't find your Flightsim directory or you have selected the incorrect directory.\r\n\r\n"
    "On the next screen please browse to the Main FS directory.\r\n\r\n"
    "EG: \"C:\\Program Files\\Microsoft Games\\FS2002\\\"";
const QString kNoneChosen = "No Directory chosen";

void makeFile(const QString& path, const QByteArray& bytes = {}) {
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A program folder of its own, and an empty Wine prefix so that the machine's own simulator
// installation never answers for the default folder.
struct Rig : ServicesRig {
    FrmSplash splash{services};

    // What the picker hands back, one answer per opening; it records who owned it.
    std::deque<QString> answers;
    int pickerOpenings = 0;

    Rig() {
        qputenv("WINEPREFIX", dir.filePath("wine").toUtf8());
        qputenv("HOME", dir.filePath("home").toUtf8()); // nor the user's other prefixes
        splash.setFolderPicker([this](QWidget* parent) {
            ++pickerOpenings;
            if (parent != &splash || answers.empty()) {
                return QString();
            }
            QString next = answers.front();
            answers.pop_front();
            return next;
        });
        splash.show();
    }

    // A folder holding the simulator, without a trailing separator.
    QString simulatorFolder(const QString& name, const QString& exe = "fs2000.exe") {
        const QString folder = dir.filePath(name);
        makeFile(folder + "/" + exe);
        return folder;
    }
    QString storedFSDir() const { return ini.ReadINI("General", "FSDir", "(none)"); }
};

} // namespace

class TestFrmSplash : public QObject {
    Q_OBJECT

private slots:
    void validStoredFolder_data();
    void validStoredFolder();
    void browsesUntilValid();
    void pickerCancelled();
    void declines_data();
    void declines();
    void keyboard();
    void defaultFolderThroughWine_data();
    void defaultFolderThroughWine();
    void foundInAnotherPrefix();
    void namesTheMakerAsTheMainWindowDoes();
};

void TestFrmSplash::validStoredFolder_data() {
    QTest::addColumn<QString>("exe");
    QTest::addColumn<bool>("trailingSeparator");
    QTest::newRow("as installed") << "fs2000.exe" << true;
    QTest::newRow("capitals") << "FS2000.EXE" << true;
    QTest::newRow("no trailing separator") << "FS2000.exe" << false;
}

void TestFrmSplash::validStoredFolder() {
    QFETCH(QString, exe);
    QFETCH(bool, trailingSeparator);
    Rig rig;
    const QString folder = rig.simulatorFolder("FS2002", exe);
    // Spaced and LF-ended: any rewrite of the file would show in its bytes.
    const QByteArray settings = "[General]\nFSDir = " + (folder + (trailingSeparator ? "/" : "")).toUtf8() + "\n";
    makeFile(rig.ini.FileName(), settings);

    rig.splash.cmdIAgree()->click();

    QVERIFY(!rig.splash.isVisible());
    QVERIFY(!rig.splash.blnQuit());
    QCOMPARE(rig.splash.strFSDir(), folder + "/");
    QCOMPARE(rig.boxes.texts(), QStringList());
    QCOMPARE(rig.pickerOpenings, 0);
    QCOMPARE(readFile(rig.ini.FileName()), settings);
}

void TestFrmSplash::browsesUntilValid() {
    Rig rig;
    const QString wrong = rig.dir.filePath("Games");
    QVERIFY(QDir().mkpath(wrong));
    makeFile(wrong + "/fs2002.exe");
    const QString folder = rig.simulatorFolder("Games/FS2002");
    makeFile(rig.ini.FileName(), "[General]\r\nFSDir=" + rig.dir.filePath("old").toUtf8() + "/\r\n");
    rig.answers = {wrong, folder};

    rig.splash.cmdIAgree()->click();

    QCOMPARE(rig.pickerOpenings, 2);
    QCOMPARE(rig.boxes.texts(), QStringList({kNotFound, kNotFound}));
    QCOMPARE(rig.boxes.titles(), QStringList({"Airmesh", "Airmesh"}));
    QCOMPARE(rig.storedFSDir(), QDir::toNativeSeparators(folder + "/"));
    QCOMPARE(QDir::fromNativeSeparators(rig.splash.strFSDir()), folder + "/");
    QVERIFY(!rig.splash.isVisible());
    QVERIFY(!rig.splash.blnQuit());
}

void TestFrmSplash::pickerCancelled() {
    Rig rig;
    const QString wrong = rig.dir.filePath("Games");
    QVERIFY(QDir().mkpath(wrong));
    rig.answers = {wrong, QString()};

    rig.splash.cmdIAgree()->click();

    QCOMPARE(rig.boxes.texts(), QStringList({kNotFound, kNotFound, kNoneChosen}));
    QCOMPARE(rig.boxes.titles(), QStringList({"Airmesh", "Airmesh", "Airmesh"}));
    QVERIFY(!QFile::exists(rig.ini.FileName()));
    QVERIFY(rig.splash.isVisible());
    QVERIFY(!rig.splash.blnQuit());
    QCOMPARE(rig.splash.strFSDir(), QString());

    // The user may try again; the stored value is the folder as the picker gave it.
    const QString folder = rig.simulatorFolder("FS2002") + "/";
    rig.answers = {folder};
    rig.splash.cmdIAgree()->click();
    QVERIFY(!rig.splash.isVisible());
    QCOMPARE(rig.storedFSDir(), QDir::toNativeSeparators(folder));
}

void TestFrmSplash::declines_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("quit button") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close box") << 2;
}

void TestFrmSplash::declines() {
    QFETCH(int, how);
    Rig rig;
    rig.simulatorFolder("FS2002");
    QVERIFY(QTest::qWaitForWindowActive(&rig.splash));

    switch (how) {
    case 0:
        rig.splash.cmdCancel()->click();
        break;
    case 1:
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        break;
    default:
        rig.splash.close();
        break;
    }

    QVERIFY(!rig.splash.isVisible());
    QVERIFY(rig.splash.blnQuit());
    QCOMPARE(rig.pickerOpenings, 0);
    QCOMPARE(rig.boxes.texts(), QStringList());
    QVERIFY(!QFile::exists(rig.ini.FileName()));
}

void TestFrmSplash::keyboard() {
    Rig rig;
    const QString folder = rig.simulatorFolder("FS2002");
    makeFile(rig.ini.FileName(), "[General]\r\nFSDir=" + folder.toUtf8() + "/\r\n");
    QVERIFY(QTest::qWaitForWindowActive(&rig.splash));

    // The agree button comes first, the quit button next.
    QCOMPARE(QApplication::focusWidget(), rig.splash.cmdIAgree());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), rig.splash.cmdCancel());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!rig.splash.isVisible());
    QVERIFY(!rig.splash.blnQuit());
    QCOMPARE(rig.splash.strFSDir(), folder + "/");
}

void TestFrmSplash::defaultFolderThroughWine_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("driveLink");
    QTest::newRow("no setting, drive_c") << QByteArray() << false;
    QTest::newRow("no setting, drive link") << QByteArray() << true;
    QTest::newRow("stored in other capitals")
        << QByteArray("[General]\r\nFSDir=C:\\PROGRAM FILES\\Microsoft Games\\fs2002\r\n") << true;
}

void TestFrmSplash::defaultFolderThroughWine() {
#ifdef Q_OS_WIN
    QSKIP("on Windows the default folder is a real path: no Wine prefix is searched");
#endif
    QFETCH(QByteArray, settings);
    QFETCH(bool, driveLink);
    Rig rig;
    const QString prefix = rig.dir.filePath("wine");
    makeFile(prefix + "/drive_c/Program Files/Microsoft Games/FS2002/FS2000.EXE");
    QString drive = prefix + "/drive_c";
    if (driveLink) {
        QVERIFY(QDir().mkpath(prefix + "/dosdevices"));
        QVERIFY(QFile::link("../drive_c", prefix + "/dosdevices/c:"));
        drive = prefix + "/dosdevices/c:";
    }
    if (!settings.isEmpty()) {
        makeFile(rig.ini.FileName(), settings);
    }

    rig.splash.cmdIAgree()->click();

    QVERIFY(!rig.splash.isVisible());
    QCOMPARE(rig.pickerOpenings, 0);
    QCOMPARE(rig.boxes.texts(), QStringList());
    QCOMPARE(rig.splash.strFSDir(), drive + "/Program Files/Microsoft Games/FS2002/");
    QCOMPARE(readFile(rig.ini.FileName()), settings);
}

// With no folder of the user's own and none in the default place, the simulator in another of
// the user's prefixes is taken and kept; a folder the user chose is never replaced by it.
void TestFrmSplash::foundInAnotherPrefix() {
#ifdef Q_OS_WIN
    QSKIP("on Windows the default folder is a real path: no Wine prefix is searched");
#endif
    Rig rig;
    const QString folder = rig.dir.filePath("home/.local/share/wineprefixes/fs2002/drive_c/Program Files (x86)/"
                                            "Microsoft Games/FS2002/");
    makeFile(folder + "FS2000.EXE");

    rig.splash.cmdIAgree()->click();
    QVERIFY(!rig.splash.isVisible());
    QCOMPARE(rig.boxes.texts(), QStringList());
    QCOMPARE(rig.splash.strFSDir(), folder);
    QCOMPARE(rig.storedFSDir(), folder);

    Rig chosen;
    qputenv("HOME", rig.dir.filePath("home").toUtf8());
    makeFile(chosen.ini.FileName(), "[General]\r\nFSDir=" + chosen.dir.filePath("gone").toUtf8() + "/\r\n");
    chosen.splash.cmdIAgree()->click();
    QCOMPARE(chosen.boxes.texts(), QStringList({kNotFound, kNoneChosen}));
    QVERIFY(chosen.splash.isVisible());
}

void TestFrmSplash::namesTheMakerAsTheMainWindowDoes() {
    Rig rig;
    QVERIFY(FrmMain::productLine().startsWith("Norvane Airmesh Client (c) Norvane Ver:"));
    for (const char* label : {"lblProductName", "lblCompany"}) {
        QCOMPARE(rig.splash.findChild<QLabel*>(label)->text(), QString("Norvane"));
    }
    QVERIFY(rig.splash.findChild<QLabel*>("lblCopyright")->text().endsWith(" Norvane"));
}

QTEST_MAIN(TestFrmSplash)
#include "tst_frmsplash.moc"
