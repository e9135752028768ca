#include "cli/CliOptions.h"

#include <QCoreApplication>
#include <QTextStream>

namespace tamberlo::cli {

namespace {

const QStringList ValueOptions{"port", "timeout", "seconds", "volume", "source",      "format",
                               "from", "model",   "rate",    "margin", "audio-device"};
const QStringList FlagOptions{"verbose", "json",    "help",        "version", "yes",
                              "monitor", "speaker", "erase-first", "dry-run"};
// Accepted by every subcommand.
const QStringList GlobalOptions{"port", "timeout", "verbose", "json", "help", "version", "yes"};

QString shortOption(const QString& arg) {
    if (arg == QLatin1String("-h"))
        return QStringLiteral("help");
    if (arg == QLatin1String("-v"))
        return QStringLiteral("verbose");
    if (arg == QLatin1String("-y"))
        return QStringLiteral("yes");
    return {};
}

} // namespace

const std::vector<SubcommandInfo>& subcommands() {
    static const std::vector<SubcommandInfo> list{
        {"ports",
         "",
         "each port number and the device it stands for now",
         "Lists the port numbers 1 to 16, and any other number that has a port link, with the\n"
         "device each one stands for now: the link <runtime dir>/tamberlo/port<N> first, then\n"
         "the N-th serial device (USB and ACM adapters first). Opens no port.",
         false,
         false,
         {}},
        {"init",
         "",
         "bring the chip up: reset, power up, device ID",
         "Sends RESET (0x03) and PU (0x01), reads the device ID (DEVID 0x09) and prints the\n"
         "model.",
         true,
         false,
         {}},
        {"id",
         "",
         "the chip's model from its device ID",
         "Sends DEVID (0x09) and prints the model, its device-ID byte and its last row.",
         true,
         false,
         {}},
        {"status",
         "",
         "status flags, pointers and current address, in words",
         "Reads the device ID (DEVID 0x09), the play and record pointers (0x06, 0x08) and the\n"
         "current address (0x60), and prints the status flags of SR0 (CMD_ERR, FULL, PU, EOM,\n"
         "INT), both pointers, the current row and what the chip is doing.",
         true,
         false,
         {}},
        {"play", "", "play the message at the play pointer", "Sends PLAY (0x40).", true, false, {}},
        {"stop", "", "stop playing, recording or erasing", "Sends STOP (0x02).", true, false, {}},
        {"record",
         "[--seconds S]",
         "record a new message; STOP after S seconds or on Ctrl-C",
         "Sends REC (0x41), which records at the record pointer, then STOP (0x02) after S\n"
         "seconds, or when interrupted (Ctrl-C) when --seconds is not given. Prints the rows\n"
         "of the new message. It plays no file: the chip records what is at its input (use\n"
         "program to record files).",
         true,
         false,
         {"seconds"}},
        {"fwd",
         "",
         "move the play pointer to the next message",
         "Sends FWD (0x48) and prints where the play pointer went.",
         true,
         false,
         {}},
        {"erase",
         "",
         "erase the message at the play pointer",
         "Sends ERASE (0x42), then reads the current address (0x60) until the chip has\n"
         "finished erasing. The chip erases only the first or the last message.",
         true,
         false,
         {}},
        {"erase-all",
         "",
         "erase every message (asks first)",
         "Sends G_ERASE (0x43), then waits until the chip has finished erasing. Asks for\n"
         "confirmation on a terminal (declining ends with exit code 1); when standard input\n"
         "is not a terminal it refuses to act without --yes.",
         true,
         true,
         {}},
        {"set-play",
         "START END",
         "play the rows START to END",
         "Sends SET_PLAY (0x80) with both rows.",
         true,
         false,
         {}},
        {"set-rec",
         "START END",
         "record into the rows START to END",
         "Sends SET_REC (0x81) with both rows; STOP ends the recording early.",
         true,
         false,
         {}},
        {"set-erase",
         "START END",
         "erase the rows START to END (asks first)",
         "Sends SET_ERASE (0x82) with both rows, then waits until the chip has finished\n"
         "erasing. Asks for confirmation on a terminal (declining ends with exit code 1);\n"
         "when standard input is not a terminal it refuses to act without --yes.",
         true,
         true,
         {}},
        {"apc",
         "[--volume 0-4] [--source Lin|Mic|LM] [--monitor] [--speaker]",
         "write the analog path: volume, source, monitor, speaker",
         "Sends WR_APC2 (0x65) as the panel's analog-path set button builds it: the volume\n"
         "step (0 quietest to 4 loudest; default 4), the source (Lin, Mic or LM; default Lin),\n"
         "the monitor switch (on with --monitor) and the speaker (on with --speaker).",
         true,
         false,
         {"volume", "source", "monitor", "speaker"}},
        {"map",
         "",
         "the messages in the chip, with their start rows",
         "Steps the play pointer from message to message with FWD (0x48), reading it after each\n"
         "step (0x06) until it comes round to the first again, at most one step per row of the\n"
         "model, and lists the messages by start row. Powers the chip up when it is down.",
         true,
         false,
         {}},
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
         false,
         false,
         {"model", "rate", "margin"}},
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
         true,
         false,
         {"erase-first", "from", "dry-run", "audio-device", "model", "rate", "margin"}},
        {"export",
         "FILE | AUDIO... [--format h|csv|json]",
         "the plan's address table as a C header, CSV or JSON",
         "Writes the start and end row of every message to standard output: a C header\n"
         "(<NAME>_START, <NAME>_END, PROMPT_COUNT and the {start, end} array; compiles as\n"
         "C99), CSV or JSON. A plan that cannot be programmed is refused as by plan.\n"
         "--model, --rate and --margin as for plan. Opens no port.",
         false,
         false,
         {"format", "model", "rate", "margin"}},
        {"audio-devices",
         "",
         "the sound outputs of this PC, the default marked",
         "Lists the outputs the sound server has, numbered, the default marked with '*'.\n"
         "program --audio-device takes a number or a name from this list. Opens no port.",
         false,
         false,
         {}},
        {"help", "[COMMAND]", "this help, or a command's", "", false, false, {}},
    };
    return list;
}

