#pragma once

#include "planwin/PlanDialogs.h"

#include <QPointer>
#include <QWidget>

namespace tamberlo::planwin {

// The plan window's dialogs on QFileDialog and QMessageBox, modal over the window; each file
// dialog starts in the folder used last.
class QtPlanDialogs : public PlanDialogs {
public:
    explicit QtPlanDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    QStringList openFiles(const QString& title, const QStringList& filters) override;
    QString openFile(const QString& title, const QStringList& filters) override;
    QString saveFile(const QString& title, const QStringList& filters,
                     const QString& suggested) override;
    bool ask(const QString& text, const QString& title) override;

private:
    QPointer<QWidget> parent_;
    QString folder_;
};

} // namespace tamberlo::planwin
