// The settings engine against the system's own profile functions: the same file bytes are read
// through INIFiles and through GetPrivateProfileStringA, and written through INIFiles and through
// WritePrivateProfileStringA; the values read and the bytes written must agree. A row where
// Wine's functions behave otherwise says how.
#include "core/ansi.h"
#include "core/inifiles.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

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

QByteArray ansiPath(const QString& path) {
    return toAnsi(QDir::toNativeSeparators(path));
}

// A read as the settings have always been read: into a 128-character buffer of blanks, which
// is then trimmed at both ends and cut at the terminating zero.
QString apiRead(const QString& path, const QString& section, const QString& key, const QString& dflt) {
    QByteArray buffer(128, ' ');
    GetPrivateProfileStringA(toAnsi(section).constData(), toAnsi(key).constData(), toAnsi(dflt).constData(),
                             buffer.data(), DWORD(buffer.size()), ansiPath(path).constData());
    const QByteArray trimmed = buffer.trimmed();
    const qsizetype end = trimmed.indexOf('\0');
    return fromAnsi(end < 0 ? trimmed : trimmed.left(end));
}

// The file's bytes once the profile functions have written what they hold for it.
QByteArray apiFlushed(const QString& path) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, ansiPath(path).constData());
    return bytesOf(path);
}

