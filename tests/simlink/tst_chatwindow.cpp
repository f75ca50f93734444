#include "fakes/fakewindowsystem.h"
#include "simlink/chatwindow.h"

#include <QHash>
#include <QList>
#include <QTest>

using namespace airmesh;
using Handle = WindowSystem::Handle;

namespace {

const FakeWindowSystem::Sent scrollToBottom(Handle h) {
    return {h, 0x115, 7, 0};
}

int queriesOf(const FakeWindowSystem& w, const QList<Handle>& handles) {
    int n = 0;
    for (const Handle h : handles) {
        n += w.classQueries.value(h);
    }
    return n;
}

} // namespace

class TestChatWindow : public QObject {
    Q_OBJECT

private slots:
    // Top-level windows as "class|title|children", children as classes separated by commas; a
    // child "A>B" has a child of class B itself. The expected positions count from 0; -1: none.
    void recognition_data() {
        QTest::addColumn<QStringList>("topLevel");
        QTest::addColumn<int>("chat");
        QTest::addColumn<int>("edit");

        QTest::newRow("empty desktop") << QStringList{} << -1 << -1;
        QTest::newRow("other windows only")
            << QStringList{"Shell_TrayWnd||", "Notepad|Flight plan.txt - Notepad|Edit"} << -1 << -1;
        QTest::newRow("title without Flight") << QStringList{"FS98MPCHAT|Multiplayer Chat|RichEdit20A"} << -1 << -1;
        QTest::newRow("Flight in other letter cases")
            << QStringList{"FS98MPCHAT|flight chat|RichEdit20A", "FS98MPCHAT|FLIGHT|RichEdit20A"} << -1 << -1;
        QTest::newRow("class not exactly FS98MPCHAT")
            << QStringList{"fs98mpchat|Flight|RichEdit20A", "FS98MPCHAT2|Flight|RichEdit20A",
                           "FS98MPCHA|Flight|RichEdit20A", " FS98MPCHAT|Flight|RichEdit20A"}
            << -1 << -1;
        QTest::newRow("Flight inside the title") << QStringList{"FS98MPCHAT|MyFlightChat|RichEdit20A"} << 0 << 0;
        QTest::newRow("found behind decoys")
            << QStringList{"Notepad|Flight plan|RichEdit20A", "FS98MPCHAT|Chat|RichEdit20A",
                           "FS98MPCHAT|Microsoft Flight Simulator|Static,RichEdit20A,RichEdit20A"}
            << 2 << 1;
        QTest::newRow("first of two chat windows")
            << QStringList{"FS98MPCHAT|Flight 1|RichEdit20A", "FS98MPCHAT|Flight 2|RichEdit20A"} << 0 << 0;
        QTest::newRow("no RichEdit20A child")
            << QStringList{"FS98MPCHAT|Flight|Static,RichEdit20W,richedit20a,RichEdit20A "} << 0 << -1;
        QTest::newRow("RichEdit20A only deeper down") << QStringList{"FS98MPCHAT|Flight|Static>RichEdit20A"} << 0 << -1;
    }

    void recognition() {
        QFETCH(QStringList, topLevel);
        QFETCH(int, chat);
        QFETCH(int, edit);

        FakeWindowSystem windows;
        QList<Handle> tops;
        QList<QList<Handle>> kids;
        for (const QString& window : topLevel) {
            const QStringList parts = window.split(QLatin1Char('|'));
            const Handle top = windows.add(FakeWindowSystem::kDesktop, parts[0], parts[1]);
            tops.append(top);
            QList<Handle> mine;
            for (const QString& child : parts[2].split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QStringList chain = child.split(QLatin1Char('>'));
                const Handle c = windows.add(top, chain[0]);
                mine.append(c);
                if (chain.size() > 1) {
                    windows.add(c, chain[1]);
                }
            }
            kids.append(mine);
        }

        ChatWindowBridge bridge(windows);
        bridge.Scroll_Chat_Window(false);
        const int topQueriesAfterFirst = queriesOf(windows, tops);
        const int childQueriesAfterFirst = chat >= 0 ? queriesOf(windows, kids[chat]) : 0;
        bridge.Scroll_Chat_Window(false);
        bridge.Scroll_Chat_Window(false);

        QCOMPARE(bridge.lngChatWnd(), chat >= 0 ? tops[chat] : 0);
        QCOMPARE(bridge.lngChatRichEdit(), chat >= 0 && edit >= 0 ? kids[chat][edit] : 0);
        if (chat < 0) {
            // Searched again on every tick, nothing sent.
            QCOMPARE(queriesOf(windows, tops), 3 * topQueriesAfterFirst);
            QCOMPARE(windows.sent.size(), 0);
            return;
        }
        // The chat window, once found, is not looked for again.
        QCOMPARE(queriesOf(windows, tops), topQueriesAfterFirst);
        if (edit < 0) {
            QCOMPARE(queriesOf(windows, kids[chat]), 3 * childQueriesAfterFirst);
            QVERIFY(childQueriesAfterFirst > 0);
            QCOMPARE(windows.sent.size(), 0);
            return;
        }
        QCOMPARE(queriesOf(windows, kids[chat]), childQueriesAfterFirst);
        const Handle h = kids[chat][edit];
        QCOMPARE(windows.sent,
                 (QList<FakeWindowSystem::Sent>{scrollToBottom(h), scrollToBottom(h), scrollToBottom(h)}));
    }

