#include "cli/CliOptions.h"

#include "link/PortResolver.h"

#include <QCoreApplication>
#include <QTextStream>
#include <algorithm>

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
            if (hasValue && name != QLatin1String("verbose"))
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
            const QStringList sources{QStringLiteral("Lin"), QStringLiteral("Mic"),
                                      QStringLiteral("LM")};
            const auto known = std::find_if(sources.begin(), sources.end(), [&](const QString& s) {
                return s.compare(value, Qt::CaseInsensitive) == 0;
            });
            if (known == sources.end())
                return fail(QStringLiteral("--source is Lin, Mic or LM (any letter case), not '%1'")
                                .arg(value));
            o.source = *known;
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
            o.verbose = hasValue ? value.toInt(&ok) : 1;
            if (!ok || o.verbose < 1 || o.verbose > 2)
                return fail(QStringLiteral("--verbose takes 1 or 2, not '%1'").arg(value));
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

namespace {

// What --help says of each option; defaults are in the text.
struct OptionHelp {
    QString name;
    QString alias; // "-v"
    QString value; // "N|DEVICE"
    QString text;
};

const std::vector<OptionHelp>& optionHelp() {
    static const std::vector<OptionHelp> list{
        {"port", "", "N|DEVICE",
         QStringLiteral("port number N, %1 to %2 (first the link tamberlo/port<N> in the "
                        "runtime directory, then the N-th serial device) or a device path "
                        "such as /dev/ttyUSB0; default 1")
             .arg(LowestPortNumber)
             .arg(HighestPortNumber)},
        {"timeout", "", "MS",
         QStringLiteral("wait up to MS ms for a reply after a frame's last byte; default %1")
             .arg(ChipClient::DefaultTimeoutMs)},
        {"verbose", "-v", "",
         "every byte in and out, with a millisecond timestamp, on standard error; "
         "--verbose=2 also lets the audio libraries (GStreamer, PulseAudio, Qt Multimedia) "
         "print their own messages"},
        {"verbose=2", "", "",
         "let the audio libraries (GStreamer, PulseAudio, Qt Multimedia) print their own "
         "messages on standard error"},
        {"json", "", "", "one JSON document on standard output instead of text"},
        {"yes", "-y", "", "do not ask before erasing (erase-all, set-erase, --erase-first)"},
        {"help", "-h", "", "this help; COMMAND --help for one command"},
        {"version", "", "", "the program's version"},
        {"seconds", "", "S", "STOP after S seconds; default: on Ctrl-C"},
        {"volume", "", "0-4", "the volume step, 0 quietest to 4 loudest; default 4"},
        {"source", "", "Lin|Mic|LM", "the input, in any letter case; default Lin"},
        {"monitor", "", "", "the monitor switch on; default off"},
        {"speaker", "", "", "the speaker on; default off"},
        {"format", "", "h|csv|json", "h (a C header), csv or json; default h"},
        {"model", "", "ISD17xx|auto",
         "for audio files given directly: the chip model; default auto (the chip's model "
         "decides the fit when programming)"},
        {"rate", "", "HZ", "for audio files given directly: the sample rate; default 8000"},
        {"margin", "", "MS",
         "for audio files given directly: added to each message's length; default 700"},
        {"erase-first", "", "",
         "erase first: the whole chip, or with --from K the rows of messages K onwards"},
        {"from", "", "K", "resume at message K, by number or name; default 1"},
        {"audio-device", "", "N|NAME",
         "the sound output (audio-devices lists them); default: the system's"},
        {"dry-run", "", "", "print the frames it would send; opens no port"},
    };
    return list;
}

const OptionHelp* findOptionHelp(const QString& name) {
    for (const OptionHelp& o : optionHelp()) {
        if (o.name == name)
            return &o;
    }
    return nullptr;
}

constexpr int HelpWidth = 80;

// `text` in lines of at most HelpWidth columns, the first after `head` (padded to `column`),
// the others indented to `column`.
QString wrapped(const QString& head, const QString& text, int column) {
    QString out = head;
    if (head.size() + 1 > column)
        out += QLatin1Char('\n') + QString(column, QLatin1Char(' '));
    else
        out = out.leftJustified(column);
    int at = column;
    bool first = true;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!first && at + 1 + word.size() > HelpWidth) {
            out += QLatin1Char('\n') + QString(column, QLatin1Char(' '));
            at = column;
            first = true;
        }
        if (!first) {
            out += QLatin1Char(' ');
            ++at;
        }
        out += word;
        at += int(word.size());
        first = false;
    }
    return out + QLatin1Char('\n');
}

