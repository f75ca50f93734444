#pragma once

#include "simlink/chatwindow.h"

#include <QHash>
#include <QList>

namespace airmesh {

// A desktop of fake windows: a tree whose sibling order is the z-order. Every call is counted,
// class queries per window, and every message sent is written down.
class FakeWindowSystem final : public WindowSystem {
public:
    struct Sent {
        Handle window = 0;
        unsigned message = 0;
        quintptr wParam = 0;
        qintptr lParam = 0;
        bool operator==(const Sent&) const = default;
    };

    static constexpr Handle kDesktop = 0x10010;

    Handle add(Handle parent, const QString& cls, const QString& title = {});
    // Every window closes.
    void closeAll();
    // The window after `h` in z-order becomes `next`, whatever the tree says.
    void setNext(Handle h, Handle next) { m_nextOverride.insert(h, next); }

    Handle GetDesktopWindow() override;
    Handle GetWindow(Handle window, int relation) override;
    QString Get_Window_Class(Handle window) override;
    QString Get_Window_Title(Handle window) override;
    void SendMessage(Handle window, unsigned message, quintptr wParam, qintptr lParam) override;
    bool IsWindow(Handle window) override;

    int calls = 0;
    QHash<Handle, int> classQueries;
    QList<Sent> sent;

private:
    struct Window {
        QString cls;
        QString title;
        Handle parent = 0;
        QList<Handle> children;
    };
    QList<Handle>& children(Handle parent);

    QHash<Handle, Window> m_windows;
    QList<Handle> m_desktopChildren;
    QList<Handle> m_none; // the children of a window that does not exist
    QHash<Handle, Handle> m_nextOverride;
    Handle m_next = 0x20020;
};

} // namespace airmesh
