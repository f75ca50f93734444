#include "core/settings.h"
#include "fakes/servicesrig.h"
#include "linkrig.h"
#include "ui/artwork.h"
#include "ui/frmalias.h"
#include "ui/frmmain.h"
#include "ui/frmsplash.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace airmesh;

namespace {

class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// The main window with the settings file in a folder of its own and every callback written down.
struct Rig : ServicesRig {
    FrmMain w{services};
    QStringList calls;

    Rig() {
        w.onConnect = [this](const ServerSettings& s) {
            calls << QStringList{QStringLiteral("connect"), s.host, s.pilotId, s.password}.join(QLatin1Char('|'));
        };
        w.onAlias = [this] { calls << QStringLiteral("alias"); };
        w.onCancel = [this] { calls << QStringLiteral("cancel"); };
        w.onClosed = [this] { calls << QStringLiteral("closed"); };
    }

    [[nodiscard]] bool showActive() {
        w.show();
        QApplication::setActiveWindow(&w);
        w.activateWindow();
        return QTest::qWaitForWindowActive(&w);
    }

    // The server link reports `state`, with its status text as the link gives it.
    void show(LinkState state, const QString& status = {}) {
        w.showLinkState(state, status.isEmpty() ? linkStatusText(state) : status);
    }
};

// What the user sees of the link: the lit lamp, the status line, the Connect button's caption,
// and the buttons that can be pressed.
QStringList seen(const FrmMain& w) {
    static const char* const lamps[] = {"red", "yellow", "green"};
    QStringList pressable;
    for (const QPushButton* b : {w.cmdConnect(), w.cmdAlias(), w.cmdCancel()}) {
        if (b->isEnabled()) {
            pressable << b->objectName();
        }
    }
    return {QLatin1String(lamps[w.visiblePicture()]), w.lblStatus()->text(), w.cmdConnect()->text(),
            pressable.join(QLatin1Char(' '))};
}

enum class Press { Click, Accelerator, EnterOnButton, CloseBox };

} // namespace

Q_DECLARE_METATYPE(Press)
Q_DECLARE_METATYPE(airmesh::LinkState)

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void tabOrder();
    void enterPressesConnect_data();
    void enterPressesConnect();
    void pressesReachCallbacks_data();
    void pressesReachCallbacks();
    void maxLengthRefusesExtraCharacters_data();
    void maxLengthRefusesExtraCharacters();
    void passwordIsMasked();
    void loadFillsFieldsFromSettings_data();
    void loadFillsFieldsFromSettings();
    void followsTheLinkThroughALogonAndALoss();
    void failedLogonLetsTheUserTryAgain_data();
    void failedLogonLetsTheUserTryAgain();
    void statusIsPaintedAtOnce_data();
    void statusIsPaintedAtOnce();
    void scanStatusSurvivesConnecting();
    void trafficLightShowsLinkLamp_data();
    void trafficLightShowsLinkLamp();
    void productLineAndFixedSize();
    void everyWindowIsCentredByItsFrame();
};

void TestFrmMain::tabOrder() {
    Rig rig;
    rig.w.cmdAlias()->setEnabled(true); // every button enabled: a disabled one is skipped
    QVERIFY(rig.showActive());
    rig.w.txtHostIP()->setFocus();
    for (QWidget* expected : {static_cast<QWidget*>(rig.w.txtPID()), static_cast<QWidget*>(rig.w.txtPWD()),
                              static_cast<QWidget*>(rig.w.cmdConnect()), static_cast<QWidget*>(rig.w.cmdAlias()),
                              static_cast<QWidget*>(rig.w.cmdCancel()), static_cast<QWidget*>(rig.w.txtHostIP())}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), rig.w.cmdCancel());
}

void TestFrmMain::enterPressesConnect_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    for (const char* box : {"txtHostIP", "txtPID", "txtPWD"}) {
        QTest::addRow("%s, Return", box) << QString::fromLatin1(box) << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::addRow("%s, keypad Enter", box)
            << QString::fromLatin1(box) << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    }
}

