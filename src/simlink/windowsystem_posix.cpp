#include "chatwindow.h"

namespace airmesh {
inline namespace simlink {

WindowSystem::Handle DesktopWindowSystem::GetDesktopWindow() {
    return 0;
}
WindowSystem::Handle DesktopWindowSystem::GetWindow(Handle, int) {
    return 0;
}
QString DesktopWindowSystem::Get_Window_Class(Handle) {
    return {};
}
QString DesktopWindowSystem::Get_Window_Title(Handle) {
    return {};
}
void DesktopWindowSystem::SendMessage(Handle, unsigned, quintptr, qintptr) {}
bool DesktopWindowSystem::IsWindow(Handle) {
    return false;
}

} // namespace simlink
} // namespace airmesh
