#include "fakes/fakestatussink.h"
#include "hangar/hangar.h"
#include "hangar/hangarscan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace airmesh;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// An aircraft file as the simulator's own are laid out: CRLF lines, a [General] section and
// one [fltsim.N] section per title.
QByteArray cfgWithTitles(const QStringList& titles) {
    QByteArray b = "[General]\r\natc_type=CESSNA\r\n\r\n";
    for (int i = 0; i < titles.size(); ++i) {
        b += "[fltsim." + QByteArray::number(i) + "]\r\ntitle=" + titles[i].toLatin1() + "\r\nsim=c172\r\nmodel=\r\n";
    }
    return b;
}

QStringList titlesOf(const Hangar& h) {
    QStringList out;
    for (const auto& a : h.NewEnum()) {
        out << a->Title;
    }
    return out;
}

} // namespace

class TestHangar : public QObject {
    Q_OBJECT

private slots:
    void collectionKeepsOrderAndDuplicates();
    void collectionKeys();
    void collectionErrors();
    void enumerationIsUnaffectedByChanges();

    void walkOrderAndMatching();
    void yieldRunsOnceBeforeEachSubfolder();
    void walkSkipsHiddenAndUnreadable();
    void walkSurvivesFolderLinks();
    void walkOfMissingFolder();
    void walkStopsAtFileLimit();

    void titlesOfOneFile_data();
    void titlesOfOneFile();
    void loadReadsEveryFileInWalkOrder();
    void loadWithoutAircraftFolder();
    void loadFindsAircraftFolderInAnyCase();
};

void TestHangar::collectionKeepsOrderAndDuplicates() {
    Hangar h;
    QCOMPARE(h.Count(), 0);
    const auto first = h.Add("Cessna Skyhawk 172SP");
    h.Add("Boeing 737-400");
    const auto third = h.Add("Cessna Skyhawk 172SP");
    QCOMPARE(h.Count(), 3);
    QCOMPARE(titlesOf(h), QStringList({"Cessna Skyhawk 172SP", "Boeing 737-400", "Cessna Skyhawk 172SP"}));
    // Equal titles are still separate records, each returned by Add and found at its place.
    QVERIFY(first != third);
    QCOMPARE(h.Item(1), first);
    QCOMPARE(h.Item(3), third);
    first->Title = "Changed";
    QCOMPARE(h.Item(1)->Title, QString("Changed"));
    QCOMPARE(h.Item(3)->Title, QString("Cessna Skyhawk 172SP"));
}

void TestHangar::collectionKeys() {
    Hangar h;
    h.Add("no key 1");
    const auto a = h.Add("keyed A", "KeyA");
    h.Add("no key 2", "");
    const auto b = h.Add("keyed B", "KeyB");
    QCOMPARE(h.Count(), 4);
    // Keys compare without regard to case; a record added without a key has none.
    QCOMPARE(h.Item(QString("keya")), a);
    QCOMPARE(h.Item(QString("KEYB")), b);
    QCOMPARE(h.Item(2), a);

    // Removing an unkeyed record by position leaves the keyed ones reachable by key.
    h.Remove(1);
    QCOMPARE(h.Item(QString("KeyA")), a);
    QCOMPARE(titlesOf(h), QStringList({"keyed A", "no key 2", "keyed B"}));

    // Removing by position frees the record's key too.
    h.Remove(1);
    QVERIFY_THROWS_EXCEPTION(HangarError, h.Item(QString("KeyA")));
    const auto again = h.Add("keyed A again", "keya");
    QCOMPARE(h.Item(QString("KeyA")), again);

    h.Remove(QString("kEyB"));
    QCOMPARE(titlesOf(h), QStringList({"no key 2", "keyed A again"}));
}

