#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace airmesh {
inline namespace ui {

// The session provider's question for the computer that hosts the simulator's session, as a
// small dialog: the suggested address is filled in; nullopt when the user cancels.
std::optional<QString> askSessionHost(QWidget* parent, const QString& suggested);

} // namespace ui
} // namespace airmesh
