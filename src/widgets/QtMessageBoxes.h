#pragma once

#include "widgets/MessageBoxes.h"

class QWidget;

namespace tamberlo {

// Message boxes as modal QMessageBox dialogs over the panel's window.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const QString& text, const QString& title, MessageIcon icon) override;

private:
    QWidget* parent_;
};

} // namespace tamberlo