void TestHangar::collectionErrors() {
    Hangar h;
    h.Add("one", "k");
    h.Add("two");
    auto codeOf = [](auto&& f) {
        try {
            f();
        } catch (const HangarError& e) {
            return e.number();
        }
        return 0;
    };
    QCOMPARE(codeOf([&] { h.Add("dup", "K"); }), 457);
    QCOMPARE(h.Count(), 2); // the refused record was not added
    QCOMPARE(codeOf([&] { h.Item(0); }), 5);
    QCOMPARE(codeOf([&] { h.Item(3); }), 5);
    QCOMPARE(codeOf([&] { h.Item(-1); }), 5);
    QCOMPARE(codeOf([&] { h.Item(QString("missing")); }), 5);
    QCOMPARE(codeOf([&] { h.Item(QString("")); }), 5);
    QCOMPARE(codeOf([&] { h.Remove(3); }), 5);
    QCOMPARE(codeOf([&] { h.Remove(QString("missing")); }), 5);
    QCOMPARE(codeOf([&] { h.Remove(QString("")); }), 5);
    QCOMPARE(h.Count(), 2);
}

void TestHangar::enumerationIsUnaffectedByChanges() {
    Hangar h;
    h.Add("a");
    h.Add("b");
    QStringList seen;
    for (const auto& a : h.NewEnum()) {
        seen << a->Title;
        h.Add(a->Title + "+");
        h.Remove(1);
    }
    QCOMPARE(seen, QStringList({"a", "b"}));
    QCOMPARE(titlesOf(h), QStringList({"a+", "b+"}));
}

void TestHangar::walkOrderAndMatching() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path() + "/aircraft";
    // Created out of order, so that the walk's order cannot come from creation order.
    writeFile(root + "/zeppelin/aircraft.cfg", "");
    writeFile(root + "/Boeing/b737/Aircraft.CFG", "");
    writeFile(root + "/Boeing/b737/texture/aircraft.cfg.bak", "");
    writeFile(root + "/Boeing/b737/model/deep/er/aircraft.cfg", "");
    writeFile(root + "/boeing 2/AIRCRAFT.cfg", "");
    writeFile(root + "/Boeing/aircraft.cfg", "");
    writeFile(root + "/aircraft.cfg", "");
    writeFile(root + "/airbus/readme.txt", "");
    writeFile(root + "/airbus/a320/aircraft.cfg", "");
    QVERIFY(QDir().mkpath(root + "/folder/aircraft.cfg")); // a folder, not a file
    writeFile(root + "/folder/aircraft.cfg/aircraft.cfg", "");

    QStringList list;
    FindFiles(root, "aircraft.cfg", list);
    // A folder's files first, then its subfolders in name order without regard to case, each
    // with everything below it; names as they are on disk.
    QCOMPARE(list, QStringList({
                       root + "/aircraft.cfg",
                       root + "/airbus/a320/aircraft.cfg",
                       root + "/Boeing/aircraft.cfg",
                       root + "/Boeing/b737/Aircraft.CFG",
                       root + "/Boeing/b737/model/deep/er/aircraft.cfg",
                       root + "/boeing 2/AIRCRAFT.cfg",
                       root + "/folder/aircraft.cfg/aircraft.cfg",
                       root + "/zeppelin/aircraft.cfg",
                   }));

    // The list is appended to, not replaced, and any name can be looked for.
    FindFiles(root, "README.TXT", list);
    QCOMPARE(list.size(), 9);
    QCOMPARE(list.last(), root + "/airbus/readme.txt");
}

void TestHangar::yieldRunsOnceBeforeEachSubfolder() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path() + "/aircraft";
    writeFile(root + "/aircraft.cfg", "");
    writeFile(root + "/a/aircraft.cfg", "");
    writeFile(root + "/a/x/aircraft.cfg", "");
    QVERIFY(QDir().mkpath(root + "/a/y/z"));
    writeFile(root + "/b/aircraft.cfg", "");
    writeFile(root + "/.hidden/aircraft.cfg", "");

    QStringList list;
    // What the list held at each yield: the yield comes before the subfolder's files.
    QList<qsizetype> heldAtYield;
    FindFiles(root, "aircraft.cfg", list, [&] { heldAtYield << list.size(); });
    QCOMPARE(list.size(), 4);
    // Subfolders a, a/x, a/y, a/y/z, b; the root itself and the hidden folder get none.
    QCOMPARE(heldAtYield, QList<qsizetype>({1, 2, 3, 3, 3}));
}

