#include "acceleratorguard.h"

#include <QKeyEvent>

namespace airmesh {
inline namespace ui {

namespace {

// A key press with Alt (without Ctrl: Ctrl+Alt is AltGr on Windows, which types characters of
// its own) and a printable text.
bool isLooseAccelerator(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const auto* key = static_cast<const QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    if (!mods.testFlag(Qt::AltModifier) || mods.testFlag(Qt::ControlModifier)) {
        return false;
    }
    const QString text = key->text();
    return !text.isEmpty() && text.front().isPrint();
}

} // namespace

bool AcceleratorGuard::eventFilter(QObject* watched, QEvent* event) {
    // An accelerator that a button took never arrives here: Qt hands it to the button before
    // any window sees the key. What does arrive belongs to nobody and does nothing.
    if (isLooseAccelerator(event)) {
        event->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ui
} // namespace airmesh
