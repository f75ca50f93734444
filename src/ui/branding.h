#pragma once

#include <QString>

namespace airmesh {
inline namespace ui {
namespace branding {

// The maker, named alike on every window.
inline QString maker() {
    return QStringLiteral("Norvane");
}

// The title of a message box that has none of its own.
inline QString defaultMessageTitle() {
    return QStringLiteral("Airmesh Client");
}

} // namespace branding
} // namespace ui
} // namespace airmesh