QByteArray encoded(QStringConverter::Encoding e, const QString& text) {
    QStringEncoder encoder(e, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

} // namespace

class TestProfileApi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The engine's ANSI files are Windows-1252; the comparison holds only on such a system.
        QCOMPARE(GetACP(), 1252u);
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_engine = m_dir->filePath(QStringLiteral("engine.ini"));
        m_api = m_dir->filePath(QStringLiteral("api.ini"));
    }

    void read_data() {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("dflt");
        QTest::addColumn<QByteArray>("differs"); // why Wine reads otherwise, for a row where it does
        auto row = [](const char* name, const QByteArray& file, const QString& section = "S", const QString& key = "k",
                      const QString& dflt = "dflt", const QByteArray& differs = {}) {
            QTest::newRow(name) << file << section << key << dflt << differs;
        };

        row("no file", QByteArray());
        row("no file, default with blanks", QByteArray(), "S", "k", "  d e  ");
        row("names ignore case", "[general]\r\ndebug=0\r\n", "General", "Debug");
        row("value after the first =", "[S]\r\nk=a=b=c\r\n");
        row("blanks around names and value", "  [ S ]  \r\n\t k \t=  v  x \t\r\n");
        row("blanks around the names asked for", "[S]\r\nk=1\r\n", " S\t", "k ");
        row("double quotes", "[S]\nk=\"v x\"\n");
        row("single quotes", "[S]\nk= 'v' \n");
        row("one pair of quotes only", "[S]\nk=\"\"v\"\"\n");
        row("unmatched quotes kept", "[S]\nk=\"v'\n");
        row("blanks inside quotes", "[S]\nk=\"  v  \"\n");
        row("semicolon inside value", "[S]\nk=a;b ; c\n");
        row("present but empty", "[S]\nk=\nm=1\n");
        row("missing key", "[S]\nother=1\n");
        row("missing section", "[T]\nk=1\n");
        row("key of another section", "[T]\nk=1\n[S]\nj=2\n");
        row("key before any section", "k=1\n[S]\n");
        row("commented key", "[S]\n;k=1\n");
        row("LF-only lines", "[A]\na=1\n[S]\nk=2\n");
        row("CR-only lines", "[A]\ra=1\r[S]\rk=2\r");
        row("mixed line ends", "[S]\r\nk=1\rj=2\n");
        row("key after a lone CR", "[S]\r\nj=1\rk=2\n\rx=3");
        row("UTF-8 mark before the first section", "\xEF\xBB\xBF[S]\r\nk=caf\xC3\xA9\r\n");
        row("UTF-16LE file", encoded(QStringConverter::Utf16LE, QStringLiteral(u"[S]\r\nk=café\r\n")));
        row("UTF-16BE file", encoded(QStringConverter::Utf16BE, QStringLiteral(u"[S]\r\nk=café\r\n")));
        row("NUL ends the value", QByteArray("[S]\nk= ab\0cd\nj=2\n", 17));
        row("NUL after a quoted value", QByteArray("[S]\nk=\"a b\" \0\"\n", 15), "S", "k", "dflt",
            "Wine trims and unquotes up to the line's end, then stops at the NUL: \"a b\" kept with its blank");
        row("no line end at all", "[S]\nk=v");
        row("Windows-1252 value", "[S]\r\nk=caf\xE9 \x80 5\r\n");
        row("Windows-1252 names fold case", "[\xC9T\xC9]\r\n\xC9t\xE9=1\r\n", QStringLiteral(u"été"),
            QStringLiteral(u"ÉTÉ"), "dflt", "Wine's profile functions ignore the case of ASCII letters only");
        row("duplicate keys: first wins", "[S]\nk=1\nK=2\n");
        row("duplicate sections: first wins", "[S]\nk=1\n[s]\nk=2\n");
        row("key only in a later duplicate section", "[S]\na=1\n[S]\nk=2\n", "S", "k", "dflt",
            "Wine looks in the first section of a name only; the engine in each in turn");
        row("200 characters read as 127", "[S]\nk=" + QByteArray(120, 'a') + QByteArray(80, 'b') + "\n");
        row("quoted 200 characters", "[S]\nk=\"" + QByteArray(200, 'q') + "\"\n");
    }

    void read() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, dflt);
        QFETCH(QByteArray, differs);
        if (!file.isNull()) {
            QVERIFY(putBytes(m_engine, file));
            QVERIFY(putBytes(m_api, file));
        }
        if (!differs.isEmpty()) {
            QEXPECT_FAIL("", differs.constData(), Continue);
        }
        QCOMPARE(INIFiles(m_engine).ReadINI(section, key, dflt), apiRead(m_api, section, key, dflt));
    }

    void write_data() {
        QTest::addColumn<QByteArray>("original"); // null: no file
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("differs"); // why Wine writes otherwise, for a row where it does
        auto row = [](const char* name, const QByteArray& original, const QString& section, const QString& key,
                      const QString& value, const QByteArray& differs = {}) {
            QTest::newRow(name) << original << section << key << value << differs;
        };
        // Wine's profile functions write the whole file anew in their own layout, so the rows
        // that keep other lines as they were start from files already in that layout.
        const QByteArray layout("Wine rewrites the whole file: CR LF ends, no blank lines, no blanks around '='");

        row("creates the file", QByteArray(), "General", "PID", "abc");
        const QByteArray settings("; Airmesh settings\r\n[General]\r\nHostIP=10.0.0.1 ; old\r\nPID=old\r\n"
                                  "Unknown=keep me\r\n[Aliasing]\r\nCessna=None\r\n");
        row("replaces a value, keeps every other line", settings, "General", "PID", "new");
        row("new key after its section's last key", settings, "General", "PWD", "secret");
        row("new key in a section without keys", "[S]\r\n; note\r\n[T]\r\nt=1\r\n", "S", "k", "v",
            "Wine adds the key after the section's comment lines; the engine right after its header");
        row("new section at the end", "[T]\r\nt=1\r\n", "S", "k", "v");
        row("new section after a last line without its end", "[T]\r\nt=1", "S", "k", "v");
        row("names match without regard to case", "[general]\r\ndebug=1\r\nx=2\r\n", "General", "Debug", "0");
        row("first of duplicate keys replaced", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "v");
        row("Windows-1252 written", QByteArray(), "S", QStringLiteral(u"clé"), QStringLiteral(u"é€ Ω"));
        row("NUL cuts the value", QByteArray(), "S", "k", QStringLiteral("x") + QChar(0) + "y");
        row("UTF-16LE file keeps its encoding", encoded(QStringConverter::Utf16LE, QStringLiteral(u"[S]\r\nk=1\r\n")),
            "S", "j", QStringLiteral(u"é"));
        row("UTF-8 file keeps its encoding", encoded(QStringConverter::Utf8, QStringLiteral(u"[S]\r\nk=1\r\n")), "S",
            "j", QStringLiteral(u"é"));
        row("blank lines, blanks and LF ends kept",
            "; Airmesh settings\n\n[General]\nHostIP = 10.0.0.1 ; old\r\nPID=old\n\n[Aliasing]\nCessna=None\n",
            "General", "PID", "new", layout);
        row("CR-only lines stay CR-only", "[S]\rk=1\rj=2", "S", "k", "v", layout);
        row("new key in a CR-only file", "[S]\rk=1", "S", "j", "v", layout);
        row("mixed line ends never merge lines", "[S]\r\nk=1\rj=2\n", "S", "k", "v", layout);
        row("LF CR is two line ends", "[S]\nk=1\n\rj=2\n", "S", "j", "v", layout);
    }

    void write() {
        QFETCH(QByteArray, original);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, differs);
        if (!original.isNull()) {
            QVERIFY(putBytes(m_engine, original));
            QVERIFY(putBytes(m_api, original));
        }
        INIFiles engine(m_engine);
        QVERIFY(engine.WriteINI(section, key, value));
        QVERIFY(WritePrivateProfileStringA(toAnsi(section).constData(), toAnsi(key).constData(),
                                           toAnsi(value).constData(), ansiPath(m_api).constData()));
        if (!differs.isEmpty()) {
            QEXPECT_FAIL("", differs.constData(), Continue);
        }
        QCOMPARE(bytesOf(m_engine), apiFlushed(m_api));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_engine;
    QString m_api;
};

QTEST_GUILESS_MAIN(TestProfileApi)
#include "tst_profileapi.moc"
