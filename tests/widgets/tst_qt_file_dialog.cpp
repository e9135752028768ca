// The file dialog on QFileDialog, driven as the operator would on the offscreen platform.
#include "widgets/QtFileDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

using namespace tamberlo;

namespace {

// Runs `act` on the file dialog once it is up (modal, inside showOpen) and, when `dir` is
// given, has listed that folder: a listing that arrives later puts its own selection back.
void whenShown(const QString& dir, std::function<void(QFileDialog*)> act) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, dir, act] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto* model = dialog->findChild<QFileSystemModel*>();
        if (!dir.isEmpty() && (!model || model->rowCount(model->index(dir)) == 0))
            return;
        poll->stop();
        poll->deleteLater();
        act(dialog);
    });
    poll->start();
}

} // namespace

class TestQtFileDialog : public QObject {
    Q_OBJECT
private slots:
    void choosesRemembersAndKeepsOnCancel();
};

void TestQtFileDialog::choosesRemembersAndKeepsOnCancel() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString chosen = dir.filePath(QStringLiteral("take.mp3"));
    QFile(chosen).open(QIODevice::WriteOnly);
    const QStringList filters{QStringLiteral("音频文件 (*.mp3)"),
                              QStringLiteral("动画文件 (*.wav)"), QStringLiteral("所有文件 (*.*)")};

    QWidget window;
    QtFileDialog dialog(&window);
    QCOMPARE(dialog.fileName(), QString());

    QString title;
    QStringList shownFilters;
    QString selectedFilter;
    bool modal = false;
    whenShown(QString(), [&](QFileDialog* d) {
        title = d->windowTitle();
        shownFilters = d->nameFilters();
        selectedFilter = d->selectedNameFilter();
        modal = d->isModal();
        d->selectFile(chosen);
        static_cast<QDialog*>(d)->accept(); // public in QDialog
    });
    dialog.showOpen(QStringLiteral("请选择音频文件"), filters);
    QCOMPARE(title, QStringLiteral("请选择音频文件"));
    QCOMPARE(shownFilters, filters);
    QCOMPARE(selectedFilter, filters.first());
    QVERIFY(modal);
    QCOMPARE(dialog.fileName(), chosen);

    // Shown again it starts at the remembered name; a cancel keeps it.
    QStringList preselected;
    whenShown(dir.path(), [&](QFileDialog* d) {
        preselected = d->selectedFiles();
        d->reject();
    });
    dialog.showOpen(QStringLiteral("请选择音频文件"), filters);
    QCOMPARE(preselected, QStringList{chosen});
    QCOMPARE(dialog.fileName(), chosen);

    // A name typed in that does not exist is taken; whoever opens it reports the failure.
    const QString missing = dir.filePath(QStringLiteral("gone.wav"));
    whenShown(dir.path(), [&](QFileDialog* d) {
        // As the operator does: click off the highlighted file, type the name.
        auto* list = d->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        auto* nameEdit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (list)
            list->clearSelection();
        if (nameEdit)
            nameEdit->setText(missing);
        static_cast<QDialog*>(d)->accept(); // public in QDialog
    });
    dialog.showOpen(QStringLiteral("请选择音频文件"), filters);
    QCOMPARE(dialog.fileName(), missing);
}

QTEST_MAIN(TestQtFileDialog)
#include "tst_qt_file_dialog.moc"
