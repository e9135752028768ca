// tamberlo-cli-plan: the plan commands of tamberlo-cli (plan, program, export), which need
// the panel's audio player and so Qt Multimedia. tamberlo-cli runs this program for them, so
// that its other commands start without loading the multimedia libraries.

#include "cli/CliOptions.h"
#include "cli/CliPlan.h"
#include "cli/CliSession.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace tamberlo::cli;

int main(int argc, char* argv[]) {
    // OpenAL Soft's complaints on a machine without a sound device are noise here.
    if (!qEnvironmentVariableIsSet("ALSOFT_LOGLEVEL"))
        qputenv("ALSOFT_LOGLEVEL", "0");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamberlo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBERLO_VERSION));

    const ParseResult parsed = parseArguments(QCoreApplication::arguments().mid(1));
    const Options& o = parsed.options;
    if (!parsed.error.isEmpty() || !isPlanCommand(o.subcommand) || o.help || o.version) {
        QTextStream(stderr) << "tamberlo-cli-plan: run by tamberlo-cli for plan, program and "
                               "export (see tamberlo-cli --help)\n";
        return Usage;
    }
    if (o.subcommand != QLatin1String("program") || o.dryRun)
        return runPlanCommand(o);
    Session session(o);
    session.setExtension(&runProgram);
    return session.run();
}
