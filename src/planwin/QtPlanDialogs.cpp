#include "planwin/QtPlanDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace tamberlo::planwin {

QStringList QtPlanDialogs::openFiles(const QString& title, const QStringList& filters) {
    const QStringList files =
        QFileDialog::getOpenFileNames(parent_, title, folder_, filters.join(QLatin1String(";;")));
    if (!files.isEmpty())
        folder_ = QFileInfo(files.first()).absolutePath();
    return files;
}

QString QtPlanDialogs::openFile(const QString& title, const QStringList& filters) {
    const QString file =
        QFileDialog::getOpenFileName(parent_, title, folder_, filters.join(QLatin1String(";;")));
    if (!file.isEmpty())
        folder_ = QFileInfo(file).absolutePath();
    return file;
}

QString QtPlanDialogs::saveFile(const QString& title, const QStringList& filters,
                                const QString& suggested) {
    QString start = suggested;
    if (QFileInfo(suggested).isRelative() && !folder_.isEmpty())
        start = folder_ + QLatin1Char('/') + suggested;
    const QString file =
        QFileDialog::getSaveFileName(parent_, title, start, filters.join(QLatin1String(";;")));
    if (!file.isEmpty())
        folder_ = QFileInfo(file).absolutePath();
    return file;
}

bool QtPlanDialogs::ask(const QString& text, const QString& title) {
    return QMessageBox::question(parent_, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace tamberlo::planwin