void TestHangar::walkSkipsHiddenAndUnreadable() {
#ifdef Q_OS_WIN
    QSKIP("hidden means a dot name and unreadable a mode bit on Linux; Windows marks neither so");
#endif
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path() + "/aircraft";
    writeFile(root + "/.hidden/aircraft.cfg", "");
    writeFile(root + "/.hidden/visible/aircraft.cfg", "");
    writeFile(root + "/shown/.aircraft.cfg", "");
    writeFile(root + "/shown/aircraft.cfg", "");
    QVERIFY(QDir().mkpath(root + "/dangling"));
    QVERIFY(QDir().mkpath(root + "/linked"));
    // Links that lead nowhere: their kind cannot be read.
    QVERIFY(QFile::link(root + "/nowhere", root + "/shown/dangling"));
    QVERIFY(QFile::link(root + "/nowhere.cfg", root + "/dangling/aircraft.cfg"));
    // A link to an aircraft file is a file like any other.
    QVERIFY(QFile::link(root + "/shown/aircraft.cfg", root + "/linked/aircraft.cfg"));

    QStringList list;
    int yields = 0;
    FindFiles(root, "aircraft.cfg", list, [&] { ++yields; });
    QCOMPARE(list, QStringList({root + "/linked/aircraft.cfg", root + "/shown/aircraft.cfg"}));
    QCOMPARE(yields, 3); // dangling, linked, shown
}

void TestHangar::walkSurvivesFolderLinks() {
#ifdef Q_OS_WIN
    QSKIP("folder links are made with symlink(), which Windows programs do not have");
#endif
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path() + "/aircraft";
    const QString outside = tmp.path() + "/addons/glider";
    writeFile(root + "/a/aircraft.cfg", "");
    writeFile(outside + "/aircraft.cfg", "");
    QVERIFY(QFile::link(root, root + "/a/up"));          // back to the top: a loop
    QVERIFY(QFile::link(root + "/a", root + "/a/self")); // a loop onto itself
    QVERIFY(QFile::link(outside, root + "/glider"));     // an add-on linked in from elsewhere
    QVERIFY(QFile::link(tmp.path() + "/addons", root + "/addons"));

    QStringList list;
    int yields = 0;
    FindFiles(root, "aircraft.cfg", list, [&] { ++yields; });
    // Every real folder once: the loops end, the linked add-on is found once, under the
    // first name the walk reached it by.
    QCOMPARE(list, QStringList({root + "/a/aircraft.cfg", root + "/addons/glider/aircraft.cfg"}));
    QCOMPARE(yields, 3); // a, addons, addons/glider
}

void TestHangar::walkOfMissingFolder() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    writeFile(tmp.path() + "/file", "");
    QStringList list{"kept"};
    int yields = 0;
    FindFiles(tmp.path() + "/absent", "aircraft.cfg", list, [&] { ++yields; });
    FindFiles(tmp.path() + "/file", "file", list, [&] { ++yields; });
    QCOMPARE(list, QStringList({"kept"}));
    QCOMPARE(yields, 0);
}

void TestHangar::walkStopsAtFileLimit() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.path() + "/aircraft";
    writeFile(root + "/a/aircraft.cfg", "");
    writeFile(root + "/b/aircraft.cfg", "");
    writeFile(root + "/c/aircraft.cfg", "");

    QStringList list;
    for (int i = 0; i < kMaxAircraftFiles - 2; ++i) {
        list.append(QString());
    }
    FindFiles(root, "aircraft.cfg", list);
    QCOMPARE(list.size(), kMaxAircraftFiles);
    QCOMPARE(list.last(), root + "/b/aircraft.cfg");
}