    void secondApplicationIdentifierDoesNothing() {
        FakeWindowSystem windows;
        const Handle chat =
            windows.add(FakeWindowSystem::kDesktop, QStringLiteral("FS98MPCHAT"), QStringLiteral("Flight"));
        windows.add(chat, QStringLiteral("RichEdit20A"));
        ChatWindowBridge bridge(windows);

        bridge.Scroll_Chat_Window(true);
        bridge.Scroll_Chat_Window(true);
        QCOMPARE(windows.calls, 0);
        QCOMPARE(bridge.lngChatWnd(), Handle(0));

        bridge.Scroll_Chat_Window(false);
        QCOMPARE(windows.sent.size(), 1);
    }

    // The simulator closes its chat window and opens it again under new handles: the next tick
    // finds the new ones instead of scrolling the dead control; a window closed before its
    // control was found is let go as well.
    void windowsThatGoAreSearchedForAgain() {
        FakeWindowSystem windows;
        const Handle chat =
            windows.add(FakeWindowSystem::kDesktop, QStringLiteral("FS98MPCHAT"), QStringLiteral("Flight"));
        windows.add(chat, QStringLiteral("RichEdit20A"));
        ChatWindowBridge bridge(windows);
        bridge.Scroll_Chat_Window(false);

        windows.closeAll();
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(bridge.lngChatWnd(), Handle(0));
        QCOMPARE(windows.sent.size(), 1);

        const Handle bare =
            windows.add(FakeWindowSystem::kDesktop, QStringLiteral("FS98MPCHAT"), QStringLiteral("Flight"));
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(bridge.lngChatWnd(), bare);
        windows.closeAll();
        const Handle reopened =
            windows.add(FakeWindowSystem::kDesktop, QStringLiteral("FS98MPCHAT"), QStringLiteral("Flight"));
        const Handle edit = windows.add(reopened, QStringLiteral("RichEdit20A"));
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(bridge.lngChatWnd(), reopened);
        QCOMPARE(windows.sent.last(), scrollToBottom(edit));

        // While the windows live, a tick is one check and one message.
        const int callsBefore = windows.calls;
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(windows.calls, callsBefore + 2);
    }

    void textControlAppearingLaterIsFound() {
        FakeWindowSystem windows;
        const Handle chat =
            windows.add(FakeWindowSystem::kDesktop, QStringLiteral("FS98MPCHAT"), QStringLiteral("Flight"));
        ChatWindowBridge bridge(windows);
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(bridge.lngChatWnd(), chat);
        QCOMPARE(windows.sent.size(), 0);

        const Handle edit = windows.add(chat, QStringLiteral("RichEdit20A"));
        bridge.Scroll_Chat_Window(false);
        QCOMPARE(windows.classQueries.value(chat), 1); // the top-level search ran only once
        QCOMPARE(windows.sent, QList<FakeWindowSystem::Sent>{scrollToBottom(edit)});
    }

    void circularZOrderEndsTheSearch() {
        FakeWindowSystem windows;
        const Handle a = windows.add(FakeWindowSystem::kDesktop, QStringLiteral("Notepad"));
        const Handle b = windows.add(FakeWindowSystem::kDesktop, QStringLiteral("Calc"));
        windows.setNext(b, a);
        ChatWindowBridge bridge(windows);

        bridge.Scroll_Chat_Window(false); // returns at all
        QCOMPARE(bridge.lngChatWnd(), Handle(0));
        QVERIFY(windows.classQueries.value(a) > 1);
        QVERIFY(windows.calls < 100000);
    }
};

QTEST_GUILESS_MAIN(TestChatWindow)
#include "tst_chatwindow.moc"
