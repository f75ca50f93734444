#pragma once

#include "core/messagebox.h"

namespace airmesh {

// Real modal message boxes.
class WidgetMessageBoxService final : public MessageBoxService {
public:
    void showMessage(const QString& text, const QString& title) override;
};

} // namespace airmesh