void TestHangar::titlesOfOneFile_data() {
    QTest::addColumn<QByteArray>("cfg");
    QTest::addColumn<QStringList>("titles");

    QTest::newRow("numbering gap ends the file")
        << QByteArray("[fltsim.0]\r\ntitle=Zero\r\n[fltsim.2]\r\ntitle=Two\r\n") << QStringList{"Zero"};
    QTest::newRow("no fltsim.0") << QByteArray("[fltsim.1]\r\ntitle=One\r\n") << QStringList{};
    QTest::newRow("fltsim.0 without title")
        << QByteArray("[fltsim.0]\r\nsim=x\r\n[fltsim.1]\r\ntitle=One\r\n") << QStringList{};
    QTest::newRow("sections out of order")
        << QByteArray("[fltsim.1]\r\ntitle=One\r\n[fltsim.0]\r\ntitle=Zero\r\n") << QStringList{"Zero", "One"};
    QTest::newRow("leading zero is another section")
        << QByteArray("[fltsim.0]\r\ntitle=Zero\r\n[fltsim.01]\r\ntitle=One\r\n") << QStringList{"Zero"};
    QTest::newRow("None ends the file") << cfgWithTitles({"A", "None", "C"}) << QStringList{"A"};
    QTest::newRow("None is case-sensitive")
        << cfgWithTitles({"A", "none", "NONE", "C"}) << QStringList{"A", "none", "NONE", "C"};
    QTest::newRow("quoted None ends too") << cfgWithTitles({"A", "\"None\""}) << QStringList{"A"};
    QTest::newRow("None inside a title") << cfgWithTitles({"None Such"}) << QStringList{"None Such"};
    QTest::newRow("duplicate titles kept") << cfgWithTitles({"Same", "Same"}) << QStringList{"Same", "Same"};
    QTest::newRow("names in any case") << QByteArray("[FLTSIM.0]\r\nTITLE=Upper\r\n[FltSim.1]\r\n  Title = Mixed \r\n")
                                       << QStringList{"Upper", "Mixed"};
    QTest::newRow("empty title is a title")
        << QByteArray("[fltsim.0]\r\ntitle=\r\n[fltsim.1]\r\ntitle=After\r\n") << QStringList{"", "After"};
    QTest::newRow("value rules") << QByteArray(
                                        "[fltsim.0]\ntitle=\"Quoted \"\n[fltsim.1]\ntitle=  Semi;colon ; kept  \n"
                                        "[fltsim.2]\ntitle=a=b\n[fltsim.3]\ntitle='  Inner blanks  '\n")
                                 << QStringList{"Quoted ", "Semi;colon ; kept", "a=b", "Inner blanks  "};
    QTest::newRow("first title key of a section wins")
        << QByteArray("[fltsim.0]\r\ntitle=First\r\ntitle=Second\r\n") << QStringList{"First"};
    QTest::newRow("200 characters cut to 127") << cfgWithTitles({QString(120, 'x') + "1234567890" + QString(70, 'y')})
                                               << QStringList{QString(120, 'x') + "1234567"};
    QTest::newRow("ANSI text") << QByteArray("[fltsim.0]\r\ntitle=Caf\xE9 \x80 Jet\r\n") << QStringList{"Café € Jet"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
}

void TestHangar::titlesOfOneFile() {
    QFETCH(QByteArray, cfg);
    QFETCH(QStringList, titles);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    writeFile(tmp.path() + "/aircraft/c172/aircraft.cfg", cfg);

    Hangar h;
    FakeStatusSink status(h);
    LoadHangar(tmp.path() + "/", h, status);
    QCOMPARE(titlesOf(h), titles);
}

void TestHangar::loadReadsEveryFileInWalkOrder() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString fs = tmp.path() + "/";
    writeFile(fs + "aircraft/zlin/aircraft.cfg", cfgWithTitles({"Zlin"}));
    writeFile(fs + "aircraft/aircraft.cfg", cfgWithTitles({"Root 0", "Root 1"}));
    writeFile(fs + "aircraft/b737/AIRCRAFT.CFG", cfgWithTitles({"Boeing 737-400", "Boeing 737-400 Paint1"}));
    writeFile(fs + "aircraft/b737/texture/aircraft.cfg", cfgWithTitles({"Deep"}));
    writeFile(fs + "aircraft/c172/aircraft.cfg", cfgWithTitles({"Boeing 737-400"}));
    writeFile(fs + "aircraft/.old/aircraft.cfg", cfgWithTitles({"Hidden"}));
    writeFile(fs + "aircraft/empty/aircraft.cfg", "");
    writeFile(fs + "aircraft.cfg", cfgWithTitles({"Outside the aircraft folder"}));

    Hangar h;
    h.Add("Kept from before");
    FakeStatusSink status(h);
    int yields = 0;
    const QStringList files = LoadHangar(fs, h, status, [&] { ++yields; });

    QCOMPARE(files, QStringList({fs + "aircraft/aircraft.cfg", fs + "aircraft/b737/AIRCRAFT.CFG",
                                 fs + "aircraft/b737/texture/aircraft.cfg", fs + "aircraft/c172/aircraft.cfg",
                                 fs + "aircraft/empty/aircraft.cfg", fs + "aircraft/zlin/aircraft.cfg"}));
    QCOMPARE(titlesOf(h), QStringList({"Kept from before", "Root 0", "Root 1", "Boeing 737-400",
                                       "Boeing 737-400 Paint1", "Deep", "Boeing 737-400", "Zlin"}));
    QCOMPARE(yields, 5); // b737, b737/texture, c172, empty, zlin
    // The loading text shows before the first aircraft is added, the closing one after the last.
    QCOMPARE(status.shown,
             (QList<QPair<QString, int>>{{"Loading your aircraft list..pls wait", 1}, {"Disconnected", 8}}));

    // A second scan reads the files afresh and adds their titles again.
    writeFile(fs + "aircraft/zlin/aircraft.cfg", cfgWithTitles({"Zlin Z-242"}));
    const QStringList again = LoadHangar(fs, h, status);
    QCOMPARE(again, files);
    QCOMPARE(h.Count(), 15);
    QCOMPARE(h.Item(15)->Title, QString("Zlin Z-242"));
}