const SubcommandInfo* findSubcommand(const QString& name) {
    for (const SubcommandInfo& info : subcommands()) {
        if (info.name == name)
            return &info;
    }
    return nullptr;
}

ParseResult parseArguments(const QStringList& arguments) {
    ParseResult result;
    Options& o = result.options;
    const auto fail = [&](const QString& text) {
        result.error = text;
        return result;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        QString name = shortOption(arg);
        QString value;
        bool hasValue = false;
        if (name.isEmpty() && arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            name = arg.mid(2);
            if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
                hasValue = true;
            }
        } else if (name.isEmpty() && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return fail(QStringLiteral("unknown option '%1'").arg(arg));
        }
        if (name.isEmpty()) {
            if (o.subcommand.isEmpty())
                o.subcommand = arg;
            else
                o.arguments << arg;
            continue;
        }
        if (ValueOptions.contains(name)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("--%1 needs a value").arg(name));
                value = arguments.at(++i);
            }
        } else if (FlagOptions.contains(name)) {
            if (hasValue)
                return fail(QStringLiteral("--%1 takes no value").arg(name));
        } else {
            return fail(QStringLiteral("unknown option '--%1'").arg(name));
        }
        o.given << name;
        bool ok = true;
        if (name == QLatin1String("port")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--port needs a number or a device path"));
            o.port = value;
        } else if (name == QLatin1String("timeout")) {
            o.timeoutMs = value.toInt(&ok);
            if (!ok || o.timeoutMs < 1 || o.timeoutMs > 3'600'000)
                return fail(
                    QStringLiteral("--timeout takes milliseconds from 1 to 3600000, not '%1'")
                        .arg(value));
        } else if (name == QLatin1String("seconds")) {
            const double s = value.toDouble(&ok);
            if (!ok || !(s > 0) || s > 86'400)
                return fail(QStringLiteral("--seconds takes a number of seconds above 0, not '%1'")
                                .arg(value));
            o.seconds = s;
        } else if (name == QLatin1String("volume")) {
            o.volume = value.toInt(&ok);
            if (!ok || o.volume < 0 || o.volume > 4)
                return fail(
                    QStringLiteral("--volume takes a step from 0 to 4, not '%1'").arg(value));
        } else if (name == QLatin1String("source")) {
            if (value != QLatin1String("Lin") && value != QLatin1String("Mic") &&
                value != QLatin1String("LM"))
                return fail(QStringLiteral("--source is Lin, Mic or LM, not '%1'").arg(value));
            o.source = value;
        } else if (name == QLatin1String("format")) {
            if (value != QLatin1String("h") && value != QLatin1String("csv") &&
                value != QLatin1String("json"))
                return fail(QStringLiteral("--format is h, csv or json, not '%1'").arg(value));
            o.format = value;
        } else if (name == QLatin1String("from")) {
            if (value.trimmed().isEmpty())
                return fail(QStringLiteral("--from needs a message number or name"));
            o.from = value;
        } else if (name == QLatin1String("model")) {
            if (value.trimmed().isEmpty())
                return fail(QStringLiteral("--model needs a model name (ISD1760) or auto"));
            o.model = value.trimmed();
        } else if (name == QLatin1String("rate")) {
            const int rate = value.toInt(&ok);
            if (!ok || rate <= 0)
                return fail(
                    QStringLiteral("--rate takes a sample rate in Hz, not '%1'").arg(value));
            o.rate = rate;
        } else if (name == QLatin1String("margin")) {
            const int margin = value.toInt(&ok);
            if (!ok || margin < 0 || margin > 60'000)
                return fail(QStringLiteral("--margin takes milliseconds from 0 to 60000, not '%1'")
                                .arg(value));
            o.marginMs = margin;
        } else if (name == QLatin1String("audio-device")) {
            if (value.trimmed().isEmpty())
                return fail(QStringLiteral("--audio-device needs an output's name or number"));
            o.audioDevice = value.trimmed();
        } else if (name == QLatin1String("erase-first")) {
            o.eraseFirst = true;
        } else if (name == QLatin1String("dry-run")) {
            o.dryRun = true;
        } else if (name == QLatin1String("verbose")) {
            o.verbose = true;
        } else if (name == QLatin1String("json")) {
            o.json = true;
        } else if (name == QLatin1String("help")) {
            o.help = true;
        } else if (name == QLatin1String("version")) {
            o.version = true;
        } else if (name == QLatin1String("yes")) {
            o.yes = true;
        } else if (name == QLatin1String("monitor")) {
            o.monitor = true;
        } else if (name == QLatin1String("speaker")) {
            o.speaker = true;
        }
    }
    if (o.help || o.version)
        return result;
    if (o.subcommand.isEmpty())
        return fail(QStringLiteral("no command given (try --help)"));
    const SubcommandInfo* info = findSubcommand(o.subcommand);
    if (!info)
        return fail(QStringLiteral("unknown command '%1' (try --help)").arg(o.subcommand));
    for (const QString& name : std::as_const(o.given)) {
        if (!GlobalOptions.contains(name) && !info->options.contains(name))
            return fail(QStringLiteral("--%1 is not an option of %2").arg(name, info->name));
    }
    if (info->synopsis.startsWith(QLatin1String("FILE"))) {
        if (o.arguments.isEmpty())
            return fail(QStringLiteral("%1 needs a plan file or audio files").arg(info->name));
        return result;
    }
    const bool twoRows = info->synopsis == QLatin1String("START END");
    const qsizetype wanted = twoRows ? 2 : 0;
    if (info->name == QLatin1String("help")) {
        if (o.arguments.size() > 1)
            return fail(QStringLiteral("help takes at most one command name"));
        return result;
    }
    if (o.arguments.size() != wanted) {
        if (twoRows)
            return fail(QStringLiteral("%1 needs two rows, START and END").arg(info->name));
        return fail(QStringLiteral("%1 takes no arguments ('%2' is one too many)")
                        .arg(info->name, o.arguments.constFirst()));
    }
    return result;
}