void TestFrmMain::enterPressesConnect() {
    QFETCH(QString, box);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Rig rig;
    QVERIFY(rig.showActive());
    rig.w.txtHostIP()->setText(QStringLiteral("10.1.2.3"));
    rig.w.txtPID()->setText(QStringLiteral("4711"));
    rig.w.txtPWD()->setText(QStringLiteral("0815"));
    auto* edit = rig.w.findChild<QLineEdit*>(box);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(rig.calls, QStringList{QStringLiteral("connect|10.1.2.3|4711|0815")});
    // The entries are kept for the next start.
    QCOMPARE(readSetting(rig.ini, setting::HostIP), QStringLiteral("10.1.2.3"));
    QCOMPARE(readSetting(rig.ini, setting::PID), QStringLiteral("4711"));
    QCOMPARE(readSetting(rig.ini, setting::PWD), QStringLiteral("0815"));

    // While a Connect is under way the engine has disabled the button: Enter does nothing.
    rig.show(LinkState::Connecting, QStringLiteral("Disconnected"));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(rig.calls.size(), 1);
}

void TestFrmMain::pressesReachCallbacks_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<Press>("press");
    QTest::addColumn<LinkState>("state");
    QTest::addColumn<QString>("call"); // empty: nothing may be called
    const QString connect = QStringLiteral("connect|127.0.0.1||");
    const LinkState idle = LinkState::Idle;
    const LinkState on = LinkState::LoggedOn; // Aliasing enabled
    QTest::newRow("Connect clicked") << "cmdConnect" << Press::Click << idle << connect;
    QTest::newRow("Alt+T") << "cmdConnect" << Press::Accelerator << idle << connect;
    QTest::newRow("Alt+T after a lost connection") << "cmdConnect" << Press::Accelerator << LinkState::Lost << "";
    QTest::newRow("Alt+A") << "cmdAlias" << Press::Accelerator << on << "alias";
    QTest::newRow("Aliasing disabled, clicked") << "cmdAlias" << Press::Click << idle << "";
    QTest::newRow("Aliasing disabled, Alt+A") << "cmdAlias" << Press::Accelerator << idle << "";
    QTest::newRow("Enter on Aliasing") << "cmdAlias" << Press::EnterOnButton << on << "alias";
    QTest::newRow("Cancel clicked") << "cmdCancel" << Press::Click << idle << "cancel";
    QTest::newRow("Alt+C") << "cmdCancel" << Press::Accelerator << idle << "cancel";
    QTest::newRow("Enter on Cancel") << "cmdCancel" << Press::EnterOnButton << idle << "cancel";
    QTest::newRow("close box") << "" << Press::CloseBox << idle << "closed";
}

void TestFrmMain::pressesReachCallbacks() {
    QFETCH(QString, button);
    QFETCH(Press, press);
    QFETCH(LinkState, state);
    QFETCH(QString, call);
    Rig rig;
    rig.show(state);
    QVERIFY(rig.showActive());
    rig.w.txtHostIP()->setFocus();
    QTest::keyClicks(rig.w.txtHostIP(), QStringLiteral("127.0.0.1"));
    auto* target = rig.w.findChild<QPushButton*>(button);

    switch (press) {
    case Press::Click:
        QTest::mouseClick(target, Qt::LeftButton);
        break;
    case Press::Accelerator: {
        const QString text = target->text();
        // The caption's own letter, or Alt+T for the Connect that has lost it.
        const int amp = text.indexOf(QLatin1Char('&'));
        QTest::keyClick(&rig.w, amp >= 0 ? text.at(amp + 1).toLower().toLatin1() : 't', Qt::AltModifier);
        // An accelerator shows the button pressed and lets it up a moment later.
        for (QPushButton* b : rig.w.findChildren<QPushButton*>()) {
            QCOMPARE(b->isDown(), b == target && !call.isEmpty());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!target->isDown(), 2000);
        break;
    }
    case Press::EnterOnButton:
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        break;
    case Press::CloseBox:
        QVERIFY(rig.w.close());
        break;
    }
    QCOMPARE(rig.calls, call.isEmpty() ? QStringList() : QStringList{call});
}

