#include "cli/CliSession.h"

#include "codec/HexText.h"
#include "link/PortResolver.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <unistd.h>

namespace tamberlo::cli {

namespace {

// Ctrl-C and SIGTERM: the one handler of the program. It only notes the signal; the session
// polls the note on the event loop and runs what the command asked for.
std::atomic<bool> interruptNoted{false};

extern "C" void noteInterrupt(int) {
    interruptNoted.store(true);
}

bool isNumber(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^-?[0-9]+$"));
    return digits.match(text).hasMatch();
}

} // namespace

Session::Session(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    clock_.start();
    progress_.setEnabled(!options_.verbose);
    interruptPoll_.setInterval(20);
    connect(&interruptPoll_, &QTimer::timeout, this, [this] {
        if (interruptNoted.exchange(false) && interrupted_ && !finished_)
            interrupted_();
    });
}

Session::~Session() = default;

void Session::onInterrupt(std::function<void()> handler) {
    interrupted_ = std::move(handler);
    interruptNoted.store(false);
    std::signal(SIGINT, noteInterrupt);
    std::signal(SIGTERM, noteInterrupt);
    interruptPoll_.start();
}

void Session::say(const QString& line) {
    endProgress();
    if (options_.json)
        return;
    out() << line << '\n';
    out().flush();
}

void Session::finish(int code, const QString& errorText) {
    if (finished_)
        return;
    finished_ = true;
    interruptPoll_.stop();
    endProgress();
    exitCode_ = code;
    if (!errorText.isEmpty())
        err() << errorText << '\n';
    err().flush();
    if (options_.json)
        writeJson(json_, options_.subcommand, code, errorText);
    if (chip_)
        chip_->halt();
    if (client_)
        client_->end(); // nothing more goes out, not even the rest of a frame
    QCoreApplication::exit(code);
}

void Session::fail(const ChipResult& result) {
    json_[QStringLiteral("failure")] = chipErrorName(result.error);
    finish(exitCodeOf(result.error), QStringLiteral("%1: %2").arg(label_, result.errorText));
}

int Session::run() {
    command_ = findCommand(options_.subcommand);
    if (!command_ || !command_->handler) {
        finish(Usage,
               QStringLiteral("tamberlo-cli: unknown command '%1'").arg(options_.subcommand));
        return exitCode_;
    }
    label_ = QStringLiteral("tamberlo-cli");

    // Rows are checked for their form before anything is opened.
    if (command_->takesRows() && options_.arguments.size() == 2) {
        for (const QString& text : std::as_const(options_.arguments)) {
            QString why;
            if (!parseRow(text, nullptr, &why)) {
                finish(Usage, QStringLiteral("tamberlo-cli: %1").arg(why));
                return exitCode_;
            }
        }
        const auto start = parseRow(options_.arguments[0]);
        const auto end = parseRow(options_.arguments[1]);
        if (*start > *end) {
            finish(Usage, QStringLiteral("tamberlo-cli: START (%1) is after END (%2)")
                              .arg(rowText(*start), rowText(*end)));
            return exitCode_;
        }
    }

    const bool needsPort = command_->needsPort && !options_.dryRun;
    if (needsPort) {
        if (!openPort())
            return exitCode_;
        client_ = std::make_unique<ChipClient>(port_);
        client_->setTimeoutMs(options_.timeoutMs);
        chip_ =
            std::make_unique<ChipOperations>(*client_, [this](const ChipResult& r) { fail(r); });
        if (options_.verbose)
            traceBytes();
        connect(&port_, &SerialPort::communication, this, [this](CommEvent kind) {
            if (kind != CommEvent::DeviceLost || finished_ || !client_ || !client_->isIdle())
                return;
            if (deviceLost_)
                deviceLost_();
            else
                finish(Timeout, QStringLiteral("%1: the device went away").arg(label_));
        });
    }
    QMetaObject::invokeMethod(this, &Session::start, Qt::QueuedConnection);
    QCoreApplication::exec();
    return exitCode_;
}

void Session::start() {
    if (!finished_)
        command_->handler(*this);
}

void Session::traceBytes() {
    // Milliseconds since the program started, on the client's monotonic clock.
    const qint64 startNs = client_->now() - clock_.nsecsElapsed();
    const auto stamp = [startNs](qint64 ns) {
        return QStringLiteral("%1 ms").arg(double(ns - startNs) / NsPerMs, 10, 'f', 3);
    };
    connect(client_.get(), &ChipClient::byteWritten, this, [stamp](std::uint8_t b, qint64 ns) {
        err() << stamp(ns) << "  > " << hexByte(b) << '\n';
        err().flush();
    });
    connect(client_.get(), &ChipClient::byteRead, this, [stamp](std::uint8_t b, qint64 ns) {
        err() << stamp(ns) << "  < " << hexByte(b) << '\n';
        err().flush();
    });
    connect(client_.get(), &ChipClient::strayBytes, this, [this, stamp](int count) {
        err() << stamp(client_->now()) << "  "
              << counted(count, QStringLiteral("stray byte"), QStringLiteral("stray bytes"))
              << " dropped\n";
        err().flush();
    });
}

bool Session::openPort() {
    if (isNumber(options_.port)) {
        const std::optional<std::int16_t> number = parsePortNumber(options_.port);
        if (!number || *number < LowestPortNumber || *number > HighestPortNumber) {
            finish(Usage, QStringLiteral("tamberlo-cli: --port %1 is not a port number (%2 to %3)")
                              .arg(options_.port)
                              .arg(LowestPortNumber)
                              .arg(HighestPortNumber));
            return false;
        }
        json_[QStringLiteral("port")] = *number;
        label_ = QStringLiteral("port %1").arg(*number);
        const PortDevice device = resolvePortLinkFirst(*number);
        if (device.location.isEmpty()) {
            finish(PortNotOpened,
                   QStringLiteral("%1: no serial device has this number (see tamberlo-cli ports)")
                       .arg(label_));
            return false;
        }
        if (!device.exists && !device.link.isEmpty()) {
            finish(PortNotOpened,
                   QStringLiteral("%1: the link %2 leads to %3, which does not exist")
                       .arg(label_, device.link, device.location));
            return false;
        }
        label_ = QStringLiteral("port %1 (%2)").arg(*number).arg(device.location);
        port_.setPortNumber(*number);
        port_.setDevicePath(device.location); // resolved once, here
    } else if (options_.port.contains(QLatin1Char('/'))) {
        label_ = options_.port;
        port_.setDevicePath(options_.port);
    } else {
        finish(Usage,
               QStringLiteral("tamberlo-cli: --port takes a number or a device path, not '%1'")
                   .arg(options_.port));
        return false;
    }
    json_[QStringLiteral("device")] =
        options_.port.contains(QLatin1Char('/')) ? options_.port : port_.devicePath();
    if (!port_.open()) {
        const QString reason =
            port_.systemErrorText().isEmpty() ? port_.errorText() : port_.systemErrorText();
        finish(PortNotOpened, QStringLiteral("%1: cannot open the device: %2").arg(label_, reason));
        return false;
    }
    if (isNumber(options_.port))
        label_ = QStringLiteral("port %1 (%2)").arg(options_.port, port_.deviceLocation());
    json_[QStringLiteral("device")] = port_.deviceLocation();
    return true;
}

bool Session::confirmDestructive(const QString& question) {
    if (options_.yes)
        return true;
    if (!::isatty(STDIN_FILENO)) {
        finish(Usage, QStringLiteral("tamberlo-cli: %1 erases the chip's memory; standard input is "
                                     "not a terminal, so give --yes to confirm")
                          .arg(options_.subcommand));
        return false;
    }
    err() << question << " [y/N] ";
    err().flush();
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return true;
    finish(Usage, QStringLiteral("tamberlo-cli: not confirmed; nothing sent"));
    return false;
}

int runCommandLine(const QStringList& arguments, const QString& version) {
    const ParseResult parsed = parseArguments(arguments);
    const Options& o = parsed.options;
    quietenQtNotices(o.verbose >= 2);
    if (o.version) {
        out() << "tamberlo-cli " << version << '\n';
        out().flush();
        return Done;
    }
    if (o.help && o.subcommand != QLatin1String("help")) {
        if (o.subcommand.isEmpty()) {
            out() << mainHelp();
            out().flush();
            return Done;
        }
        const Command* command = findCommand(o.subcommand);
        if (!command) {
            err() << "tamberlo-cli: unknown command '" << o.subcommand << "' (try --help)\n";
            err().flush();
            return Usage;
        }
        out() << commandHelp(*command);
        out().flush();
        return Done;
    }
    if (!parsed.error.isEmpty()) {
        const QString error = QStringLiteral("tamberlo-cli: %1").arg(parsed.error);
        err() << error << '\n';
        err().flush();
        if (o.json)
            writeJson({}, o.subcommand, Usage, error);
        return Usage;
    }
    Session session(o);
    return session.run();
}

} // namespace tamberlo::cli
