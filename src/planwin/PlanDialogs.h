#pragma once

#include <QString>
#include <QStringList>

namespace tamberlo::planwin {

// The plan window's modal dialogs: choosing files to open or a name to save under, and a
// yes/no question. One Qt adapter (QtPlanDialogs) and one fake for tests.
class PlanDialogs {
public:
    virtual ~PlanDialogs() = default;

    // Existing files, several at once; empty when cancelled.
    virtual QStringList openFiles(const QString& title, const QStringList& filters) = 0;
    // One existing file; empty when cancelled.
    virtual QString openFile(const QString& title, const QStringList& filters) = 0;
    // A name to save under, starting from `suggested`; empty when cancelled.
    virtual QString saveFile(const QString& title, const QStringList& filters,
                             const QString& suggested) = 0;
    // True when the operator answers yes.
    virtual bool ask(const QString& text, const QString& title) = 0;
};

} // namespace tamberlo::planwin
