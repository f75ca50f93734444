#include "fakewindowsystem.h"

namespace airmesh {

FakeWindowSystem::Handle FakeWindowSystem::add(Handle parent, const QString& cls, const QString& title) {
    const Handle h = m_next;
    m_next += 0x10;
    m_windows.insert(h, {cls, title, parent, {}});
    children(parent).append(h);
    return h;
}

void FakeWindowSystem::closeAll() {
    m_windows.clear();
    m_desktopChildren.clear();
}

FakeWindowSystem::Handle FakeWindowSystem::GetDesktopWindow() {
    ++calls;
    return kDesktop;
}

FakeWindowSystem::Handle FakeWindowSystem::GetWindow(Handle window, int relation) {
    ++calls;
    if (relation == GW_CHILD) {
        const QList<Handle>& c = children(window);
        return c.isEmpty() ? 0 : c.first();
    }
    if (relation == GW_HWNDNEXT) {
        if (m_nextOverride.contains(window)) {
            return m_nextOverride.value(window);
        }
        if (!m_windows.contains(window)) {
            return 0;
        }
        const QList<Handle>& siblings = children(m_windows[window].parent);
        const qsizetype i = siblings.indexOf(window);
        return i + 1 < siblings.size() ? siblings[i + 1] : 0;
    }
    return 0;
}

QString FakeWindowSystem::Get_Window_Class(Handle window) {
    ++calls;
    ++classQueries[window];
    return m_windows.value(window).cls;
}

QString FakeWindowSystem::Get_Window_Title(Handle window) {
    ++calls;
    return m_windows.value(window).title;
}

void FakeWindowSystem::SendMessage(Handle window, unsigned message, quintptr wParam, qintptr lParam) {
    ++calls;
    sent.append({window, message, wParam, lParam});
}

bool FakeWindowSystem::IsWindow(Handle window) {
    ++calls;
    return m_windows.contains(window);
}

QList<FakeWindowSystem::Handle>& FakeWindowSystem::children(Handle parent) {
    if (parent == kDesktop) {
        return m_desktopChildren;
    }
    m_none.clear();
    return m_windows.contains(parent) ? m_windows[parent].children : m_none;
}

} // namespace airmesh
