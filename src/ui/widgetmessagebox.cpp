#include "widgetmessagebox.h"

#include "branding.h"

#include <QMessageBox>

namespace airmesh {
inline namespace ui {

void WidgetMessageBoxService::showMessage(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? branding::defaultMessageTitle() : title, text,
                    QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

} // namespace ui
} // namespace airmesh
