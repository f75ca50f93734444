#include "fakes/servicesrig.h"
#include "ui/frmalias.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace airmesh;

namespace {

using Box = FakeMessageBoxes::Box;

const QString kAliasSet = "Aliasing set, players aircraft may take up to 60 secs to change";
const QString kNoTitle = "Error occured identifying the players original aircraft name. Try again";
const QString kChoose = "You have to choose an aircraft from the drop down list to alias this aircraft with";
const QString kNoPlayers = "Aliasing is not possible as there are no other Airmesh players online to alias. Try "
                           "again when another player has connected";

struct Rig : ServicesRig {
    Players players;
    Hangar hangar;
    QPointer<FrmAlias> dialog;

    Rig() {
        for (const char* title : {"Learjet 45", "Beech Baron 58", "cessna Skyhawk", "Boeing 737-400"}) {
            hangar.Add(title);
        }
    }
    ~Rig() { delete dialog.data(); }

    Player& addPlayer(const QString& handle, const QString& aircraft, bool detailed = true) {
        Player& p = *players.Add(QString::number(players.Count() + 100));
        p.PlayerHandle = handle;
        p.Aircraft_Name = aircraft;
        p.Rcv_Detailed_Info = detailed;
        return p;
    }
    FrmAlias& open() {
        openAliasDialog(services, players, hangar, dialog, nullptr);
        return *dialog;
    }
    static void unloadPending() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

QStringList lines(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        out.append(list->item(i)->text());
    }
    return out;
}

QListWidgetItem* lineOf(const QListWidget* list, const QString& handle) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().startsWith(handle + ": ")) {
            return list->item(i);
        }
    }
    return nullptr;
}

// Chooses the line of `handle` and hangar title `alias` as a user does, then presses Set.
void chooseAndSet(FrmAlias& dlg, const QString& handle, const QString& alias) {
    QListWidgetItem* item = lineOf(dlg.List1(), handle);
    QVERIFY(item);
    QTest::mouseClick(dlg.List1()->viewport(), Qt::LeftButton, {}, dlg.List1()->visualItemRect(item).center());
    if (!alias.isEmpty()) {
        dlg.cboHangar()->setCurrentIndex(dlg.cboHangar()->findText(alias));
    }
    dlg.cmdSet()->click();
}

const QString nul(1, QChar(0));

} // namespace

class TestFrmAlias : public QObject {
    Q_OBJECT

private slots:
    void listing_data();
    void listing();
    void controlsFollowTheChoice();
    void setAlias_data();
    void setAlias();
    void setWithoutHangarChoice();
    void shortTitleClosesDialog();
    void settingsNotWritable();
    void opening();
};

void TestFrmAlias::listing_data() {
    // handle, aircraft name, detailed ("1"/"0", then ":" and the title shown if any), repeated
    QTest::addColumn<QStringList>("players");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no alias") << QStringList{"Bob", "Cessna", "1"} << QByteArray()
                              << QStringList{"Bob: Cessna -> Cessna"};
    QTest::newRow("alias shown") << QStringList{"Bob", "Cessna", "1"}
                                 << QByteArray("[Aliasing]\r\ncessna=Learjet 45\r\n")
                                 << QStringList{"Bob: Cessna -> Learjet 45"};
    QTest::newRow("padding and trailing NUL")
        << QStringList{"Bob", "  Cessna" + nul + "  ", "1"} << QByteArray("[Aliasing]\r\nCessna=Learjet 45\r\n")
        << QStringList{"Bob: Cessna -> Learjet 45"};
    QTest::newRow("trailing tab removed, CR kept")
        << QStringList{"Ann", "Baron\t", "1", "Bob", "Baron\r", "1"} << QByteArray()
        << QStringList{"Ann: Baron -> Baron", "Bob: Baron\r -> Baron\r"};
    QTest::newRow("only one control character removed") << QStringList{"Bob", "Cessna" + nul + nul, "1"} << QByteArray()
                                                        << QStringList{"Bob: Cessna" + nul + " -> Cessna" + nul};
    QTest::newRow("skipped: no details, no title")
        << QStringList{"Ann", "Cessna", "0", "Bob", "   ", "1", "Cid", "", "1", "Dee", "Baron", "1"} << QByteArray()
        << QStringList{"Dee: Baron -> Baron"};
    QTest::newRow("sorted without regard to case")
        << QStringList{"carl", "Baron", "1", "Bob", "Cessna", "1", "alice", "Cessna", "1"} << QByteArray()
        << QStringList{"alice: Cessna -> Cessna", "Bob: Cessna -> Cessna", "carl: Baron -> Baron"};
    QTest::newRow("automatic choice marked")
        << QStringList{"Bob", "Boeing 737-800 Delta", "1:Boeing 737-400", "Cid", "Learjet 45", "1:Learjet 45"}
        << QByteArray()
        << QStringList{"Bob: Boeing 737-800 Delta -> Boeing 737-400 (automatic)", "Cid: Learjet 45 -> Learjet 45"};
    QTest::newRow("installed alias, even before it is shown")
        << QStringList{"Bob", "Cessna", "1:cessna Skyhawk"} << QByteArray("[Aliasing]\r\nCessna=learjet 45\r\n")
        << QStringList{"Bob: Cessna -> learjet 45"};
    QTest::newRow("alias to a missing aircraft, matched")
        << QStringList{"Bob", "Cessna", "1:cessna Skyhawk"} << QByteArray("[Aliasing]\r\nCessna=Gone\r\n")
        << QStringList{"Bob: Cessna -> cessna Skyhawk (automatic)"};
    QTest::newRow("alias to a missing aircraft, shown as set")
        << QStringList{"Bob", "Cessna", "1:Gone"} << QByteArray("[Aliasing]\r\nCessna=Gone\r\n")
        << QStringList{"Bob: Cessna -> Gone"};
}

