#pragma once

#include <QString>

namespace airmesh {
inline namespace simlink {

// The few window-system calls that find the simulator's chat window and scroll it.
class WindowSystem {
public:
    using Handle = quint64; // 0: no window
    static constexpr int GW_HWNDNEXT = 2;
    static constexpr int GW_CHILD = 5;
    static constexpr unsigned WM_VSCROLL = 0x115;
    static constexpr unsigned SB_BOTTOM = 7;

    virtual ~WindowSystem() = default;
    virtual Handle GetDesktopWindow() = 0;
    // The window in `relation` to `window` (GW_CHILD: its first child; GW_HWNDNEXT: the next
    // in z-order), or 0.
    virtual Handle GetWindow(Handle window, int relation) = 0;
    // At most 255 characters; empty when the window has none.
    virtual QString Get_Window_Class(Handle window) = 0;
    virtual QString Get_Window_Title(Handle window) = 0;
    virtual void SendMessage(Handle window, unsigned message, quintptr wParam, qintptr lParam) = 0;
    // False once the window is gone (its handle no longer names a window).
    virtual bool IsWindow(Handle window) = 0;
};

// A desktop without the simulator's windows: nothing is ever found.
class NoWindowSystem final : public WindowSystem {
public:
    Handle GetDesktopWindow() override { return 0; }
    Handle GetWindow(Handle, int) override { return 0; }
    QString Get_Window_Class(Handle) override { return {}; }
    QString Get_Window_Title(Handle) override { return {}; }
    void SendMessage(Handle, unsigned, quintptr, qintptr) override {}
    bool IsWindow(Handle) override { return false; }
};

// The window system of this machine: user32 on Windows; on Linux the simulator's windows live
// in Wine, out of reach of a Linux program, so nothing is found there.
class DesktopWindowSystem final : public WindowSystem {
public:
    Handle GetDesktopWindow() override;
    Handle GetWindow(Handle window, int relation) override;
    QString Get_Window_Class(Handle window) override;
    QString Get_Window_Title(Handle window) override;
    void SendMessage(Handle window, unsigned message, quintptr wParam, qintptr lParam) override;
    bool IsWindow(Handle window) override;
};

// Keeps the simulator's multiplayer chat window scrolled to its last line.
class ChatWindowBridge {
public:
    explicit ChatWindowBridge(WindowSystem& windows) : m_windows(windows) {}

    // Finds the chat window and its text control once (searching again on every call until
    // found), then scrolls the control to the bottom. A control that is gone (the simulator
    // closed its chat window, perhaps to open it again) is searched for again from the top.
    // Does nothing under the second application identifier.
    void Scroll_Chat_Window(bool blnAltGuid);

    // The windows found so far; 0 until found.
    WindowSystem::Handle lngChatWnd() const { return m_lngChatWnd; }
    WindowSystem::Handle lngChatRichEdit() const { return m_lngChatRichEdit; }

private:
    WindowSystem& m_windows;
    WindowSystem::Handle m_lngChatWnd = 0;
    WindowSystem::Handle m_lngChatRichEdit = 0;
};

} // namespace simlink
} // namespace airmesh
