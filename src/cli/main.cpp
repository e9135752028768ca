// tamberlo-cli: the chip from a shell. Subcommands, --json, documented exit codes.

#include "cli/CliOptions.h"
#include "cli/CliSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <unistd.h>

using namespace tamberlo::cli;

namespace {

// plan, program, export and audio-devices run in tamberlo-cli-plan, which loads Qt
// Multimedia for the audio: next to this program in a build, in ../libexec/tamberlo when
// installed.
int runPlanTool(char* argv[], QTextStream& err) {
    const QDir here(QCoreApplication::applicationDirPath());
    const QStringList candidates{
        here.filePath(QStringLiteral("tamberlo-cli-plan")),
        here.filePath(QStringLiteral("../libexec/tamberlo/tamberlo-cli-plan"))};
    for (const QString& candidate : candidates) {
        if (!QFileInfo(candidate).isExecutable())
            continue;
        const QByteArray path = QFile::encodeName(QFileInfo(candidate).canonicalFilePath());
        ::execv(path.constData(), argv);
    }
    err << "tamberlo-cli: the plan commands need tamberlo-cli-plan, which is not installed ("
        << candidates.join(QStringLiteral(", ")) << ")\n";
    return Usage;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamberlo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBERLO_VERSION));

    QTextStream& out = tamberlo::cli::out();
    QTextStream& err = tamberlo::cli::err();
    const ParseResult parsed = parseArguments(QCoreApplication::arguments().mid(1));
    const Options& o = parsed.options;
    quietenQtNotices(o.verbose);
    if (o.version) {
        out << "tamberlo-cli " << TAMBERLO_VERSION << '\n';
        return Done;
    }
    if (o.help || o.subcommand == QLatin1String("help")) {
        QString name = o.subcommand == QLatin1String("help") ? o.arguments.value(0) : o.subcommand;
        if (name.isEmpty()) {
            out << mainHelp();
            return Done;
        }
        const SubcommandInfo* info = findSubcommand(name);
        if (!info) {
            err << "tamberlo-cli: unknown command '" << name << "' (try --help)\n";
            return Usage;
        }
        out << subcommandHelp(*info);
        return Done;
    }
    if (!parsed.error.isEmpty()) {
        err << "tamberlo-cli: " << parsed.error << '\n';
        if (o.json) {
            QJsonObject doc{{"command", o.subcommand},
                            {"ok", false},
                            {"exitCode", int(Usage)},
                            {"error", QStringLiteral("tamberlo-cli: %1").arg(parsed.error)}};
            out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        }
        return Usage;
    }
    if (o.subcommand == QLatin1String("plan") || o.subcommand == QLatin1String("program") ||
        o.subcommand == QLatin1String("export") || o.subcommand == QLatin1String("audio-devices")) {
        err.flush();
        out.flush();
        return runPlanTool(argv, err);
    }
    Session session(o);
    return session.run();
}
