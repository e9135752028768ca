#include "widgets/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace tamberlo {

void QtMessageBoxes::show(const QString& text, const QString& title, MessageIcon icon) {
    QMessageBox box(parent_);
    box.setText(text);
    box.setWindowTitle(title.isEmpty() ? QApplication::applicationName() : title);
    switch (icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace tamberlo
