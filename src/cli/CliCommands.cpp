#include "cli/CliCommands.h"

#include "cli/CliOptions.h"
#include "cli/CliSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace tamberlo::cli {

namespace {

std::vector<Command>& table() {
    static std::vector<Command> list{
        {"ports",
         "",
         "each port number and the device it stands for now",
         "Lists the port numbers 1 to 16, and any other number that has a port link, with the\n"
         "device each one stands for now: the link <runtime dir>/tamberlo/port<N> first, then\n"
         "the N-th serial device (USB and ACM adapters first). Opens no port.",
         {},
         false,
         false,
         &handlers::ports},
        {"init",
         "",
         "bring the chip up: reset, power up, device ID",
         "Sends RESET (0x03) and PU (0x01), reads the device ID (DEVID 0x09) and prints the\n"
         "model.",
         {},
         true,
         false,
         &handlers::init},
        {"id",
         "",
         "the chip's model from its device ID",
         "Sends DEVID (0x09) and prints the model, its device-ID byte and its last row.",
         {},
         true,
         false,
         &handlers::id},
        {"status",
         "",
         "status flags, pointers and current address, in words",
         "Reads the device ID (DEVID 0x09), the play and record pointers (0x06, 0x08) and the\n"
         "current address (0x60), and prints the status flags of SR0 (CMD_ERR, FULL, PU, EOM,\n"
         "INT), both pointers, the current row and what the chip is doing.",
         {},
         true,
         false,
         &handlers::status},
        {"play",
         "",
         "play the message at the play pointer",
         "Sends PLAY (0x40).",
         {},
         true,
         false,
         &handlers::play},
        {"stop",
         "",
         "stop playing, recording or erasing",
         "Sends STOP (0x02).",
         {},
         true,
         false,
         &handlers::stop},
        {"record",
         "[--seconds S]",
         "record a new message; STOP after S seconds or on Ctrl-C",
         "Sends REC (0x41), which records at the record pointer, then STOP (0x02) after S\n"
         "seconds, or when interrupted (Ctrl-C) when --seconds is not given. Prints the rows\n"
         "of the new message. It plays no file: the chip records what is at its input (use\n"
         "program to record files).",
         {"seconds"},
         true,
         false,
         &handlers::record},
        {"fwd",
         "",
         "move the play pointer to the next message",
         "Sends FWD (0x48) and prints where the play pointer went.",
         {},
         true,
         false,
         &handlers::fwd},
        {"erase",
         "",
         "erase the message at the play pointer",
         "Sends ERASE (0x42), then reads the current address (0x60) until the chip has\n"
         "finished erasing. The chip erases only the first or the last message.",
         {},
         true,
         false,
         &handlers::erase},
        {"erase-all",
         "",
         "erase every message (asks first)",
         "Sends G_ERASE (0x43), then waits until the chip has finished erasing. Asks for\n"
         "confirmation on a terminal (declining ends with exit code 1); when standard input\n"
         "is not a terminal it refuses to act without --yes.",
         {},
         true,
         true,
         &handlers::eraseAll},
        {"set-play",
         "START END",
         "play the rows START to END",
         "Sends SET_PLAY (0x80) with both rows.",
         {},
         true,
         false,
         &handlers::setPlay},
        {"set-rec",
         "START END",
         "record into the rows START to END",
         "Sends SET_REC (0x81) with both rows; STOP ends the recording early.",
         {},
         true,
         false,
         &handlers::setRec},
        {"set-erase",
         "START END",
         "erase the rows START to END (asks first)",
         "Sends SET_ERASE (0x82) with both rows, then waits until the chip has finished\n"
         "erasing. Asks for confirmation on a terminal (declining ends with exit code 1);\n"
         "when standard input is not a terminal it refuses to act without --yes.",
         {},
         true,
         true,
         &handlers::setErase},
        {"apc",
         "[--volume 0-4] [--source Lin|Mic|LM] [--monitor] [--speaker]",
         "write the analog path: volume, source, monitor, speaker",
         "Sends WR_APC2 (0x65) as the panel's analog-path set button builds it: the volume\n"
         "step (0 quietest to 4 loudest; default 4), the source (Lin, Mic or LM; default Lin),\n"
         "the monitor switch (on with --monitor) and the speaker (on with --speaker).",
         {"volume", "source", "monitor", "speaker"},
         true,
         false,
         &handlers::apc},
        {"map",
         "",
         "the messages in the chip, with their start rows",
         "Steps the play pointer from message to message with FWD (0x48), reading it after each\n"
         "step (0x06) until it comes round to the first again, at most one step per row of the\n"
         "model, and lists the messages by start row. Powers the chip up when it is down.",
         {},
         true,
         false,
         &handlers::map},
        {"plan",
         "FILE | AUDIO...",
         "a plan of prompts: rows, addresses, memory use",
         "Reads a plan file (JSON: model, sample_rate, first_row, margin_ms, messages with\n"
         "name, file and optionally rows or start) or takes the audio files given, measures\n"
         "each file with the panel's player, lays the messages out in rows and prints the\n"
         "table (number, name, file, length, rows, start, end) and the memory use. A plan\n"
         "that cannot be programmed (does not fit, overlapping rows, missing or unplayable\n"
         "files, names used twice) is refused with every reason. Opens no port.\n"
         "For audio files given directly: --model ISD17xx|auto (default auto: the chip's\n"
         "model decides the fit when programming; a plan larger than the largest model is\n"
         "refused here), --rate HZ (default 8000) and --margin MS (default 700), as a plan\n"
         "file's model, sample_rate and margin_ms keys.",
         {"model", "rate", "margin"},
         false,
         false,
         &handlers::planTool},
        {"program",
         "FILE | AUDIO... [--erase-first] [--from K] [--audio-device N] [--dry-run]",
         "record every prompt of a plan at its rows, then check",
         "Checks that the sound output works (refuses before anything is sent when it does\n"
         "not) and the chip's model, then for each message measures its file again (one that\n"
         "grew past its rows fails), sends SET_REC with its rows, plays its file on this PC\n"
         "as the sound the chip records and sends STOP once its last sample has come out of\n"
         "the output, then reads the record pointer to see that the chip stopped in the rows\n"
         "(or on the row after them: the message used all its rows, which is noted). Audio\n"
         "that fails (no output, an output that fails or starves, a file ended early) or a\n"
         "chip that ran out of rows (FULL in STOP's reply) fails the message: STOP, its rows\n"
         "erased (SET_ERASE), recorded once more; a second failure ends the run (exit code 6\n"
         "for the audio). At the end it reads the messages back (map) and compares them with\n"
         "the plan (exit code 5 when they differ).\n"
         "--erase-first erases the chip first (G_ERASE; asks, or --yes); with --from K only\n"
         "the rows of messages K to the last (SET_ERASE each), the earlier ones kept.\n"
         "--from K resumes at message K, by number or name, after erasing its rows (an\n"
         "interrupted recording may be in them). --audio-device picks the output\n"
         "(tamberlo-cli audio-devices lists them; default: the system's). --model, --rate\n"
         "and --margin as for plan. --dry-run prints the frames it would send and opens no\n"
         "port.",
         {"erase-first", "from", "dry-run", "audio-device", "model", "rate", "margin"},
         true,
         false,
         &handlers::planTool},
        {"export",
         "FILE | AUDIO... [--format h|csv|json]",
         "the plan's address table as a C header, CSV or JSON",
         "Writes the start and end row of every message to standard output: a C header\n"
         "(<NAME>_START, <NAME>_END, PROMPT_COUNT and the {start, end} array; compiles as\n"
         "C99), CSV or JSON. A plan that cannot be programmed is refused as by plan.\n"
         "--model, --rate and --margin as for plan. Opens no port.",
         {"format", "model", "rate", "margin"},
         false,
         false,
         &handlers::planTool},
        {"audio-devices",
         "",
         "the sound outputs of this PC, the default marked",
         "Lists the outputs the sound server has, numbered, the default marked with '*'.\n"
         "program --audio-device takes a number or a name from this list. Opens no port.",
         {},
         false,
         false,
         &handlers::planTool},
        {"help", "[COMMAND]", "this help, or a command's", "", {}, false, false, &handlers::help},
    };
    return list;
}

} // namespace