void TestFrmMain::maxLengthRefusesExtraCharacters_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("pilot ID, ninth character") << "txtPID"
                                               << "123456789"
                                               << "12345678";
    QTest::newRow("password, ninth character") << "txtPWD"
                                               << "999999999"
                                               << "99999999";
    QTest::newRow("host, sixteenth character") << "txtHostIP"
                                               << "192.168.100.2001"
                                               << "192.168.100.200";
}

void TestFrmMain::maxLengthRefusesExtraCharacters() {
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    Rig rig;
    QVERIFY(rig.showActive());
    auto* edit = rig.w.findChild<QLineEdit*>(box);
    edit->setFocus();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), kept);
}

void TestFrmMain::passwordIsMasked() {
    Rig rig;
    QVERIFY(rig.showActive());
    rig.w.txtPWD()->setFocus();
    QTest::keyClicks(rig.w.txtPWD(), QStringLiteral("2468"));
    QCOMPARE(rig.w.txtPWD()->text(), QStringLiteral("2468"));
    QCOMPARE(rig.w.txtPWD()->displayText(), QStringLiteral("****"));
    QVERIFY(!rig.w.txtPWD()->testAttribute(Qt::WA_InputMethodEnabled));
    rig.w.txtPID()->setFocus();
    QTest::keyClicks(rig.w.txtPID(), QStringLiteral("13"));
    QCOMPARE(rig.w.txtPID()->displayText(), QStringLiteral("13"));
}

void TestFrmMain::loadFillsFieldsFromSettings_data() {
    QTest::addColumn<QByteArray>("file"); // empty: no settings file at all
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("no settings file") << QByteArray() << QStringList{"", "", ""};
    QTest::newRow("all three") << QByteArray("[General]\r\nHostIP=10.20.30.40\r\nPID=1234\r\nPWD=5678\r\n")
                               << QStringList{"10.20.30.40", "1234", "5678"};
    QTest::newRow("too long for the boxes")
        << QByteArray("[General]\r\nHostIP=1234567890123456789\r\nPID=123456789\r\n")
        << QStringList{"123456789012345", "12345678", ""};
}

void TestFrmMain::loadFillsFieldsFromSettings() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, fields);
    Rig rig;
    if (!file.isEmpty()) {
        QFile f(rig.ini.FileName());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    rig.w.load();
    QCOMPARE((QStringList{rig.w.txtHostIP()->text(), rig.w.txtPID()->text(), rig.w.txtPWD()->text()}), fields);
    QCOMPARE(rig.w.visiblePicture(), 0);
    QCOMPARE(rig.w.lblStatus()->text(), QStringLiteral("Disconnected"));
    QVERIFY(rig.w.cmdConnect()->isEnabled());
    QVERIFY(!rig.w.cmdAlias()->isEnabled());

    const QRect screen = rig.w.screen()->geometry();
    const QSize outer = rig.w.frameGeometry().size();
    QCOMPARE(rig.w.pos(), QPoint(screen.x() + (screen.width() - outer.width()) / 2,
                                 screen.y() + (screen.height() - outer.height()) / 2));
}