QString optionsText(const QStringList& names) {
    QString text;
    for (const QString& name : names) {
        const OptionHelp* o = findOptionHelp(name);
        if (!o)
            continue;
        QString head = QStringLiteral("  --%1").arg(o->name);
        if (!o->value.isEmpty())
            head += QLatin1Char(' ') + o->value;
        if (!o->alias.isEmpty())
            head += QStringLiteral(", ") + o->alias;
        text += wrapped(head, o->text, 20);
    }
    return text;
}

struct ExitHelp {
    int code;
    const char* text;
};

constexpr ExitHelp ExitCodes[] = {
    {Done, "done"},
    {Usage, "usage error: unknown command or option, bad value or address"},
    {PortNotOpened, "the port could not be opened"},
    {Timeout, "no reply, or the device went away"},
    {Refused, "the chip refused the command"},
    {PlanDiffers, "program: the chip differs from the plan (its messages read back, or a "
                  "recording outside the message's rows)"},
    {AudioFailed, "program: the audio could not be played whole"},
};

// The exit codes a command can end with: 2 to 4 for the commands that open the port, 5 and
// 6 for program.
QString exitCodesText(const Command* command) {
    QString text = QStringLiteral("Exit codes:\n");
    for (const ExitHelp& e : ExitCodes) {
        const bool port = e.code >= PortNotOpened && e.code <= Refused;
        const bool program = e.code >= PlanDiffers;
        if (command && ((port && !command->needsPort) ||
                        (program && command->name != QLatin1String("program"))))
            continue;
        text += wrapped(QStringLiteral("  %1").arg(e.code), QString::fromLatin1(e.text), 5);
    }
    return text;
}

} // namespace

QStringList optionsOf(const Command& command) {
    QStringList names = command.options;
    if (command.name == QLatin1String("help"))
        return names;
    if (command.needsPort)
        names << QStringLiteral("port") << QStringLiteral("timeout");
    if (command.destructive || command.options.contains(QLatin1String("erase-first")))
        names << QStringLiteral("yes");
    if (command.needsPort)
        names << QStringLiteral("verbose");
    else if (command.handler != &handlers::ports)
        names << QStringLiteral("verbose=2"); // the plan's commands play and measure audio
    names << QStringLiteral("json");
    return names;
}

QString mainHelp() {
    QString text;
    QTextStream out(&text);
    out << "Usage: tamberlo-cli [OPTIONS] COMMAND [ARGUMENTS]\n"
           "\n"
           "Drives an ISD1700-family voice chip on the bridge board behind a serial port\n"
        << QStringLiteral("(9600 baud, 8N1): one frame at a time, one byte per %1 ms, each "
                          "command waiting\n")
               .arg(BytePaceMs)
        << "for its reply.\n"
           "\n"
           "Options:\n"
        << optionsText({"port", "timeout", "verbose", "json", "yes", "help", "version"})
        << "\n"
           "Commands:\n";
    for (const Command& info : commands()) {
        const QString head = info.synopsis.isEmpty()
                                 ? info.name
                                 : QStringLiteral("%1 %2").arg(info.name, info.synopsis);
        out << wrapped(QStringLiteral("  ") + head, info.summary, 23);
    }
    out << "\n"
           "Rows (addresses) are written 0x1A0, 1A0 or \"01 A0\"; a row past the chip's last\n"
           "row is a usage error. Commands that change the chip are followed by a status read\n"
           "(DEVID); CMD_ERR in it means the chip refused the command.\n"
           "\n"
        << exitCodesText(nullptr);
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
    if (const QStringList names = optionsOf(info); !names.isEmpty())
        out << "\nOptions:\n" << optionsText(names);
    out << "\n" << exitCodesText(&info);
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
