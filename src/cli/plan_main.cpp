// tamberlo-cli-plan: the plan commands of tamberlo-cli (plan, program, export,
// audio-devices), which need the media libraries. tamberlo-cli runs this program for them,
// so that its other commands start without loading them.

#include "cli/CliPlan.h"
#include "cli/CliSession.h"

#include <QCoreApplication>
#include <QTranslator>

using namespace tamberlo::cli;

int main(int argc, char* argv[]) {
    // OpenAL Soft's complaints on a machine without a sound device are noise here.
    if (!qEnvironmentVariableIsSet("ALSOFT_LOGLEVEL"))
        qputenv("ALSOFT_LOGLEVEL", "0");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamberlo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBERLO_VERSION));
    // The player's reasons (a file that does not open) are the panel's texts: English here.
    QTranslator english;
    if (english.load(QStringLiteral(":/i18n/tamberlo_en.qm")))
        QCoreApplication::installTranslator(&english);
    installPlanHandlers();
    return runCommandLine(QCoreApplication::arguments().mid(1), QStringLiteral(TAMBERLO_VERSION));
}
