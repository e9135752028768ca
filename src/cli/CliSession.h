#pragma once

#include "chip/ChipClient.h"
#include "chip/ChipOperations.h"
#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "cli/CliOutput.h"
#include "link/QtSerialPort.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace tamberlo::cli {

// One run of tamberlo-cli: the command looked up in the table, the port opened when the
// command needs it, the command's handler run on the event loop through the chip
// operations, the outcome written as text or JSON and returned as the exit code.
class Session : public QObject {
    Q_OBJECT
public:
    explicit Session(Options options, QObject* parent = nullptr);
    ~Session() override;

    // Runs the command to its end (the event loop runs inside) and returns the exit code.
    int run();

    const Options& options() const { return options_; }
    const Command& command() const { return *command_; }
    ChipClient& client() { return *client_; }
    // Steps on the chip that stop at the first error, which ends the run.
    ChipOperations& chip() { return *chip_; }
    const QString& label() const { return label_; }
    // The members of the JSON document (with --json).
    QJsonObject& json() { return json_; }
    bool isFinished() const { return finished_; }

    // Asks on a terminal; refuses without a terminal. False: the run has ended.
    bool confirmDestructive(const QString& question);
    // Ends the run: the error line on standard error, the JSON document, the exit code.
    void finish(int code, const QString& errorText = {});
    // Ends the run with a chip client's error.
    void fail(const ChipResult& result);
    // A line of text on standard output (not with --json).
    void say(const QString& line);
    void progress(const QString& text) { progress_.show(text); }
    void endProgress() { progress_.clear(); }

    // Ctrl-C and SIGTERM, from now on, run `handler` on the event loop rather than ending
    // the program.
    void onInterrupt(std::function<void()> handler);
    // The device lost while no command is in flight: `handler` rather than the end of the
    // run (with a command in flight the client reports it through that command).
    void onDeviceLost(std::function<void()> handler) { deviceLost_ = std::move(handler); }

private:
    bool openPort();
    void start();
    void traceBytes();

    Options options_;
    const Command* command_ = nullptr;
    QElapsedTimer clock_;
    QtSerialPort port_;
    std::unique_ptr<ChipClient> client_;
    std::unique_ptr<ChipOperations> chip_;
    QString label_; // "port 1 (/dev/pts/3)" or the device path
    QJsonObject json_;
    ProgressLine progress_;
    QTimer interruptPoll_;
    std::function<void()> interrupted_;
    std::function<void()> deviceLost_;
    bool finished_ = false;
    int exitCode_ = Done;
};

// The whole program on its arguments (without the program's name): --version, help, usage
// errors, or the command's session. Returns the exit code.
int runCommandLine(const QStringList& arguments, const QString& version);

} // namespace tamberlo::cli
