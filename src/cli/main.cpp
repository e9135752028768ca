// tamberlo-cli: the chip from a shell. Commands from one table, --json, documented exit codes.

#include "cli/CliOptions.h"
#include "cli/CliSession.h"

#include <QCoreApplication>

using namespace tamberlo::cli;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamberlo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBERLO_VERSION));
    return runCommandLine(QCoreApplication::arguments().mid(1), QStringLiteral(TAMBERLO_VERSION));
}
