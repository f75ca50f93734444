#include "addressprompt.h"

#include <QInputDialog>

namespace airmesh {
inline namespace ui {

std::optional<QString> askSessionHost(QWidget* parent, const QString& suggested) {
    bool ok = false;
    const QString typed =
        QInputDialog::getText(parent, QStringLiteral("Locate Session"),
                              QStringLiteral("Enter the name or IP address of the computer where FS hosts the session\n"
                                             "(localhost for this computer; leave blank to search the local network):"),
                              QLineEdit::Normal, suggested, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return typed.trimmed();
}

} // namespace ui
} // namespace airmesh