void TestHangar::loadWithoutAircraftFolder() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    writeFile(tmp.path() + "/fs2000.exe", "");
    writeFile(tmp.path() + "/aircraft", cfgWithTitles({"a file, not a folder"}));
    writeFile(tmp.path() + "/other/aircraft.cfg", cfgWithTitles({"not in the aircraft folder"}));

    Hangar h;
    FakeStatusSink status(h);
    int yields = 0;
    QVERIFY(LoadHangar(tmp.path() + "/", h, status, [&] { ++yields; }).isEmpty());
    QCOMPARE(h.Count(), 0);
    QCOMPARE(yields, 0);
    QCOMPARE(status.shown,
             (QList<QPair<QString, int>>{{"Loading your aircraft list..pls wait", 0}, {"Disconnected", 0}}));
}

void TestHangar::loadFindsAircraftFolderInAnyCase() {
#ifdef Q_OS_WIN
    QSKIP("Windows file names ignore case: two spellings are one folder");
#endif
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // As a simulator installed under Wine on a case-sensitive file system has it.
    writeFile(tmp.path() + "/Aircraft/c172/aircraft.cfg", cfgWithTitles({"Cessna"}));
    writeFile(tmp.path() + "/AIRCRAFT/b737/aircraft.cfg", cfgWithTitles({"Boeing"}));
    {
        Hangar h;
        FakeStatusSink status(h);
        // The folder name is given without its final separator as well.
        LoadHangar(tmp.path(), h, status);
        QCOMPARE(titlesOf(h), QStringList({"Boeing"})); // the first in name order
    }
    // The exact name wins over one that differs only in case.
    writeFile(tmp.path() + "/aircraft/aircraft.cfg", cfgWithTitles({"Exact"}));
    Hangar h;
    FakeStatusSink status(h);
    LoadHangar(tmp.path() + "/", h, status);
    QCOMPARE(titlesOf(h), QStringList({"Exact"}));
}

QTEST_GUILESS_MAIN(TestHangar)
#include "tst_hangar.moc"
