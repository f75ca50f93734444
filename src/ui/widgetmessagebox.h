#pragma once

#include "core/messagebox.h"

namespace airmesh {
inline namespace ui {

// Real modal message boxes.
class WidgetMessageBoxService final : public MessageBoxService {
public:
    void showMessage(const QString& text, const QString& title) override;
};

} // namespace ui
} // namespace airmesh
