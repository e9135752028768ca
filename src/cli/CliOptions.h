#pragma once

// The command line of tamberlo-cli: global options, the command and its arguments, help
// texts generated from the command table, exit codes. Parsing only; nothing here touches a
// port.

#include "chip/ChipClient.h"
#include "cli/CliCommands.h"
#include "cli/CliOutput.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <optional>
#include <vector>

namespace tamberlo::cli {

// Exit codes, as --help and the README list them. Outcomes become exit codes here and
// nowhere else (exitCodeOf below, and the plan's in CliPlan).
enum Exit : int {
    Done = 0,
    Usage = 1,
    PortNotOpened = 2,
    Timeout = 3, // no reply in time, or the device was lost
    Refused = 4,
    PlanDiffers = 5, // program: the chip's messages read back differ from the plan
    AudioFailed = 6, // program: the audio could not be played whole
};

// A chip client's error as an exit code.
Exit exitCodeOf(ChipError error);

struct Options {
    QString subcommand;
    QStringList arguments; // positional arguments after the subcommand
    QString port = QStringLiteral("1");
    int timeoutMs = 1000;
    // 1: every byte on standard error; 2: the audio libraries' own messages too.
    int verbose = 0;
    bool json = false;
    bool help = false;
    bool version = false;
    bool yes = false;
    // record
    std::optional<double> seconds;
    // apc
    int volume = 4;
    QString source = QStringLiteral("Lin");
    bool monitor = false;
    bool speaker = false;
    // plan, program, export
    QString format = QStringLiteral("h");
    bool eraseFirst = false;
    QString from; // a message number or name
    bool dryRun = false;
    // plan, program, export with audio files given directly: what a plan file's keys say
    QString model;               // "model"
    std::optional<int> rate;     // "sample_rate"
    std::optional<int> marginMs; // "margin_ms"
    // program: the sound output, by name or number (audio-devices lists them)
    QString audioDevice;
    // Options given, by name, to check them against the subcommand.
    QStringList given;
};

struct ParseResult {
    Options options;
    QString error; // non-empty: a usage error, in words
};

ParseResult parseArguments(const QStringList& arguments); // without the program name

QString mainHelp();
// A command's help: its synopsis and details, the options that apply to it with their
// defaults, and the exit codes it can end with.
QString commandHelp(const Command& command);
// The options that apply to a command: its own, --port and --timeout when it opens the port,
// --yes when it may erase, --verbose (--verbose=2 for the commands that only play or measure
// audio) and --json.
QStringList optionsOf(const Command& command);

// Drops Qt's own chatter that says nothing about the chip (the runtime-directory notice
// QStandardPaths prints on every port lookup when XDG_RUNTIME_DIR is unset); --verbose=2
// keeps it.
void quietenQtNotices(bool verbose);

} // namespace tamberlo::cli
