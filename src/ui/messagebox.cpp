#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace airmesh {

void WidgetMessageBoxService::showMessage(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? QApplication::applicationDisplayName() : title, text,
                    QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

} // namespace airmesh
