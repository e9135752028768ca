#include "panel/Form1.h"
#include "panel/Language.h"
#include "planwin/PlanWindow.h"

#include <QApplication>
#include <QLibraryInfo>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application's name is the title of message boxes that have none of their own.
    QApplication::setApplicationName(QStringLiteral("Tamberlo"));
    QApplication::setApplicationVersion(QStringLiteral("2.3"));
    QApplication::setDesktopFileName(QStringLiteral("tamberlo"));

    // Chinese or English, from the user's locale settings; Qt's own dialogs follow.
    const tamberlo::Translations translations(tamberlo::systemPanelLanguage());
    if (!translations.panelLoaded())
        qWarning("tamberlo: the English translation is missing from this build");
    if (!translations.qtLoaded())
        qWarning("tamberlo: Qt's Chinese translations are not in %s (Debian package "
                 "qt6-translations-l10n): message boxes and the file dialog stay English",
                 qPrintable(QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
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
