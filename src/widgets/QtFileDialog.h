#pragma once

#include "widgets/FileDialog.h"

#include <QPointer>
#include <QWidget>

namespace tamberlo {

// The file-open dialog on QFileDialog: modal over the window, the first filter selected,
// starting at the name accepted last. Names need not exist: a file that cannot be
// opened is reported by whoever opens it.
class QtFileDialog : public FileDialog {
public:
    explicit QtFileDialog(QWidget* parent = nullptr) : parent_(parent) {}

    void showOpen(const QString& title, const QStringList& filters) override;
    QString fileName() const override { return name_; }

private:
    QPointer<QWidget> parent_;
    QString name_;
};

} // namespace tamberlo
