// A stand-in for the simulator's multiplayer chat window, for the chat window bridge's test.
//
// Reads commands, one a line, on standard input:
//   open CLASS TITLE   a top-level window of class CLASS titled TITLE (the rest of the line),
//                      not shown, with one child of class "RichEdit20A"; answers
//                      "opened <window> <child>" (handles in hexadecimal)
//   close              destroys every window opened; answers "closed"
// and ends at the end of its input. A child answers the message WM_APP with the number of
// WM_VSCROLL/SB_BOTTOM messages it has received.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxWindows = 8;
constexpr UINT kCommandLine = WM_APP + 1;

HWND windows[kMaxWindows];
int windowCount;

struct Child {
    HWND hwnd;
    WNDPROC inner;
    long scrolls;
};
Child children[64];
int childCount;

Child* childOf(HWND h) {
    for (int i = 0; i < childCount; ++i) {
        if (children[i].hwnd == h) {
            return &children[i];
        }
    }
    return nullptr;
}

LRESULT CALLBACK childProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Child* c = childOf(h);
    if (msg == WM_APP) {
        return c ? c->scrolls : -1;
    }
    if (msg == WM_VSCROLL && wp == SB_BOTTOM && c) {
        ++c->scrolls;
    }
    return c && c->inner ? CallWindowProcA(c->inner, h, msg, wp, lp) : DefWindowProcA(h, msg, wp, lp);
}

void openWindow(const char* className, const char* title) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc); // fails harmlessly when already registered
    HWND top = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, wc.hInstance,
                               nullptr);
    HWND child = top ? CreateWindowExA(0, "RichEdit20A", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | WS_VSCROLL, 0, 0,
                                       280, 150, top, nullptr, wc.hInstance, nullptr)
                     : nullptr;
    if (child && windowCount < kMaxWindows && childCount < 64) {
        Child* c = &children[childCount++];
        c->hwnd = child;
        c->scrolls = 0;
        c->inner =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrA(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(childProc)));
        windows[windowCount++] = top;
    }
    printf("opened %llx %llx\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(top)),
           static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(child)));
    fflush(stdout);
}

DWORD WINAPI readInput(LPVOID mainThread) {
    char line[512];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = '\0';
        PostThreadMessageA(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(mainThread)), kCommandLine, 0,
                           reinterpret_cast<LPARAM>(_strdup(line)));
    }
    PostThreadMessageA(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(mainThread)), WM_QUIT, 0, 0);
    return 0;
}

} // namespace

int main() {
    // The real control where there is one; a plain window of the same class name elsewhere.
    if (!LoadLibraryA("riched20.dll")) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "RichEdit20A";
        RegisterClassA(&wc);
    }
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // this thread's queue, before input arrives
    CreateThread(nullptr, 0, readInput, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(GetCurrentThreadId())), 0,
                 nullptr);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == kCommandLine) {
            char* line = reinterpret_cast<char*>(msg.lParam);
            if (strncmp(line, "open ", 5) == 0) {
                char* title = strchr(line + 5, ' ');
                if (title) {
                    *title++ = '\0';
                }
                openWindow(line + 5, title ? title : "");
            } else if (strcmp(line, "close") == 0) {
                while (windowCount > 0) {
                    DestroyWindow(windows[--windowCount]);
                }
                childCount = 0;
                puts("closed");
                fflush(stdout);
            }
            free(line);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
