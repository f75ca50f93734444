#pragma once

#include <QObject>

namespace airmesh {
inline namespace ui {

// Keeps an Alt+letter that no enabled accelerator took from reaching the control that has the
// focus. Qt hands the accelerator of a disabled button (or a letter that no button has) on to
// the focused control as an ordinary key press, and a text box would type the letter into the
// server address or a list would jump to an entry. Installed on the application, it covers
// every window of the program, the message boxes and the address prompt included.
class AcceleratorGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace ui
} // namespace airmesh
