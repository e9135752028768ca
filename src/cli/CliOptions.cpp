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

Exit exitCodeOf(ChipError error) {
    switch (error) {
    case ChipError::None:
        return Done;
    case ChipError::Refused:
        return Refused;
    case ChipError::Timeout:
    case ChipError::DeviceLost:
    case ChipError::PortClosed:
    case ChipError::Cancelled:
        break;
    }
    return Timeout;
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
    const Command* info = findCommand(o.subcommand);
    if (!info)
        return fail(QStringLiteral("unknown command '%1' (try --help)").arg(o.subcommand));
    for (const QString& name : std::as_const(o.given)) {
        if (!GlobalOptions.contains(name) && !info->options.contains(name))
            return fail(QStringLiteral("--%1 is not an option of %2").arg(name, info->name));
    }
    if (info->takesFiles()) {
        if (o.arguments.isEmpty())
            return fail(QStringLiteral("%1 needs a plan file or audio files").arg(info->name));
        return result;
    }
    const bool twoRows = info->takesRows();
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
    for (const Command& info : commands()) {
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

QString commandHelp(const Command& info) {
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

void quietenQtNotices(bool verbose) {
    if (!verbose)
        previousHandler = qInstallMessageHandler(quietHandler);
}

} // namespace tamberlo::cli
