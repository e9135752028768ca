// tamberlo-bridge-sim: the bridge board and the voice chip behind it, on a pseudo-terminal
// that the panel finds as port N.

#include "Bridge.h"
#include "ByteLog.h"
#include "ChipModel.h"
#include "Commands.h"
#include "DeviceModels.h"
#include "MemoryFile.h"
#include "OutputQueue.h"
#include "PseudoTerminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace tamberlo::bridgesim;
using namespace std::chrono_literals;

namespace {

// While no one holds the device side, the master reports a hang-up at once on every
// poll; look again after this long instead of spinning.
constexpr int NO_PANEL_RECHECK_MS = 20;

int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber) {
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

bool installSignalHandlers() {
    if (pipe(signalPipe) != 0)
        return false;
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigaction(signalNumber, &action, nullptr) != 0)
            return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

SimTime monotonicNow() {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now().time_since_epoch());
}

// The runtime directory the panel looks in: $XDG_RUNTIME_DIR, else Qt's runtime location.
QString runtimeDirectory() {
    const QString fromEnvironment = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

struct Settings {
    int port = 1;
    const DeviceModel* model = &defaultDeviceModel();
    bool answerAll = false;
    QString logTarget;
    OutputQueue::Options output;
    long hangupAfter = 0;
    QString memoryFile;
};

// A memory file is a few kilobytes even for the largest chip; anything much larger is not one.
constexpr qint64 MEMORY_FILE_LIMIT = 1 << 20;

// Replaces the memory file in one step (a new file renamed over the old one), so that a
// simulator killed at any moment leaves the old memory or the new one, never half of it.
bool saveMemory(const QString& path, const ChipModel& chip, std::string& error) {
    QSaveFile file(path);
    const std::string text = formatMemoryFile(chip);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

// Loads the memory file into the chip; a missing file is an empty chip.
bool loadMemory(const QString& path, ChipModel& chip, std::string& error) {
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    const QByteArray text = file.read(MEMORY_FILE_LIMIT + 1);
    if (text.size() > MEMORY_FILE_LIMIT) {
        error = "larger than a memory file can be";
        return false;
    }
    std::vector<ChipModel::RecordedRun> runs;
    if (!parseMemoryFile(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                         chip.model(), runs, error))
        return false;
    chip.restoreMemory(runs);
    return true;
}

// How a step of the loop, or the whole run, ended.
enum class Ending { KeepGoing, Signal, HungUp, Failure };

class Simulator {
public:
    Simulator(const Settings& settings, PseudoTerminal& terminal, ByteLog& log)
        : settings_(settings), terminal_(terminal), log_(log), chip_(*settings.model),
          bridge_(chip_, {.answerAll = settings.answerAll}),
          output_(settings.output, monotonicNow(),
                  static_cast<std::uint32_t>(monotonicNow().count())) {}

    // Loads the memory file, if there is one, and writes it back at once so that a file
    // that cannot be written is found now rather than at the first message.
    bool openMemory(std::string& error) {
        if (settings_.memoryFile.isEmpty())
            return true;
        if (!loadMemory(settings_.memoryFile, chip_, error)) {
            error = "the memory file " + settings_.memoryFile.toStdString() +
                    " is not usable: " + error + ". Move it away to start with an empty chip.";
            return false;
        }
        if (!saveMemory(settings_.memoryFile, chip_, error)) {
            error =
                "cannot write the memory file " + settings_.memoryFile.toStdString() + ": " + error;
            return false;
        }
        savedRevision_ = chip_.memoryRevision();
        return true;
    }

    // Runs the chip up to now and writes the memory file if the messages changed.
    void keepMemory(SimTime now) {
        if (settings_.memoryFile.isEmpty())
            return;
        chip_.advanceTo(now);
        if (chip_.memoryRevision() == savedRevision_)
            return;
        std::string error;
        if (saveMemory(settings_.memoryFile, chip_, error)) {
            savedRevision_ = chip_.memoryRevision();
            log_.event(now, "memory saved");
        } else {
            log_.event(now, "cannot write the memory file: " + error);
            std::fprintf(stderr, "tamberlo-bridge-sim: cannot write the memory file %s: %s\n",
                         qPrintable(settings_.memoryFile), error.c_str());
            savedRevision_ = chip_.memoryRevision(); // say so once per change, not per poll
        }
    }

    Ending run() {
        const Ending ending = loop();
        keepMemory(monotonicNow());
        return ending;
    }

private:
    Ending loop() {
        log_.event(monotonicNow(), "waiting for the panel to open the port");
        for (;;) {
            const SimTime now = monotonicNow();
            writeDue(now);
            keepMemory(now);

            std::optional<SimTime> due = output_.nextDue();
            // With a memory file, wake at each row the chip records, so that the rows
            // written so far are kept even if the simulator is killed.
            if (const auto chipEvent = chip_.nextEvent();
                chipEvent && !settings_.memoryFile.isEmpty())
                due = due ? std::min(*due, *chipEvent) : *chipEvent;
            int timeoutMs = 1000;
            if (due)
                timeoutMs = static_cast<int>(std::clamp<long long>(
                    (std::max(*due - now, SimTime{0}).count() + 999) / 1000, 0, 1000));
            pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {terminal_.masterFd(), POLLIN, 0}};
            nfds_t count = 2;
            if (waitForPanel_) {
                count = 1; // the master would only say "hung up" again
                timeoutMs = std::min(timeoutMs, NO_PANEL_RECHECK_MS);
            }

            if (poll(fds, count, timeoutMs) < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("tamberlo-bridge-sim: poll");
                return Ending::Failure;
            }
            if (fds[0].revents & POLLIN) {
                unsigned char signalNumber = 0;
                [[maybe_unused]] const ssize_t got = read(signalPipe[0], &signalNumber, 1);
                log_.event(monotonicNow(), "stopped by signal " + std::to_string(signalNumber));
                return Ending::Signal;
            }
            if (waitForPanel_) {
                waitForPanel_ = false; // look at the master again
                continue;
            }
            if (fds[1].revents & POLLIN) {
                if (readInput() == Ending::HungUp)
                    return Ending::HungUp;
            } else if (fds[1].revents & (POLLHUP | POLLERR)) {
                panelGone();
            } else {
                panelThere();
            }
        }
    }

    void panelGone() {
        if (panelPresent_)
            log_.event(monotonicNow(), "the panel closed the port");
        panelPresent_ = false;
        waitForPanel_ = true;
    }

    void panelThere() {
        if (!panelPresent_)
            log_.event(monotonicNow(), "the panel opened the port");
        panelPresent_ = true;
    }

    Ending readInput() {
        std::uint8_t buffer[256];
        for (;;) {
            const ssize_t count = read(terminal_.masterFd(), buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return Ending::KeepGoing; // drained
            if (count <= 0) {
                panelGone(); // EIO: the device side was closed
                return Ending::KeepGoing;
            }
            panelThere();
            for (ssize_t i = 0; i < count; ++i) {
                if (receive(buffer[i]) == Ending::HungUp)
                    return Ending::HungUp;
            }
        }
    }

    Ending receive(std::uint8_t byte) {
        const SimTime now = monotonicNow();
        const Bridge::Reception reception = bridge_.receive(byte, now);
        if (reception.droppedStale)
            log_.event(now, "incomplete frame dropped after a pause");

        std::string note = commandName(reception.opcode);
        if (reception.length > 1)
            note +=
                " " + std::to_string(reception.position) + "/" + std::to_string(reception.length);
        if (reception.complete) {
            if (reception.length > 1)
                note += ": " + describeFrame(reception.frame);
            if (!reception.accepted)
                note += " (refused: CMD_ERR)";
        }
        log_.byte(now, ByteLog::Direction::In, byte, note);

        if (reception.complete) {
            output_.scheduleReply(reception.reply, commandName(reception.opcode), now);
            keepMemory(now);
        }

        ++received_;
        if (settings_.hangupAfter > 0 && received_ >= settings_.hangupAfter) {
            log_.event(now, "hanging up after " + std::to_string(received_) + " bytes");
            return Ending::HungUp;
        }
        return Ending::KeepGoing;
    }

    void writeDue(SimTime now) {
        const std::vector<OutgoingByte> due = output_.takeDue(now);
        if (due.empty())
            return;
        std::vector<std::uint8_t> bytes;
        for (const OutgoingByte& item : due)
            bytes.push_back(item.value);

        bool written = false;
        if (panelPresent_) {
            ssize_t result;
            do {
                result = write(terminal_.masterFd(), bytes.data(), bytes.size());
            } while (result < 0 && errno == EINTR);
            written = result == static_cast<ssize_t>(bytes.size());
            if (result < 0 && errno == EIO)
                panelGone();
        }
        const SimTime at = monotonicNow();
        for (const OutgoingByte& item : due)
            log_.byte(at, written ? ByteLog::Direction::Out : ByteLog::Direction::Dropped,
                      item.value, item.note);
    }

    const Settings& settings_;
    PseudoTerminal& terminal_;
    ByteLog& log_;
    ChipModel chip_;
    Bridge bridge_;
    OutputQueue output_;
    bool panelPresent_ = false;
    bool waitForPanel_ = false;
    long received_ = 0;
    std::uint64_t savedRevision_ = 0;
};

bool readNumber(const QCommandLineParser& parser, const QString& name, long minimum, long maximum,
                long& value) {
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const long parsed = parser.value(name).toLong(&ok);
    if (!ok || parsed < minimum || parsed > maximum) {
        std::fprintf(stderr, "tamberlo-bridge-sim: --%s takes a whole number from %ld to %ld\n",
                     qPrintable(name), minimum, maximum);
        return false;
    }
    value = parsed;
    return true;
}

QString modelList() {
    QStringList names;
    for (const DeviceModel& model : deviceModels())
        names << QString::fromLatin1(model.name.data(), static_cast<int>(model.name.size()));
    return names.join(QStringLiteral(", "));
}

bool parseSettings(const QCoreApplication& app, Settings& settings) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates the serial bridge board and the voice chip behind it on a pseudo-terminal,\n"
        "registered as port N through the link <runtime dir>/tamberlo/port<N>, where the\n"
        "runtime dir is $XDG_RUNTIME_DIR or, when that is unset, Qt's runtime location.\n"
        "Prints the device path on standard output; SIGINT or SIGTERM removes the link."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Register as port <N> (default 1)."),
         QStringLiteral("N")},
        {QStringLiteral("model"),
         QStringLiteral("Chip model (default ISD1760): ") + modelList() + QStringLiteral("."),
         QStringLiteral("NAME")},
        {QStringLiteral("answer-all"),
         QStringLiteral("Answer the commands that have no reply of their own with SR0 "
                        "(2 bytes).")},
        {QStringLiteral("log"),
         QStringLiteral("Log every byte in and out to FILE, or to stderr for '-'."),
         QStringLiteral("FILE")},
        {QStringLiteral("reply-delay-ms"),
         QStringLiteral("Wait MS milliseconds before answering a frame."), QStringLiteral("MS")},
        {QStringLiteral("split-ms"),
         QStringLiteral("Write reply bytes one at a time, MS milliseconds apart."),
         QStringLiteral("MS")},
        {QStringLiteral("extra-bytes"),
         QStringLiteral("Send N surplus bytes (0xEE) after every reply."), QStringLiteral("N")},
        {QStringLiteral("noise-ms"),
         QStringLiteral("Send an unsolicited random byte every MS milliseconds."),
         QStringLiteral("MS")},
        {QStringLiteral("hangup-after"),
         QStringLiteral("Close the pseudo-terminal after N received bytes, as if the adapter "
                        "were pulled, and exit."),
         QStringLiteral("N")},
        {QStringLiteral("memory"),
         QStringLiteral("Keep the chip's messages in FILE: read at start (a missing file is an "
                        "empty chip), written whenever they change."),
         QStringLiteral("FILE")},
    });
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tamberlo-bridge-sim: unexpected argument %s (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return false;
    }
    long port = settings.port;
    long replyDelay = 0;
    long split = 0;
    long extra = 0;
    long noise = 0;
    if (!readNumber(parser, QStringLiteral("port"), 0, 32767, port) ||
        !readNumber(parser, QStringLiteral("reply-delay-ms"), 0, 60000, replyDelay) ||
        !readNumber(parser, QStringLiteral("split-ms"), 0, 60000, split) ||
        !readNumber(parser, QStringLiteral("extra-bytes"), 0, 1000, extra) ||
        !readNumber(parser, QStringLiteral("noise-ms"), 0, 3600000, noise) ||
        !readNumber(parser, QStringLiteral("hangup-after"), 0, 1000000000, settings.hangupAfter))
        return false;
    settings.port = static_cast<int>(port);
    settings.output.replyDelay = std::chrono::milliseconds(replyDelay);
    settings.output.byteGap = std::chrono::milliseconds(split);
    settings.output.extraBytes = static_cast<int>(extra);
    settings.output.noisePeriod = std::chrono::milliseconds(noise);

    if (parser.isSet(QStringLiteral("model"))) {
        settings.model = findDeviceModel(parser.value(QStringLiteral("model")).toStdString());
        if (!settings.model) {
            std::fprintf(stderr, "tamberlo-bridge-sim: unknown model %s; known: %s\n",
                         qPrintable(parser.value(QStringLiteral("model"))),
                         qPrintable(modelList()));
            return false;
        }
    }
    settings.answerAll = parser.isSet(QStringLiteral("answer-all"));
    settings.logTarget = parser.value(QStringLiteral("log"));
    settings.memoryFile = parser.value(QStringLiteral("memory"));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamberlo-bridge-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBERLO_VERSION));

    Settings settings;
    if (!parseSettings(app, settings))
        return 1;

    ByteLog log;
    std::string error;
    if (!settings.logTarget.isEmpty() && !log.open(settings.logTarget.toStdString(), error)) {
        std::fprintf(stderr, "tamberlo-bridge-sim: cannot open the log %s\n", error.c_str());
        return 1;
    }
    PseudoTerminal terminal;
    Simulator simulator(settings, terminal, log);
    if (!simulator.openMemory(error)) {
        std::fprintf(stderr, "tamberlo-bridge-sim: %s\n", error.c_str());
        return 1;
    }

    const QString runtimeDir = runtimeDirectory();
    if (runtimeDir.isEmpty()) {
        std::fprintf(stderr, "tamberlo-bridge-sim: no runtime directory (set XDG_RUNTIME_DIR)\n");
        return 2;
    }
    const QString linkDir = runtimeDir + QStringLiteral("/tamberlo");
    if (!QDir().mkpath(linkDir)) {
        std::fprintf(stderr, "tamberlo-bridge-sim: cannot create %s\n", qPrintable(linkDir));
        return 2;
    }
    const std::string linkPath =
        (linkDir + QStringLiteral("/port") + QString::number(settings.port)).toStdString();

    if (!installSignalHandlers()) {
        std::perror("tamberlo-bridge-sim: signal handlers");
        return 2;
    }
    if (!terminal.open(error)) {
        std::fprintf(stderr, "tamberlo-bridge-sim: no pseudo-terminal: %s\n", error.c_str());
        return 2;
    }

    std::string detail;
    switch (registerPortLink(linkPath, terminal.devicePath(), detail)) {
    case LinkOutcome::Created:
        break;
    case LinkOutcome::ReplacedStale:
        std::fprintf(stderr, "tamberlo-bridge-sim: %s\n", detail.c_str());
        break;
    case LinkOutcome::RefusedLive:
    case LinkOutcome::RefusedOther:
        std::fprintf(stderr,
                     "tamberlo-bridge-sim: port %d is taken: %s. Stop whatever holds it, or "
                     "remove the link by hand if it is stale.\n",
                     settings.port, detail.c_str());
        return 2;
    case LinkOutcome::Failed:
        std::fprintf(stderr, "tamberlo-bridge-sim: cannot register port %d: %s\n", settings.port,
                     detail.c_str());
        return 2;
    }

    std::printf("%s\n", terminal.devicePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tamberlo-bridge-sim: %.*s on %s, port %d (%s)\n",
                 static_cast<int>(settings.model->name.size()), settings.model->name.data(),
                 terminal.devicePath().c_str(), settings.port, linkPath.c_str());

    const Ending ending = simulator.run();

    removePortLink(linkPath, terminal.devicePath());
    terminal.close();
    if (ending == Ending::HungUp)
        std::fprintf(stderr, "tamberlo-bridge-sim: hung up after %ld bytes\n",
                     settings.hangupAfter);
    return ending == Ending::Failure ? 1 : 0;
}
