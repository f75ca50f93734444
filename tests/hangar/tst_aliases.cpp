#include "core/inifiles.h"
#include "hangar/aliases.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace airmesh;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A title as the server delivers it: text, a NUL, then space padding to the field's width.
QString padded(const QString& title) {
    return title + QChar(0) + QString(40, ' ');
}

} // namespace

class TestAliases : public QObject {
    Q_OBJECT

private slots:
    void withoutAliases();
    void lookup_data();
    void lookup();
    void aliasWrittenBySettingsIsFound();
    void handEditSeenAtNextLookup();
};

void TestAliases::withoutAliases() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    INIFiles settings(tmp.path() + "/AirmeshClient.ini");
    const QStringList titles{"  Boeing 737-400  ", padded("Boeing 737-400"), "", "   ", "None"};

    // No file at all.
    for (const QString& t : titles) {
        QCOMPARE(GetAlias(settings, t), t);
    }
    // A file without the section, holding the same key elsewhere.
    writeFile(settings.FileName(), "[General]\r\nHostIP=10.0.0.1\r\nBoeing 737-400=Cessna\r\n");
    for (const QString& t : titles) {
        QCOMPARE(GetAlias(settings, t), t);
    }
    // An empty section.
    writeFile(settings.FileName(), "[Aliasing]\r\n[General]\r\nBoeing 737-400=Cessna\r\n");
    for (const QString& t : titles) {
        QCOMPARE(GetAlias(settings, t), t);
    }
}

void TestAliases::lookup_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");

    const QString alias = "Cessna Skyhawk 172SP Paint1";
    QTest::newRow("as stored") << "Boeing 737-400 Paint1" << alias;
    QTest::newRow("capitals") << "BOEING 737-400 PAINT1" << alias;
    QTest::newRow("surrounding spaces") << "   boeing 737-400 paint1  " << alias;
    QTest::newRow("NUL and padding") << padded("BOEING 737-400 PAINT1") << alias;
    QTest::newRow("NUL and junk") << QString("Boeing 737-400 Paint1") + QChar(0) + "Paint2" << alias;
    QTest::newRow("other text after the title") << "Boeing 737-400 Paint12"
                                                << "Boeing 737-400 Paint12";
    QTest::newRow("title before the NUL differs") << padded("Boeing 737-400") << padded("Boeing 737-400");
    QTest::newRow("stored None") << "  Learjet 45  "
                                 << "  Learjet 45  ";
    QTest::newRow("stored none is an alias") << "Extra 300S"
                                             << "none";
    QTest::newRow("stored value cut") << "Long" << QString(127, 'L');
    QTest::newRow("empty alias") << "Empty"
                                 << "";
    QTest::newRow("ANSI title") << padded("CAFÉ JET") << "Cafe Jet";
    QTest::newRow("spaces only") << "    "
                                 << "    ";
    QTest::newRow("in another section only") << "Mooney Bravo"
                                             << "Mooney Bravo";
}

void TestAliases::lookup() {
    QFETCH(QString, title);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    INIFiles settings(tmp.path() + "/AirmeshClient.ini");
    writeFile(settings.FileName(), "[General]\r\n"
                                   "Mooney Bravo=Wrong\r\n"
                                   "[aliasing]\r\n"
                                   "boeing 737-400 Paint1 = Cessna Skyhawk 172SP Paint1  \r\n"
                                   "Learjet 45=None\r\n"
                                   "Extra 300S=none\r\n"
                                   "Long=" +
                                       QByteArray(200, 'L') +
                                       "\r\n"
                                       "Empty=\r\n"
                                       "Caf\xE9 Jet=Cafe Jet\r\n"
                                       "=Nameless\r\n");
    QCOMPARE(GetAlias(settings, title), expected);
}

void TestAliases::aliasWrittenBySettingsIsFound() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    INIFiles settings(tmp.path() + "/AirmeshClient.ini");
    // Titles holding characters that mean something in the file's format.
    const QStringList titles{"F-16 [Block 50]", "[Squadron] Hawk", "Type=2 Trainer", "; Comment Jet", "Plain"};
    for (int i = 0; i < titles.size(); ++i) {
        QVERIFY(settings.WriteINI("Aliasing", titles[i], QString("Local %1").arg(i)));
    }
    for (int i = 0; i < titles.size(); ++i) {
        QCOMPARE(GetAlias(settings, titles[i]), QString("Local %1").arg(i));
        QCOMPARE(GetAlias(settings, padded(titles[i].toUpper())), QString("Local %1").arg(i));
    }
    // Choosing a title's own name as its alias undoes the alias in effect.
    QVERIFY(settings.WriteINI("Aliasing", "Plain", "Plain"));
    QCOMPARE(GetAlias(settings, padded("Plain")), QString("Plain"));
}

void TestAliases::handEditSeenAtNextLookup() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString path = tmp.path() + "/AirmeshClient.ini";
    INIFiles settings(path);
    writeFile(path, "[Aliasing]\r\nBoeing 737-400=Cessna\r\n");
    QCOMPARE(GetAlias(settings, "Boeing 737-400"), QString("Cessna"));

    // Edits in place, as a text editor that rewrites the file does; the second keeps the size.
    writeFile(path, "[Aliasing]\r\nBoeing 737-400=Piper Cub\r\n");
    QCOMPARE(GetAlias(settings, "Boeing 737-400"), QString("Piper Cub"));
    writeFile(path, "[Aliasing]\r\nBoeing 737-400=Piper Cup\r\n");
    QCOMPARE(GetAlias(settings, "Boeing 737-400"), QString("Piper Cup"));
    writeFile(path, "[Aliasing]\r\nBoeing 737-400=None\r\n");
    QCOMPARE(GetAlias(settings, "Boeing 737-400"), QString("Boeing 737-400"));

    // Replaced by another file, then deleted.
    const QString other = tmp.path() + "/other.ini";
    writeFile(other, "[Aliasing]\r\nBoeing 737-400=Mooney\r\n");
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(other, path));
    QCOMPARE(GetAlias(settings, "Boeing 737-400"), QString("Mooney"));
    QVERIFY(QFile::remove(path));
    QCOMPARE(GetAlias(settings, "Boeing 737-400"), QString("Boeing 737-400"));
}

QTEST_GUILESS_MAIN(TestAliases)
#include "tst_aliases.moc"
