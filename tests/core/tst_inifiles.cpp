#include "core/ansi.h"
#include "core/inifiles.h"
#include "core/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>
#include <sys/stat.h>

using namespace airmesh;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool putBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Whether this process is held to file modes at all (root with its usual capabilities is not).
bool modesEnforced(const QString& scratch) {
    QDir().mkpath(scratch);
    QFile::setPermissions(scratch, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(scratch + QStringLiteral("/probe"));
    const bool enforced = !probe.open(QIODevice::WriteOnly);
    probe.close();
    QFile::setPermissions(scratch, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir(scratch).removeRecursively();
    return enforced;
}

int sectionLines(const QByteArray& file) {
    int n = 0;
    for (const QByteArray& line : file.split('\n')) {
        if (profile::classify(std::string_view(line.constData(), line.size())).kind == profile::Line::Kind::Section) {
            ++n;
        }
    }
    return n;
}

} // namespace

class TestIniFiles : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(QStringLiteral("AirmeshClient.ini"));
    }

    void read_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const QByteArray& file, const QString& expected, const QString& section = "S",
                      const QString& key = "k") { QTest::newRow(name) << file << section << key << expected; };

        row("names ignore case", "[general]\r\ndebug=0\r\n", "0", "General", "Debug");
        row("value after the first =", "[S]\r\nk=a=b=c\r\n", "a=b=c");
        row("blanks around names and value", "  [ S ]  \r\n\t k \t=  v  x \t\r\n", "v  x");
        row("double quotes", "[S]\nk=\"v x\"\n", "v x");
        row("single quotes", "[S]\nk= 'v' \n", "v");
        row("one pair of quotes only", "[S]\nk=\"\"v\"\"\n", "\"v\"");
        row("unmatched quotes kept", "[S]\nk=\"v'\n", "\"v'");
        // Read through a blank-filled buffer trimmed at both ends: blanks kept by quotes are
        // lost at the start, kept at the end.
        row("blanks inside quotes", "[S]\nk=\"  v  \"\n", "v  ");
        row("semicolon inside value", "[S]\nk=a;b ; c\n", "a;b ; c");
        row("present but empty", "[S]\nk=\nm=1\n", "");
        row("missing key", "[S]\nother=1\n", "dflt");
        row("missing section", "[T]\nk=1\n", "dflt");
        row("key of another section", "[T]\nk=1\n[S]\nj=2\n", "dflt");
        row("key before any section", "k=1\n[S]\n", "dflt");
        row("commented key", "[S]\n;k=1\n", "dflt");
        row("LF-only lines", "[A]\na=1\n[S]\nk=2\n", "2");
        row("CR-only lines", "[A]\ra=1\r[S]\rk=2\r", "2");
        row("mixed line ends", "[S]\r\nk=1\rj=2\n", "1");
        row("key after a lone CR", "[S]\r\nj=1\rk=2\n\rx=3", "2");
        row("UTF-8 mark before the first section", "\xEF\xBB\xBF[S]\r\nk=caf\xC3\xA9\r\n", QStringLiteral(u"café"));
        row("NUL ends the value", QByteArray("[S]\nk= ab\0cd\nj=2\n", 17), "ab");
        row("NUL after a quoted value", QByteArray("[S]\nk=\"a b\" \0\"\n", 15), "a b");
        row("no line end at all", "[S]\nk=v", "v");
        row("Windows-1252 value", "[S]\r\nk=caf\xE9 \x80 5\r\n", QStringLiteral(u"café € 5"));
        row("Windows-1252 names fold case", "[\xC9T\xC9]\r\n\xC9t\xE9=1\r\n", "1", QStringLiteral(u"été"),
            QStringLiteral(u"ÉTÉ"));
        row("duplicate keys: first wins", "[S]\nk=1\nK=2\n", "1");
        row("duplicate sections: first wins", "[S]\nk=1\n[s]\nk=2\n", "1");
        row("key only in a later duplicate section", "[S]\na=1\n[S]\nk=2\n", "2");

        // Large sections are searched through a hash index; the same rules hold there.
        QByteArray large("[S]\n");
        for (int i = 0; i < 40; ++i) {
            large += "key" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\n";
        }
        row("duplicate keys in a large section", large + "K=first\nk=second\n", "first");
        row("key found in a large section", large, "39", "S", "KEY39");

        const QByteArray longValue = QByteArray(120, 'a') + QByteArray(80, 'b');
        row("200 characters read as 127", "[S]\nk=" + longValue + "\n", QString::fromLatin1(longValue.left(127)));
    }

    void read() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QVERIFY(putBytes(m_path, file));
        const INIFiles ini(m_path);
        QCOMPARE(ini.ReadINI(section, key, QStringLiteral("dflt")), expected);
    }

    void readWithoutFile() {
        const INIFiles missing(m_path);
        QCOMPARE(missing.ReadINI("General", "Debug", -1), "-1");
        QCOMPARE(missing.ReadINI("General", "HostConnectPort", QStringLiteral("1500")), "1500");
        const INIFiles missingFolder(m_dir->filePath(QStringLiteral("none/AirmeshClient.ini")));
        QCOMPARE(missingFolder.ReadINI("General", "PID", QString()), "");
        const INIFiles folder(m_dir->path());
        QCOMPARE(folder.ReadINI("General", "Debug", 0), "0");
    }

    void write_data() {
        QTest::addColumn<QByteArray>("original"); // null: no file
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expected");
        auto row = [](const char* name, const QByteArray& original, const QString& section, const QString& key,
                      const QString& value, const QByteArray& expected) {
            QTest::newRow(name) << original << section << key << value << expected;
        };

        row("creates the file", QByteArray(), "General", "PID", "abc", "[General]\r\nPID=abc\r\n");
        const QByteArray settings("; Airmesh settings\n\n[General]\nHostIP = 10.0.0.1 ; old\r\nPID=old\n"
                                  "Unknown=keep me\n\n[Aliasing]\nCessna=None\n");
        // Every other line keeps its bytes and its own line end; new lines end as the file's first.
        row("replaces a value, keeps every other line", settings, "General", "PID", "new",
            "; Airmesh settings\n\n[General]\nHostIP = 10.0.0.1 ; old\r\nPID=new\n"
            "Unknown=keep me\n\n[Aliasing]\nCessna=None\n");
        row("new key after its section's last key", settings, "General", "PWD", "secret",
            "; Airmesh settings\n\n[General]\nHostIP = 10.0.0.1 ; old\r\nPID=old\n"
            "Unknown=keep me\nPWD=secret\n\n[Aliasing]\nCessna=None\n");
        row("new key in a section without keys", "[S]\r\n; note\r\n[T]\r\nt=1\r\n", "S", "k", "v",
            "[S]\r\nk=v\r\n; note\r\n[T]\r\nt=1\r\n");
        row("new section at the end", "[T]\nt=1", "S", "k", "v", "[T]\nt=1\n[S]\nk=v\n");
        row("names match without regard to case", "[general]\ndebug=1\nx=2\n", "General", "Debug", "0",
            "[general]\ndebug=0\nx=2\n");
        row("first of duplicate keys replaced", "[S]\nk=1\nk=2\n", "S", "k", "v", "[S]\nk=v\nk=2\n");
        row("CR-only lines stay CR-only", "[S]\rk=1\rj=2", "S", "k", "v", "[S]\rk=v\rj=2");
        row("new key in a CR-only file", "[S]\rk=1", "S", "j", "v", "[S]\rk=1\rj=v\r");
        // A CR alone ends a line even among CR LF lines: the value never takes the next key.
        row("mixed line ends never merge lines", "[S]\r\nk=1\rj=2\n", "S", "k", "v", "[S]\r\nk=v\rj=2\n");
        row("LF CR is two line ends", "[S]\nk=1\n\rj=2\n", "S", "j", "v", "[S]\nk=1\n\rj=v\n");
        row("Windows-1252 written", QByteArray(), "S", QStringLiteral(u"clé"), QStringLiteral(u"é€ Ω"),
            "[S]\r\ncl\xE9=\xE9\x80 ?\r\n");
        row("line break cuts the value", "[S]\nk=1\n", "S", "k", "x\r\n[Evil]\r\ninj=1", "[S]\nk=x\n");
        row("NUL cuts the value", QByteArray(), "S", "k", QStringLiteral("x") + QChar(0) + "y\n[Evil]",
            "[S]\r\nk=x\r\n");
    }

    void write() {
        QFETCH(QByteArray, original);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, expected);
        if (!original.isNull()) {
            QVERIFY(putBytes(m_path, original));
        }
        INIFiles ini(m_path);
        QVERIFY(ini.WriteINI(section, key, value));
        QCOMPARE(bytesOf(m_path), expected);
        QCOMPARE(ini.ReadINI("Evil", "inj", QStringLiteral("none")), "none");
    }

    // Aircraft titles are keys; whatever characters they hold, each reads back as written and
    // never disturbs another entry.
    void awkwardKeysRoundTrip() {
        INIFiles ini(m_path);
        QList<std::pair<QString, QString>> written;
        QVERIFY(ini.WriteINI("General", "PID", "pilot"));
        const QStringList keys = {
            QStringLiteral("Boeing 737-400 (KLM) \"Orange\""),
            QStringLiteral("A=B"),
            QStringLiteral("A%3DB"),
            QStringLiteral("A%253DB"),
            QStringLiteral("[Bracketed] title"),
            QStringLiteral(";Semicolon first"),
            QStringLiteral("="),
            QStringLiteral("100%"),
            QStringLiteral("%zz %4"),
            QStringLiteral("trailing ]"),
            QStringLiteral(u"Éclair € 1"),
            QStringLiteral("line\r\n[General]\r\nPID=hacked"),
        };
        for (const QString& key : keys) {
            const QString value = QStringLiteral("value %1").arg(written.size());
            QVERIFY(ini.WriteINI(QStringLiteral("Aliasing"), key, value));
            written.append({key, value});
            for (const auto& [k, v] : written) {
                QCOMPARE(ini.ReadINI(QStringLiteral("Aliasing"), k, QStringLiteral("None")), v);
            }
            QCOMPARE(ini.ReadINI("General", "PID", QString()), "pilot");
        }
        QCOMPARE(ini.ReadINI(QStringLiteral("Aliasing"), QStringLiteral("A"), QStringLiteral("None")), "None");
        QCOMPARE(sectionLines(bytesOf(m_path)), 2);

        // A name ends at its first NUL.
        QVERIFY(ini.WriteINI(QStringLiteral("Aliasing"), QStringLiteral("ab") + QChar(0) + "cd", "nul"));
        QCOMPARE(ini.ReadINI(QStringLiteral("Aliasing"), QStringLiteral("ab"), QString()), "nul");
        // Blanks around section and key names are not part of them, on either side.
        QVERIFY(ini.WriteINI(QStringLiteral(" Aliasing "), QStringLiteral(" Spaced "), "s"));
        QCOMPARE(ini.ReadINI(QStringLiteral("Aliasing"), QStringLiteral("Spaced"), QString()), "s");
        QCOMPARE(ini.ReadINI(QStringLiteral(" Aliasing\t"), QStringLiteral("Spaced "), QString()), "s");
    }

    void refusedSections_data() {
        QTest::addColumn<QString>("section");
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << "  ";
        QTest::newRow("closing bracket") << "a]b";
        QTest::newRow("line break") << "a\r\n[General";
        QTest::newRow("NUL") << QStringLiteral("a") + QChar(0);
    }

    void refusedSections() {
        QFETCH(QString, section);
        const QByteArray original("[General]\nPID=p\n");
        QVERIFY(putBytes(m_path, original));
        INIFiles ini(m_path);
        QVERIFY(!ini.WriteINI(section, "k", "v"));
        QVERIFY(!ini.WriteINI("General", "  ", "v"));
        QCOMPARE(bytesOf(m_path), original);
    }

    void modes() {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps access lists, not mode bits: a new file takes its folder's");
#endif
        const mode_t oldMask = ::umask(0);
        INIFiles ini(m_path);
        const bool written = ini.WriteINI("General", "PWD", "secret");
        ::umask(oldMask);
        QVERIFY(written);
        QCOMPARE(modeOf(m_path), mode_t(0600));

        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
        QVERIFY(ini.WriteINI("General", "PID", "p"));
        QCOMPARE(modeOf(m_path), mode_t(0640));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("AirmeshClient.ini")});
    }

    void failedWriteLeavesFile_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("target is a folder") << "folder";
        QTest::newRow("parent is a plain file") << "parentfile";
        QTest::newRow("folder not writable") << "readonlyfolder";
        QTest::newRow("file read-only") << "readonlyfile";
    }

    void failedWriteLeavesFile() {
        QFETCH(QString, setup);
        const QByteArray original("[General]\nPID=p\n");
        QString folder = m_dir->filePath(QStringLiteral("sub"));
        QString path = folder + QStringLiteral("/AirmeshClient.ini");
        QVERIFY(QDir().mkpath(folder));
        if (setup == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
            QVERIFY(putBytes(path + QStringLiteral("/inside"), original));
        } else if (setup == QLatin1String("parentfile")) {
            QVERIFY(putBytes(folder + QStringLiteral("/plain"), original));
            path = folder + QStringLiteral("/plain/AirmeshClient.ini");
        } else {
            if (!modesEnforced(m_dir->filePath(QStringLiteral("probe")))) {
                QSKIP("file modes are not enforced for this user");
            }
            QVERIFY(putBytes(path, original));
            const QString target = setup == QLatin1String("readonlyfolder") ? folder : path;
            QVERIFY(::chmod(QFile::encodeName(target).constData(),
                            setup == QLatin1String("readonlyfolder") ? 0555 : 0444) == 0);
        }

        INIFiles ini(path);
        QVERIFY(!ini.WriteINI("General", "PID", "changed"));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        const QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(left.size() == 1, qPrintable(left.join(QLatin1Char(' '))));
        if (setup.startsWith(QLatin1String("readonly"))) {
            QCOMPARE(bytesOf(path), original);
            QCOMPARE(ini.ReadINI("General", "PID", QString()), "p");
        }
    }

    void writesThroughSymlink() {
#ifdef Q_OS_WIN
        QSKIP("QFile::link makes a shortcut (.lnk) on Windows, not a link the file system follows");
#endif
        const QString real = m_dir->filePath(QStringLiteral("dotfiles/AirmeshClient.ini"));
        QVERIFY(QDir().mkpath(QFileInfo(real).path()));
        QVERIFY(putBytes(real, "[General]\nPID=p\n"));
        QVERIFY(QFile::link(real, m_path));
        INIFiles ini(m_path);
        QVERIFY(ini.WriteINI("General", "PID", "q"));
        QVERIFY(QFileInfo(m_path).isSymLink());
        QCOMPARE(bytesOf(real), QByteArray("[General]\nPID=q\n"));
    }

    void handEditsSeen_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("same size in place") << "inplace"
                                            << "bbbb";
        QTest::newRow("same size in place, old time kept") << "inplace-oldtime"
                                                           << "bbbb";
        QTest::newRow("longer") << "longer"
                                << "bbbbbbbb";
        QTest::newRow("replaced by another file") << "replace"
                                                  << "cccc";
        QTest::newRow("deleted") << "delete"
                                 << "none";
    }

    void handEditsSeen() {
        QFETCH(QString, edit);
        QFETCH(QString, expected);
        QVERIFY(putBytes(m_path, "[S]\r\nk=aaaa\r\n"));
        const QDateTime before = QFileInfo(m_path).lastModified();
        INIFiles ini(m_path);
        QCOMPARE(ini.ReadINI("S", "k", QStringLiteral("none")), "aaaa");
        QCOMPARE(ini.ReadINI("S", "k", QStringLiteral("none")), "aaaa");

        if (edit.startsWith(QLatin1String("inplace"))) {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(7));
            QCOMPARE(f.write("bbbb"), 4);
            f.close();
            if (edit.endsWith(QLatin1String("oldtime"))) {
                QVERIFY(f.open(QIODevice::ReadWrite));
                QVERIFY(f.setFileTime(before, QFileDevice::FileModificationTime));
            }
        } else if (edit == QLatin1String("longer")) {
            QVERIFY(putBytes(m_path, "[S]\r\nk=bbbbbbbb\r\n"));
        } else if (edit == QLatin1String("replace")) {
            const QString other = m_dir->filePath(QStringLiteral("other.ini"));
            QVERIFY(putBytes(other, "[S]\r\nk=cccc\r\n"));
            std::error_code error;
            std::filesystem::rename(other.toStdWString(), m_path.toStdWString(), error);
            QVERIFY(!error);
        } else {
            QVERIFY(QFile::remove(m_path));
        }
        QCOMPARE(ini.ReadINI("S", "k", QStringLiteral("none")), expected);
    }

    // Files saved by other editors: "Unicode" (UTF-16LE with its mark), big-endian UTF-16 and UTF-8
    // with a mark. Every value reads, names fold case beyond Windows-1252, and writes keep the
    // encoding, the mark and every other line; new lines end CR LF as the file's do.
    void unicodeFiles_data() {
        QTest::addColumn<int>("encoding");
        QTest::newRow("UTF-16LE") << int(QStringConverter::Utf16LE);
        QTest::newRow("UTF-16BE") << int(QStringConverter::Utf16BE);
        QTest::newRow("UTF-8") << int(QStringConverter::Utf8);
    }

    void unicodeFiles() {
        QFETCH(int, encoding);
        const auto encoded = [encoding](const QString& text) {
            QStringEncoder e(QStringConverter::Encoding(encoding), QStringConverter::Flag::WriteBom);
            return QByteArray(e.encode(text));
        };
        const QString general = QStringLiteral(u"; saved by Notepad\r\n[General]\r\nHostIP=10.0.0.1\r\nPID=4711\r\n"
                                               u"PWD=12345678\r\nFSDir=C:\\FS2002\\\r\n\r\n");
        const QString aliases = QStringLiteral(u"[Aliasing]\r\nTupolev Ту-154 ✈=Boeing 737-400\r\nÉclair 😀=Ил-62\r\n");
        QVERIFY(putBytes(m_path, encoded(general + aliases)));
        INIFiles ini(m_path);
        QCOMPARE(ini.ReadINI("General", "HostIP", QString()), "10.0.0.1");
        QCOMPARE(ini.ReadINI("general", "pid", QString()), "4711");
        QCOMPARE(ini.ReadINI("General", "PWD", QString()), "12345678");
        QCOMPARE(ini.ReadINI("General", "FSDir", QString()), "C:\\FS2002\\");
        QCOMPARE(ini.ReadINI("Aliasing", QStringLiteral(u"TUPOLEV ТУ-154 ✈"), "None"), "Boeing 737-400");
        QCOMPARE(ini.ReadINI("Aliasing", QStringLiteral(u"éclair 😀"), "None"), QStringLiteral(u"Ил-62"));

        QVERIFY(ini.WriteINI("General", "PID", "1002"));
        QVERIFY(ini.WriteINI("Aliasing", QStringLiteral(u"Ил-62"), QStringLiteral(u"Туполев")));
        QVERIFY(ini.WriteINI("Extra", "k", "v"));
        QString expected = general + aliases + QStringLiteral(u"Ил-62=Туполев\r\n[Extra]\r\nk=v\r\n");
        expected.replace(QStringLiteral("PID=4711"), QStringLiteral("PID=1002"));
        QCOMPARE(bytesOf(m_path), encoded(expected));
        QCOMPARE(ini.ReadINI("Aliasing", QStringLiteral(u"ил-62"), "None"), QStringLiteral(u"Туполев"));

        // A file holding only the mark is still that encoding.
        QStringEncoder plain{QStringConverter::Encoding(encoding)};
        const QByteArray mark = encoded(QStringLiteral("x")).chopped(QByteArray(plain.encode(u"x")).size());
        QVERIFY(putBytes(m_path, mark));
        QVERIFY(ini.WriteINI("General", "PID", "7"));
        QCOMPARE(bytesOf(m_path), mark + plain.encode(u"[General]\r\nPID=7\r\n"));
    }

    // What a UTF-16 file holds that is no valid text (a lone surrogate, an odd last byte) never
    // disturbs the rest: the other lines are written back byte for byte.
    void utf16BytesKept() {
        const auto units = [](std::initializer_list<char16_t> u) {
            QByteArray b;
            for (const char16_t c : u) {
                b.append(char(c & 0xFF)).append(char(c >> 8));
            }
            return b;
        };
        const QByteArray head = "\xFF\xFE" + units({';', 0xD800, 'x', 0xDC00, '\r', '\n', '[', 'S', ']', '\r', '\n'});
        QVERIFY(putBytes(m_path, head + units({'k', '=', 0xD83D, 0xDE00, 0xDBFF, '\r', 'j', '=', '2'}) + "\x41"));
        INIFiles ini(m_path);
        QCOMPARE(ini.ReadINI("S", "k", QString()), QStringLiteral(u"😀") + QChar(char16_t(0xDBFF)));
        QCOMPARE(ini.ReadINI("S", "j", QString()), "2");
        QVERIFY(ini.WriteINI("S", "k", "1"));
        QCOMPARE(bytesOf(m_path), head + units({'k', '=', '1', '\r', 'j', '=', '2'}));
    }

    void settingToBool_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("otherwise");
        QTest::addColumn<bool>("expected");
        auto row = [](const char* text, bool otherwise, bool expected) {
            QTest::newRow(*text ? text : "empty") << QString::fromLatin1(text) << otherwise << expected;
        };
        row(" tRUE ", false, true);
        row("FALSE", true, false);
        row("-1", false, true);
        row("0.0", true, false);
        row("2", false, true);
        row("yes", false, false);
        row("", true, true);
    }

    void settingToBool() {
        QFETCH(QString, text);
        QFETCH(bool, otherwise);
        QFETCH(bool, expected);
        QCOMPARE(airmesh::settingToBool(text, otherwise), expected);
    }

    // The settings file's code page: every byte survives a round trip, and what the code page
    // lacks becomes one '?' per character.
    void ansiCodePage() {
        QByteArray all(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i) {
            all[i] = static_cast<char>(i);
        }
        QCOMPARE(toAnsi(fromAnsi(all)), all);
        QCOMPARE(fromAnsi(QByteArray("\xE9\x80\x9F")), QStringLiteral(u"é€Ÿ"));
        QCOMPARE(toAnsi(QStringLiteral(u"Ω✈x\U0001F600y")), QByteArray("??x?y"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestIniFiles)
#include "tst_inifiles.moc"