void TestFrmAlias::listing() {
    QFETCH(QStringList, players);
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, expected);
    Rig rig;
    for (int i = 0; i + 2 < players.size(); i += 3) {
        const QStringList detail = players[i + 2].split(':');
        rig.addPlayer(players[i], players[i + 1], detail[0] == "1").shownTitle = detail.value(1);
    }
    if (!settings.isEmpty()) {
        QFile f(rig.ini.FileName());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(settings);
    }
    QCOMPARE(lines(rig.open().List1()), expected);
}

void TestFrmAlias::controlsFollowTheChoice() {
    Rig rig;
    rig.addPlayer("Bob", "Cessna");
    rig.addPlayer("Ann", "Baron");
    FrmAlias& dlg = rig.open();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));

    // The hangar sorted without regard to case; nothing chosen and nothing to press yet.
    QComboBox* cbo = dlg.cboHangar();
    QStringList titles;
    for (int i = 0; i < cbo->count(); ++i) {
        titles.append(cbo->itemText(i));
    }
    QCOMPARE(titles, QStringList({"Beech Baron 58", "Boeing 737-400", "cessna Skyhawk", "Learjet 45"}));
    QVERIFY(!cbo->isEditable());
    QCOMPARE(cbo->currentIndex(), -1);
    QVERIFY(!cbo->isEnabled());
    QVERIFY(!dlg.cmdSet()->isEnabled());

    // Close first; the list does not enable anything by merely taking the focus.
    QCOMPARE(QApplication::focusWidget(), dlg.cmdClose());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), dlg.List1());
    QVERIFY(!dlg.cmdSet()->isEnabled());

    // Choosing a line by keyboard enables both, and the tab order goes on through them.
    QTest::keyClick(dlg.List1(), Qt::Key_Down);
    QTest::keyClick(dlg.List1(), Qt::Key_Space);
    QVERIFY(!dlg.List1()->selectedItems().isEmpty());
    QVERIFY(cbo->isEnabled());
    QVERIFY(dlg.cmdSet()->isEnabled());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), cbo);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), dlg.cmdSet());
}

void TestFrmAlias::setAlias_data() {
    QTest::addColumn<QString>("handle");
    QTest::addColumn<QString>("aircraft");
    QTest::addColumn<QString>("shown"); // the title as listed
    QTest::addColumn<QString>("key");   // the line the settings file holds afterwards

    QTest::newRow("plain") << "Bob"
                           << "Cessna"
                           << "Cessna"
                           << "Cessna=Learjet 45";
    QTest::newRow("trailing NUL") << "Bob"
                                  << "Cessna" + nul << "Cessna"
                                  << "Cessna=Learjet 45";
    QTest::newRow("two characters") << "Bob"
                                    << "C2"
                                    << "C2"
                                    << "C2=Learjet 45";
    QTest::newRow("space before the NUL") << "Bob"
                                          << "Cessna " + nul << "Cessna "
                                          << "Cessna=Learjet 45";
    // Neither a colon in the handle nor an arrow in the title changes the key.
    QTest::newRow("colon in handle") << "Team:Bob"
                                     << "Cessna"
                                     << "Cessna"
                                     << "Cessna=Learjet 45";
    QTest::newRow("arrow in title") << "Bob"
                                    << "Twin -> Otter"
                                    << "Twin -> Otter"
                                    << "Twin -> Otter=Learjet 45";
}

