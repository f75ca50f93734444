#include "core/winepath.h"

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

} // namespace

class TestWinePath : public QObject {
    Q_OBJECT

private slots:
    void init();
    void resolves_data();
    void resolves();
    void othersUnchanged_data();
    void othersUnchanged();
    void prefixFromEnvironment();
    void holdsFile_data();
    void holdsFile();
    void prefixesInOrder();
    void findsSimulator_data();
    void findsSimulator();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_prefix;
};

void TestWinePath::init() {
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_prefix = m_tmp->filePath(QStringLiteral("wine"));
}

void TestWinePath::resolves_data() {
    QTest::addColumn<bool>("dosdevices"); // a prefix as Wine makes it, with drive links
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected"); // below the prefix

    const QString fs = QStringLiteral("Program Files/Microsoft Games/FS2002/");
    QTest::newRow("default folder, drive link") << true << "c:\\program files\\microsoft games\\fs2002\\"
                                                << "dosdevices/c:/" + fs;
    QTest::newRow("default folder, drive_c only") << false << "c:\\program files\\microsoft games\\fs2002\\"
                                                  << "drive_c/" + fs;
    QTest::newRow("capital drive, no trailing separator") << true << "C:\\PROGRAM FILES\\Microsoft Games\\fs2002"
                                                          << "dosdevices/c:/Program Files/Microsoft Games/FS2002";
    QTest::newRow("forward and doubled separators") << true << "c:/program files//MICROSOFT GAMES\\\\fs2002/"
                                                    << "dosdevices/c:/" + fs;
    QTest::newRow("other drive through its link") << true << "D:\\fs2000\\"
                                                  << "dosdevices/d:/FS2000/";
    QTest::newRow("missing name kept as written") << true << "c:\\program files\\No Such Folder\\fs2002\\"
                                                  << "dosdevices/c:/Program Files/No Such Folder/fs2002/";
    QTest::newRow("unmapped drive") << true << "e:\\fs2002\\"
                                    << "dosdevices/e:/fs2002/";
    QTest::newRow("drive only") << false << "c:\\"
                                << "drive_c/";
}

void TestWinePath::resolves() {
    QFETCH(bool, dosdevices);
    QFETCH(QString, path);
    QFETCH(QString, expected);

    makeFile(m_prefix + "/drive_c/Program Files/Microsoft Games/FS2002/FS2000.EXE");
    QVERIFY(QDir().mkpath(m_tmp->filePath("games/FS2000")));
    if (dosdevices) {
        QVERIFY(QDir().mkpath(m_prefix + "/dosdevices"));
        QVERIFY(QFile::link("../drive_c", m_prefix + "/dosdevices/c:"));
        QVERIFY(QFile::link(m_tmp->filePath("games"), m_prefix + "/dosdevices/d:"));
    }
    QCOMPARE(resolveWindowsPath(path, m_prefix), m_prefix + "/" + expected);
}

void TestWinePath::othersUnchanged_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("absolute") << "/opt/fs2002/";
    QTest::newRow("relative") << "fs2002\\";
    QTest::newRow("drive-relative") << "c:fs2002";
    QTest::newRow("UNC") << "\\\\server\\share\\fs2002\\";
    QTest::newRow("empty") << "";
}

void TestWinePath::othersUnchanged() {
    QFETCH(QString, path);
    makeFile(m_prefix + "/drive_c/fs2002/fs2000.exe");
    QCOMPARE(resolveWindowsPath(path, m_prefix), path);
    QCOMPARE(resolveWindowsPath(path), path);
}

void TestWinePath::prefixFromEnvironment() {
    const QByteArray saved = qgetenv("WINEPREFIX");
    const bool hadPrefix = qEnvironmentVariableIsSet("WINEPREFIX");
    makeFile(m_prefix + "/drive_c/FS2002/FS2000.exe");

    qputenv("WINEPREFIX", m_prefix.toUtf8());
    QCOMPARE(winePrefix(), m_prefix);
    QCOMPARE(resolveWindowsPath("c:\\fs2002\\"), m_prefix + "/drive_c/FS2002/");
    qputenv("WINEPREFIX", QByteArray());
    QCOMPARE(winePrefix(), QDir::homePath() + "/.wine");
    qunsetenv("WINEPREFIX");
    QCOMPARE(winePrefix(), QDir::homePath() + "/.wine");

    if (hadPrefix) {
        qputenv("WINEPREFIX", saved);
    }
}

void TestWinePath::holdsFile_data() {
    QTest::addColumn<QString>("entry"); // what the folder holds
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<bool>("expected");
    QTest::newRow("exact name") << "fs2000.exe" << false << true;
    QTest::newRow("capitals") << "FS2000.EXE" << false << true;
    QTest::newRow("mixed case") << "Fs2000.Exe" << false << true;
    QTest::newRow("a folder of that name") << "FS2000.EXE" << true << false;
    QTest::newRow("another file") << "fs2002.exe" << false << false;
}

