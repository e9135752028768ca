#include "widgets/QtFileDialog.h"

#include <QDir>
#include <QFileDialog>

namespace tamberlo {

void QtFileDialog::showOpen(const QString& title, const QStringList& filters) {
    QFileDialog dialog(parent_, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.first());
    if (!name_.isEmpty())
        dialog.selectFile(name_);
    dialog.setModal(true);

    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty())
        name_ = QDir::toNativeSeparators(chosen.first());
}

} // namespace tamberlo
