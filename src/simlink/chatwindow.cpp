#include "chatwindow.h"

namespace airmesh {
inline namespace simlink {

namespace {

const QString kChatWindowClass = QStringLiteral("FS98MPCHAT");
const QString kChatWindowTitlePart = QStringLiteral("Flight");
const QString kRichEditClass = QStringLiteral("RichEdit20A");

// A walk along the z-order can run in a circle when windows are reordered while it runs; no
// desktop has this many windows, so a walk that gets this far is given up until the next tick.
constexpr int kMaxWindowsPerWalk = 10000;

// The first direct child of `parent` for which `match` holds, or 0.
template <typename Match>
WindowSystem::Handle findChild(WindowSystem& windows, WindowSystem::Handle parent, Match match) {
    WindowSystem::Handle h = windows.GetWindow(parent, WindowSystem::GW_CHILD);
    for (int seen = 0; h != 0 && seen < kMaxWindowsPerWalk; ++seen) {
        if (match(h)) {
            return h;
        }
        h = windows.GetWindow(h, WindowSystem::GW_HWNDNEXT);
    }
    return 0;
}

} // namespace

void ChatWindowBridge::Scroll_Chat_Window(bool blnAltGuid) {
    if (blnAltGuid) {
        return;
    }
    // A handle kept from a window that is gone would scroll nothing for the rest of the run: the
    // simulator makes a new chat window when the user opens it again.
    if (m_lngChatRichEdit != 0 && !m_windows.IsWindow(m_lngChatRichEdit)) {
        m_lngChatWnd = 0;
        m_lngChatRichEdit = 0;
    } else if (m_lngChatRichEdit == 0 && m_lngChatWnd != 0 && !m_windows.IsWindow(m_lngChatWnd)) {
        m_lngChatWnd = 0;
    }
    if (m_lngChatWnd == 0) {
        m_lngChatWnd = findChild(m_windows, m_windows.GetDesktopWindow(), [this](WindowSystem::Handle h) {
            return m_windows.Get_Window_Class(h) == kChatWindowClass &&
                   m_windows.Get_Window_Title(h).contains(kChatWindowTitlePart, Qt::CaseSensitive);
        });
    }
    if (m_lngChatWnd == 0) {
        return;
    }
    if (m_lngChatRichEdit == 0) {
        m_lngChatRichEdit = findChild(m_windows, m_lngChatWnd, [this](WindowSystem::Handle h) {
            return m_windows.Get_Window_Class(h) == kRichEditClass;
        });
    }
    if (m_lngChatRichEdit == 0) {
        return;
    }
    m_windows.SendMessage(m_lngChatRichEdit, WindowSystem::WM_VSCROLL, WindowSystem::SB_BOTTOM, 0);
}

} // namespace simlink
} // namespace airmesh