QString exitCodesText() {
    return QStringLiteral("Exit codes:\n"
                          "  0  done\n"
                          "  1  usage error: unknown command or option, bad value or address\n"
                          "  2  the port could not be opened\n"
                          "  3  no reply, or the device went away\n"
                          "  4  the chip refused the command\n"
                          "  5  program: the chip differs from the plan (its messages read\n"
                          "     back, or a recording outside the message's rows)\n"
                          "  6  program: the audio could not be played whole\n");
}

QString mainHelp() {
    QString text;
    QTextStream out(&text);
    out << "Usage: tamberlo-cli [OPTIONS] COMMAND [ARGUMENTS]\n"
           "\n"
           "Drives an ISD1700-family voice chip on the bridge board behind a serial port\n"
           "(9600 baud, 8N1): one frame at a time, one byte per 50 ms, each command waiting\n"
           "for its reply.\n"
           "\n"
           "Options:\n"
           "  --port N|DEVICE  port number N (the link <runtime dir>/tamberlo/port<N> first,\n"
           "                   then the N-th serial device) or a device path such as\n"
           "                   /dev/ttyUSB0; default 1\n"
           "  --timeout MS     wait up to MS ms for a reply after a frame's last byte;\n"
           "                   default 1000\n"
           "  --verbose, -v    every byte in and out, with a millisecond timestamp, on\n"
           "                   standard error\n"
           "  --json           one JSON document on standard output instead of text\n"
           "  --yes, -y        do not ask before erase-all, set-erase or --erase-first\n"
           "  --help, -h       this help; COMMAND --help for one command\n"
           "  --version        the program's version\n"
           "\n"
           "Commands:\n";
    for (const SubcommandInfo& info : subcommands()) {
        const QString head = info.synopsis.isEmpty()
                                 ? info.name
                                 : QStringLiteral("%1 %2").arg(info.name, info.synopsis);
        if (head.size() > 20)
            out << "  " << head << "\n  " << QString(20, QLatin1Char(' ')) << " " << info.summary
                << "\n";
        else
            out << "  " << head.leftJustified(20) << " " << info.summary << "\n";
    }
    out << "\n"
           "Rows (addresses) are written 0x1A0, 1A0 or \"01 A0\"; a row past the chip's last\n"
           "row is a usage error. Commands that change the chip are followed by a status read\n"
           "(DEVID); CMD_ERR in it means the chip refused the command.\n"
           "\n"
        << exitCodesText();
    return text;
}

QString subcommandHelp(const SubcommandInfo& info) {
    QString text;
    QTextStream out(&text);
    out << "Usage: tamberlo-cli [OPTIONS] " << info.name;
    if (!info.synopsis.isEmpty())
        out << " " << info.synopsis;
    out << "\n\n" << info.summary << ".\n";
    if (!info.details.isEmpty())
        out << "\n" << info.details << "\n";
    out << "\nOptions: --port N|DEVICE, --timeout MS, --verbose, --json"
        << (info.destructive ? ", --yes" : "") << " (see tamberlo-cli --help).\n\n"
        << exitCodesText();
    return text;
}

namespace {
QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: ")))
        return;
    if (previousHandler)
        previousHandler(type, context, text);
}
} // namespace

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

void quietenQtNotices(bool verbose) {
    if (!verbose)
        previousHandler = qInstallMessageHandler(quietHandler);
}

} // namespace tamberlo::cli