const std::vector<Command>& commands() {
    return table();
}

const Command* findCommand(const QString& name) {
    for (const Command& command : table()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

// plan, program, export and audio-devices run in tamberlo-cli-plan, which loads the media
// libraries for the audio: next to this program in a build, in ../libexec/tamberlo when
// installed.
void handlers::planTool(Session& s) {
    const QDir here(QCoreApplication::applicationDirPath());
    const QStringList candidates{
        here.filePath(QStringLiteral("tamberlo-cli-plan")),
        here.filePath(QStringLiteral("../libexec/tamberlo/tamberlo-cli-plan"))};
    QList<QByteArray> args;
    for (const QString& arg : QCoreApplication::arguments())
        args << arg.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    out().flush();
    err().flush();
    for (const QString& candidate : candidates) {
        if (!QFileInfo(candidate).isExecutable())
            continue;
        const QByteArray path = QFile::encodeName(QFileInfo(candidate).canonicalFilePath());
        ::execv(path.constData(), argv.data());
    }
    s.finish(Usage, QStringLiteral("tamberlo-cli: the plan commands need tamberlo-cli-plan, which "
                                   "is not installed (%1)")
                        .arg(candidates.join(QStringLiteral(", "))));
}

void setHandler(const QString& name, Command::Handler handler) {
    for (Command& command : table()) {
        if (command.name == name)
            command.handler = handler;
    }
}

} // namespace tamberlo::cli
