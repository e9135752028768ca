#include "app/Form1.h"
#include "planwin/PlanWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application's name is the title of message boxes that have none of their own.
    QApplication::setApplicationName(QStringLiteral("Tamberlo"));
    QApplication::setApplicationVersion(QStringLiteral("2.3"));
    QApplication::setDesktopFileName(QStringLiteral("tamberlo"));

    // tamberlo --plan [FILE]: the message plan's window instead of the panel.
    const QStringList arguments = QApplication::arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--plan")); at > 0) {
        QApplication::setDesktopFileName(QStringLiteral("tamberlo-plan"));
        tamberlo::planwin::PlanWindow plan;
        if (at + 1 < arguments.size())
            plan.openPlanFile(arguments[at + 1]);
        plan.show();
        return QApplication::exec();
    }

    tamberlo::Form1 window;
    window.show();
    return QApplication::exec();
}
