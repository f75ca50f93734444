// The chat window bridge on user32 against real windows: fakechatwindow.exe makes them in its
// own process, as the simulator does, and counts the scroll requests its text control gets. They
// are never shown: a hidden top-level window is a child of the desktop all the same.
#include "simlink/chatwindow.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

#include <windows.h>

using namespace airmesh;

namespace {

// One fakechatwindow process, driven through its standard input and output.
class FakeChat {
public:
    bool start() {
        m_process.start(QStringLiteral(FAKE_CHAT_WINDOW_PATH), {});
        return m_process.waitForStarted(10000);
    }
    ~FakeChat() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // The window and its text control, or zeros when either could not be made.
    std::pair<WindowSystem::Handle, WindowSystem::Handle> open(const QByteArray& className, const QByteArray& title) {
        const QList<QByteArray> words = command("open " + className + " " + title).split(' ');
        if (words.size() != 3 || words[0] != "opened") {
            return {0, 0};
        }
        return {words[1].toULongLong(nullptr, 16), words[2].toULongLong(nullptr, 16)};
    }
    bool close() { return command("close") == "closed"; }
    // The WM_VSCROLL/SB_BOTTOM messages the control has received.
    static long scrolls(WindowSystem::Handle child) {
        return static_cast<long>(::SendMessageA(reinterpret_cast<HWND>(static_cast<quintptr>(child)), WM_APP, 0, 0));
    }

private:
    QByteArray command(const QByteArray& line) {
        m_process.write(line + "\n");
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired()) {
            m_process.waitForReadyRead(100);
        }
        return m_process.readLine().trimmed();
    }
    QProcess m_process;
};

} // namespace

class TestChatWindowWin32 : public QObject {
    Q_OBJECT

private slots:
    // A window that is not the simulator's chat window is never taken, nor its control scrolled.
    void ignoresOtherWindows_data() {
        QTest::addColumn<QByteArray>("className");
        QTest::addColumn<QByteArray>("title");
        QTest::newRow("title without Flight") << QByteArray("FS98MPCHAT") << QByteArray("Multiplayer Chat");
        QTest::newRow("title with flight in lower case") << QByteArray("FS98MPCHAT") << QByteArray("flight chat");
        QTest::newRow("class in lower case") << QByteArray("fs98mpchat") << QByteArray("Flight Chat");
        QTest::newRow("class with more letters") << QByteArray("FS98MPCHAT2") << QByteArray("Flight Chat");
    }

    void ignoresOtherWindows() {
        QFETCH(QByteArray, className);
        QFETCH(QByteArray, title);
        FakeChat fake;
        QVERIFY(fake.start());
        const auto [window, child] = fake.open(className, title);
        QVERIFY(window != 0 && child != 0);
        DesktopWindowSystem desktop;
        QCOMPARE(desktop.Get_Window_Class(window), QString::fromLatin1(className));
        ChatWindowBridge bridge(desktop);
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(bridge.lngChatWnd(), WindowSystem::Handle(0));
        QCOMPARE(FakeChat::scrolls(child), 0L);
    }

    // The window is found once, each tick scrolls its control by exactly one message, and after
    // the simulator closes and reopens its chat window the next tick finds and scrolls the new one.
    void findsScrollsAndFollowsReopening() {
        FakeChat fake;
        QVERIFY(fake.start());
        DesktopWindowSystem desktop;
        ChatWindowBridge bridge(desktop);
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(bridge.lngChatWnd(), WindowSystem::Handle(0));

        const auto [window, child] = fake.open("FS98MPCHAT", "Microsoft Flight Simulator Chat");
        QVERIFY(window != 0 && child != 0);
        for (long tick = 1; tick <= 3; ++tick) {
            bridge.Scroll_Chat_Window(false);
            QCOMPARE(bridge.lngChatWnd(), window);
            QCOMPARE(bridge.lngChatRichEdit(), child);
            QCOMPARE(FakeChat::scrolls(child), tick);
        }
        bridge.Scroll_Chat_Window(true);
        QCOMPARE(FakeChat::scrolls(child), 3L);

        QVERIFY(fake.close());
        const auto [newWindow, newChild] = fake.open("FS98MPCHAT", "Flight Chat");
        QVERIFY(newWindow != 0 && newChild != 0 && newChild != child);
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(bridge.lngChatWnd(), newWindow);
        QCOMPARE(bridge.lngChatRichEdit(), newChild);
        QCOMPARE(FakeChat::scrolls(newChild), 1L);
    }
};

QTEST_GUILESS_MAIN(TestChatWindowWin32)
#include "tst_chatwindow_win32.moc"