// The window wired to a real server link as start-up wires it, through a logon, a lost
// connection and the next Connect.
void TestFrmMain::followsTheLinkThroughALogonAndALoss() {
    LinkRig link;
    FrmMain w{link.services};
    QObject::connect(&link.link, &ServerLink::stateChanged, &w, &FrmMain::showLinkState);
    w.onConnect = [&link](const ServerSettings& s) { link.link.Connect(s); }; // the ports from the settings file
    w.load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString idle = QStringLiteral("cmdConnect cmdCancel");
    QCOMPARE(seen(w), (QStringList{"red", "Disconnected", "Connec&t", idle}));

    w.txtHostIP()->setText(QStringLiteral("127.0.0.1"));
    w.txtPID()->setText(QStringLiteral("1234"));
    w.txtPWD()->setText(QStringLiteral("5678"));
    QTest::mouseClick(w.cmdConnect(), Qt::LeftButton);
    QCOMPARE(seen(w), (QStringList{"yellow", "Disconnected", "Connec&t", ""})); // nothing to press meanwhile
    QVERIFY(QTest::qWaitFor([&] { return link.tcpRecords().size() == 1; }, LinkRig::kWaitMs));
    QCOMPARE(seen(w), (QStringList{"yellow", "Awaiting Server Logon Validation", "Connec&t", ""}));

    link.toClientUdp(wire::toClient::logonAccepted(LinkRig::kSession, QStringLiteral("Welcome")));
    QVERIFY(QTest::qWaitFor([&] { return link.link.blnConnected(); }, LinkRig::kWaitMs));
    QCOMPARE(seen(w), (QStringList{"green", "Connected", "Connec&t", "cmdAlias cmdCancel"}));

    // A lost connection takes the accelerator from Connect for good.
    link.peer()->close();
    QVERIFY(QTest::qWaitFor([&] { return !link.link.blnConnected(); }, LinkRig::kWaitMs));
    const QString lost = QStringLiteral("Server connection lost...Please reconnect");
    QCOMPARE(seen(w), (QStringList{"red", lost, "Connect", idle}));

    // Connecting again, the status line keeps saying what happened last.
    QTest::mouseClick(w.cmdConnect(), Qt::LeftButton);
    QCOMPARE(seen(w), (QStringList{"yellow", lost, "Connect", ""}));
    QVERIFY(QTest::qWaitFor([&] { return link.tcpRecords().size() == 1; }, LinkRig::kWaitMs));
    link.toClientUdp(wire::toClient::logonAccepted(LinkRig::kSession, QStringLiteral("Welcome")));
    QVERIFY(QTest::qWaitFor([&] { return link.link.blnConnected(); }, LinkRig::kWaitMs));
    QCOMPARE(seen(w), (QStringList{"green", "Connected", "Connect", "cmdAlias cmdCancel"}));
}

void TestFrmMain::failedLogonLetsTheUserTryAgain_data() {
    QTest::addColumn<LinkState>("state");
    QTest::addColumn<QString>("text"); // as the link reports it
    QTest::newRow("rejected") << LinkState::Rejected << "Logon rejected...Check details and try again";
    QTest::newRow("timed out") << LinkState::TimedOut << "Timed out, no response...Please try again";
    QTest::newRow("error") << LinkState::Error << "Error Encountered...See Debugging";
    QTest::newRow("a state the link does not have: as idle") << static_cast<LinkState>(42) << "Disconnected";
}

// However a logon ends without a connection, the user reads why under a red lamp and can press
// Connect again (by its letter too) or leave; Aliasing waits for a connection.
void TestFrmMain::failedLogonLetsTheUserTryAgain() {
    QFETCH(LinkState, state);
    QFETCH(QString, text);
    Rig rig;
    rig.w.load();
    rig.show(LinkState::Connecting);
    rig.show(LinkState::AwaitingLogon);
    rig.show(state, text);
    QCOMPARE(seen(rig.w), (QStringList{"red", text, "Connec&t", "cmdConnect cmdCancel"}));
    QVERIFY(rig.showActive());
    QTest::keyClick(&rig.w, 't', Qt::AltModifier);
    QTRY_COMPARE_WITH_TIMEOUT(rig.calls, QStringList{QStringLiteral("connect|||")}, 2000);
}

void TestFrmMain::statusIsPaintedAtOnce_data() {
    QTest::addColumn<bool>("byLink");
    QTest::newRow("hangar scan status") << false;
    QTest::newRow("logged on: painted at once") << true;
}

void TestFrmMain::statusIsPaintedAtOnce() {
    QFETCH(bool, byLink);
    Rig rig;
    rig.w.load();
    rig.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.w));
    QCoreApplication::processEvents();
    PaintCounter counter;
    rig.w.lblStatus()->installEventFilter(&counter);
    // No event loop runs between the change and the check, as in a scan or a logon answer.
    if (byLink) {
        rig.show(LinkState::LoggedOn);
    } else {
        rig.w.setStatus(QStringLiteral("Connected"));
    }
    QVERIFY(counter.paints > 0);
    QCOMPARE(rig.w.lblStatus()->text(), QStringLiteral("Connected"));
}

