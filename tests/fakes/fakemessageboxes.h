#pragma once

#include "core/messagebox.h"

#include <QList>
#include <QStringList>

namespace airmesh {

// Message boxes that show nothing and write down every box asked for, in order.
class FakeMessageBoxes final : public MessageBoxService {
public:
    struct Box {
        QString text;
        QString title;
        bool operator==(const Box&) const = default;
    };

    void showMessage(const QString& text, const QString& title) override { shown.append({text, title}); }

    QStringList texts() const;
    QStringList titles() const;

    QList<Box> shown;
};

} // namespace airmesh