void TestWinePath::holdsFile() {
    QFETCH(QString, entry);
    QFETCH(bool, isFolder);
    QFETCH(bool, expected);
    const QString folder = m_tmp->filePath("FS2002");
    if (isFolder) {
        QVERIFY(QDir().mkpath(folder + "/" + entry));
    } else {
        makeFile(folder + "/" + entry);
    }
    QCOMPARE(folderHoldsFile(folder, "fs2000.exe"), expected);
    QCOMPARE(folderHoldsFile(folder + "/", "fs2000.exe"), expected);
    QVERIFY(!folderHoldsFile(folder + "/missing", "fs2000.exe"));

    // No folder is not the current folder.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    const bool emptyHolds = folderHoldsFile(QString(), "fs2000.exe");
    QVERIFY(QDir::setCurrent(saved));
    QVERIFY(!emptyHolds);
}

// The prefixes a user has from Wine itself, winetricks, Bottles, PlayOnLinux and Lutris, in
// that order; folders without drive_c are no prefixes.
void TestWinePath::prefixesInOrder() {
    const QString home = m_tmp->filePath("home");
    const QStringList made{"chosen",
                           "home/.wine",
                           "home/.local/share/wineprefixes/a-fs2000",
                           "home/.local/share/wineprefixes/b-fs2002",
                           "home/.local/share/bottles/bottles/FS",
                           "home/.var/app/com.usebottles.bottles/data/bottles/bottles/FS",
                           "home/.PlayOnLinux/wineprefix/FS2002",
                           "home/Games/flight-simulator-2002"};
    for (const QString& prefix : made) {
        QVERIFY(QDir().mkpath(m_tmp->filePath(prefix + "/drive_c")));
    }
    QVERIFY(QDir().mkpath(home + "/.local/share/wineprefixes/c-empty"));
    QVERIFY(QFile::link(home + "/.wine", home + "/Games/wine-again"));

    const QByteArray saved = qgetenv("WINEPREFIX");
    const bool hadPrefix = qEnvironmentVariableIsSet("WINEPREFIX");
    qputenv("WINEPREFIX", m_tmp->filePath("chosen").toUtf8());
    const QStringList prefixes = winePrefixes(home);
    qunsetenv("WINEPREFIX");
    const QStringList unset = winePrefixes(home);
    if (hadPrefix) {
        qputenv("WINEPREFIX", saved);
    }

    QStringList expected;
    for (const QString& prefix : made) {
        expected.append(QFileInfo(m_tmp->filePath(prefix)).canonicalFilePath());
    }
    QCOMPARE(prefixes, expected);
    QCOMPARE(unset, expected.mid(1));
    QCOMPARE(winePrefixes(m_tmp->filePath("nobody")), QStringList());
}

void TestWinePath::findsSimulator_data() {
    QTest::addColumn<QStringList>("files"); // below the prefixes folder: <prefix>/drive_c/...
    QTest::addColumn<QString>("expected");  // empty: none found
    QTest::newRow("default folder") << QStringList{"p1/drive_c/Program Files/Microsoft Games/FS2002/FS2000.EXE"}
                                    << "p1/drive_c/Program Files/Microsoft Games/FS2002/";
    QTest::newRow("64-bit prefix, FS2000, other capitals")
        << QStringList{"p1/drive_c/program files (x86)/microsoft games/fs2000/fs2000.exe"}
        << "p1/drive_c/program files (x86)/microsoft games/fs2000/";
    QTest::newRow("own folder, the later prefix")
        << QStringList{"p1/drive_c/Games/readme.txt", "p2/drive_c/Games/FS2002/fs2000.exe"}
        << "p2/drive_c/Games/FS2002/";
    QTest::newRow("default folder before a shallower one")
        << QStringList{"p1/drive_c/FS/fs2000.exe", "p1/drive_c/Program Files/Microsoft Games/FS2002/fs2000.exe"}
        << "p1/drive_c/Program Files/Microsoft Games/FS2002/";
    QTest::newRow("earlier prefix first")
        << QStringList{"p1/drive_c/a/b/fs2000.exe", "p2/drive_c/Program Files/Microsoft Games/FS2002/fs2000.exe"}
        << "p1/drive_c/a/b/";
    QTest::newRow("too deep") << QStringList{"p1/drive_c/a/b/c/d/fs2000.exe"} << "";
    QTest::newRow("system folder left out") << QStringList{"p1/drive_c/windows/FS2002/fs2000.exe"} << "";
    QTest::newRow("a folder of that name") << QStringList{"p1/drive_c/FS2002/fs2000.exe/x"} << "";
}

void TestWinePath::findsSimulator() {
    QFETCH(QStringList, files);
    QFETCH(QString, expected);
    const QString root = m_tmp->filePath("prefixes");
    for (const QString& file : files) {
        makeFile(root + "/" + file);
    }
    QVERIFY(QDir().mkpath(root + "/p2/drive_c"));
    // The user's folders linked into a prefix are not searched.
    QVERIFY(QDir().mkpath(m_tmp->filePath("elsewhere/FS2002")));
    makeFile(m_tmp->filePath("elsewhere/FS2002/fs2000.exe"));
    QVERIFY(QFile::link(m_tmp->filePath("elsewhere"), root + "/p1/drive_c/linked"));

    const QString found = findSimulatorFolder({root + "/p1", root + "/p2"});
    QCOMPARE(found, expected.isEmpty() ? QString() : root + "/" + expected);
    QCOMPARE(findSimulatorFolder(QStringList()), QString());
}

QTEST_GUILESS_MAIN(TestWinePath)
#include "tst_winepath.moc"