void TestFrmMain::scanStatusSurvivesConnecting() {
    Rig rig;
    rig.w.load();
    rig.w.setStatus(QStringLiteral("Loading your aircraft list..pls wait"));
    // Connect pressed during the scan: picture and buttons change, the status text is left alone.
    rig.show(LinkState::Connecting, QStringLiteral("Disconnected"));
    QCOMPARE(rig.w.lblStatus()->text(), QStringLiteral("Loading your aircraft list..pls wait"));
    QCOMPARE(rig.w.visiblePicture(), 1);
    QVERIFY(!rig.w.cmdConnect()->isEnabled());
}

void TestFrmMain::trafficLightShowsLinkLamp_data() {
    QTest::addColumn<LinkState>("state");
    QTest::addColumn<int>("picture");
    QTest::addColumn<int>("hueLow");
    QTest::addColumn<int>("hueHigh");
    QTest::newRow("not connected: red") << LinkState::Idle << 0 << -20 << 20;
    QTest::newRow("connecting: yellow") << LinkState::Connecting << 1 << 35 << 65;
    QTest::newRow("connected: green") << LinkState::LoggedOn << 2 << 90 << 150;
}

void TestFrmMain::trafficLightShowsLinkLamp() {
    QFETCH(LinkState, state);
    QFETCH(int, picture);
    QFETCH(int, hueLow);
    QFETCH(int, hueHigh);
    Rig rig;
    rig.w.load();
    // Through every picture first, so one left showing would cover this one.
    for (const LinkState s : {LinkState::LoggedOn, LinkState::Connecting, LinkState::Idle, state}) {
        rig.show(s);
    }
    rig.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.w));

    const QImage shot = rig.w.grab().toImage();
    const qreal scale = shot.width() / qreal(rig.w.width());
    const QPoint origin = rig.w.findChild<QLabel*>(QStringLiteral("ConnStatus0"))->pos();
    QList<QColor> lenses; // beside the glint, inside each lens
    for (int lamp = 0; lamp < 3; ++lamp) {
        lenses << QColor::fromRgb(shot.pixel((origin + artwork::lampCentre(lamp) + QPoint(3, 3)) * scale));
    }
    for (int lamp = 0; lamp < 3; ++lamp) {
        if (lamp != picture) {
            QVERIFY(lenses[lamp].value() < lenses[picture].value());
        }
    }
    const int hue = lenses[picture].hsvHue() > 180 ? lenses[picture].hsvHue() - 360 : lenses[picture].hsvHue();
    QVERIFY2(hue >= hueLow && hue <= hueHigh, qPrintable(QString::number(hue)));
    QVERIFY(lenses[picture].hsvSaturation() > 150);
}

void TestFrmMain::productLineAndFixedSize() {
    Rig rig;
    rig.w.load();
    auto* product = rig.w.findChild<QLabel*>(QStringLiteral("lblProductDescr"));
    QVERIFY2(product->text().endsWith(QStringLiteral("Ver:" AIRMESH_VERSION)), qPrintable(product->text()));

    rig.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.w));
    rig.w.resize(900, 400);
    QCOMPARE(rig.w.size(), QSize(696, 166));
    QVERIFY(!(rig.w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    // White where no control is.
    const QImage shot = rig.w.grab().toImage();
    QCOMPARE(QColor::fromRgb(shot.pixel(QPoint(5, 150) * (shot.width() / qreal(rig.w.width())))), QColor(Qt::white));
}

// Each window is centred by its frame, border and title bar included: the main window on the
// whole screen, the splash and the alias dialog on the work area, as the system centres dialogs.
void TestFrmMain::everyWindowIsCentredByItsFrame() {
    Rig rig;
    rig.w.load();
    FrmSplash splash(rig.services);
    Players players;
    players.Add(QStringLiteral("100"))->PlayerHandle = QStringLiteral("Bob");
    const Hangar hangar;
    FrmAlias alias(rig.services, players, hangar);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const auto centredIn = [](const QRect& area, const QWidget* w) {
        const QRect frame = w->frameGeometry();
        return QPoint(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
    };
    for (const auto& [window, area] : {std::pair<QWidget*, QRect>{&rig.w, screen->geometry()},
                                       {&splash, screen->availableGeometry()},
                                       {&alias, screen->availableGeometry()}}) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(window->frameGeometry().size() != window->size()); // the window system draws a frame
        QTRY_COMPARE(window->frameGeometry().topLeft(), centredIn(area, window));
    }
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