void TestFrmAlias::setAlias() {
    QFETCH(QString, handle);
    QFETCH(QString, aircraft);
    QFETCH(QString, shown);
    QFETCH(QString, key);
    Rig rig;
    rig.addPlayer(handle, aircraft);
    rig.addPlayer("Zed", aircraft);
    rig.addPlayer("Ann", "Beech Baron 58");
    FrmAlias& dlg = rig.open();

    chooseAndSet(dlg, handle, "Learjet 45");

    QCOMPARE(rig.boxes.shown, (QList<Box>{{kAliasSet, "Airmesh"}}));
    QFile f(rig.ini.FileName());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY2(bytes.contains("[Aliasing]\r\n" + key.toUtf8() + "\r\n"), bytes.constData());
    QVERIFY(!bytes.contains('\0'));

    // Every line with that title shows the alias; the choice is reset.
    QCOMPARE(lines(dlg.List1()),
             QStringList({"Ann: Beech Baron 58 -> Beech Baron 58", handle + ": " + shown + " -> Learjet 45",
                          "Zed: " + shown + " -> Learjet 45"}));
    QVERIFY(dlg.List1()->selectedItems().isEmpty());
    QCOMPARE(dlg.cboHangar()->currentIndex(), -1);
    QVERIFY(!dlg.cboHangar()->isEnabled());
    QVERIFY(!dlg.cmdSet()->isEnabled());
    QVERIFY(dlg.isVisible());
}

void TestFrmAlias::setWithoutHangarChoice() {
    Rig rig;
    rig.addPlayer("Bob", "Cessna");
    FrmAlias& dlg = rig.open();

    chooseAndSet(dlg, "Bob", QString());

    QCOMPARE(rig.boxes.shown, (QList<Box>{{kChoose, "ERROR"}}));
    QVERIFY(!QFile::exists(rig.ini.FileName()));
    QVERIFY(dlg.isVisible());
    QCOMPARE(lines(dlg.List1()), QStringList("Bob: Cessna -> Cessna"));
}

void TestFrmAlias::shortTitleClosesDialog() {
    Rig rig;
    rig.addPlayer("Bob", "C" + nul);
    rig.open();
    QCOMPARE(lines(rig.dialog->List1()), QStringList("Bob: C -> C"));

    chooseAndSet(*rig.dialog, "Bob", "Learjet 45");

    QCOMPARE(rig.boxes.shown, (QList<Box>{{kNoTitle, "ERROR"}}));
    QVERIFY(!QFile::exists(rig.ini.FileName()));
    QVERIFY(!rig.dialog->isVisible());
    Rig::unloadPending();
    QVERIFY(rig.dialog.isNull());
}

void TestFrmAlias::settingsNotWritable() {
    Rig rig;
    rig.ini.setFileName(rig.dir.filePath("no such folder/AirmeshClient.ini"));
    rig.addPlayer("Bob", "Cessna");
    FrmAlias& dlg = rig.open();

    chooseAndSet(dlg, "Bob", "Learjet 45");

    QCOMPARE(rig.boxes.shown.size(), 1);
    QCOMPARE(rig.boxes.shown.front().title, QStringLiteral("ERROR"));
    QVERIFY(dlg.isVisible());
    QCOMPARE(lines(dlg.List1()), QStringList("Bob: Cessna -> Cessna"));
}

void TestFrmAlias::opening() {
    Rig rig;

    // No player: a message and no dialog.
    openAliasDialog(rig.services, rig.players, rig.hangar, rig.dialog, nullptr);
    QCOMPARE(rig.boxes.shown, (QList<Box>{{kNoPlayers, "Airmesh"}}));
    QVERIFY(rig.dialog.isNull());

    // A player without details is enough to open it, with an empty list.
    rig.addPlayer("Ann", "Baron", false);
    FrmAlias* first = &rig.open();
    QVERIFY(first->isVisible());
    QCOMPARE(first->List1()->count(), 0);

    // Open already: shown as it is, not filled again.
    rig.addPlayer("Bob", "Cessna");
    QCOMPARE(&rig.open(), first);
    QCOMPARE(first->List1()->count(), 0);

    // Closed (here by Esc) it is unloaded; the next opening loads it afresh.
    QVERIFY(QTest::qWaitForWindowActive(first));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!first->isVisible());
    Rig::unloadPending();
    QVERIFY(rig.dialog.isNull());
    QCOMPARE(lines(rig.open().List1()), QStringList("Bob: Cessna -> Cessna"));

    // And by Close.
    rig.dialog->cmdClose()->click();
    Rig::unloadPending();
    QVERIFY(rig.dialog.isNull());
    QCOMPARE(rig.boxes.shown.size(), 1);
}

QTEST_MAIN(TestFrmAlias)
#include "tst_frmalias.moc"
