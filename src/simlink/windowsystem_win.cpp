#include "chatwindow.h"

#include <windows.h>

// windows.h names SendMessage a macro for SendMessageA/W; here it is the interface's method.
#undef SendMessage

namespace airmesh {
inline namespace simlink {

namespace {

HWND hwnd(WindowSystem::Handle h) {
    return reinterpret_cast<HWND>(static_cast<quintptr>(h));
}

WindowSystem::Handle handle(HWND w) {
    return static_cast<WindowSystem::Handle>(reinterpret_cast<quintptr>(w));
}

// The first n characters of a 256-character buffer the window system filled with at most 255;
// a count of 0 or less is the empty text.
QString textOf(const char* buffer, int n) {
    return n > 0 ? QString::fromLocal8Bit(buffer, qMin(n, 255)) : QString();
}

} // namespace

WindowSystem::Handle DesktopWindowSystem::GetDesktopWindow() {
    return handle(::GetDesktopWindow());
}

WindowSystem::Handle DesktopWindowSystem::GetWindow(Handle window, int relation) {
    return handle(::GetWindow(hwnd(window), static_cast<UINT>(relation)));
}

QString DesktopWindowSystem::Get_Window_Class(Handle window) {
    char buffer[256] = {};
    return textOf(buffer, ::GetClassNameA(hwnd(window), buffer, 256));
}

QString DesktopWindowSystem::Get_Window_Title(Handle window) {
    char buffer[256] = {};
    return textOf(buffer, ::GetWindowTextA(hwnd(window), buffer, 256));
}

void DesktopWindowSystem::SendMessage(Handle window, unsigned message, quintptr wParam, qintptr lParam) {
    // Waits until the simulator's window has handled it; the result is of no use here.
    ::SendMessageA(hwnd(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

bool DesktopWindowSystem::IsWindow(Handle window) {
    return ::IsWindow(hwnd(window)) != FALSE;
}

} // namespace simlink
} // namespace airmesh
