#pragma once

#include "chip/ChipClient.h"
#include "chip/ChipMap.h"
#include "cli/CliOptions.h"
#include "link/QtSerialPort.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace tamberlo::cli {

// One run of tamberlo-cli: opens the port, runs the subcommand through a ChipClient on the
// event loop, writes text or JSON and returns the exit code.
class Session : public QObject {
    Q_OBJECT
public:
    explicit Session(Options options, QObject* parent = nullptr);
    ~Session() override;

    // Runs the subcommand to its end (the event loop runs inside) and returns the exit code.
    int run();

    // A command built outside this class (the plan's `program`, in tamberlo-cli-plan): run
    // from start() once the port is open and the client made, through the members below.
    // A device lost while the client is idle is then the extension's to report.
    using Extension = std::function<void(Session&)>;
    void setExtension(Extension extension) { extension_ = std::move(extension); }
    const Options& options() const { return options_; }
    ChipClient& client() { return *client_; }
    const QString& label() const { return label_; }
    QJsonObject& json() { return json_; }
    bool confirmDestructive(const QString& question);
    void finish(int code, const QString& errorText = {});
    void say(const QString& line);
    void progress(const QString& text);
    void endProgress();

private:
    using Next = std::function<void(const ChipResult&)>;

    int listPorts();
    int openPort();
    void start();

    void exchange(std::vector<std::uint8_t> frame, bool confirm, Next next);
    void failWith(const ChipResult& result);

    void runInit();
    void runId();
    void runStatus();
    void runSimple(std::uint8_t opcode, const QString& doneText);
    void runFwd();
    void runRecord();
    void stopRecording();
    void showRecordingProgress(); // on standard error, when it is a terminal
    // What a recording left in the chip: its length in seconds and rows (-1 when the model
    // or the pointers do not tell), from the play pointer (the message's start), the record
    // pointer (the row after it) and FULL; `elapsed` is REC to STOP on the clock.
    struct RecordedLength {
        double seconds = 0;
        int rows = -1;
    };
    static RecordedLength recordedLength(std::uint16_t start, std::uint16_t next, bool full,
                                         const ChipModelRow* model, double elapsed);
    void runRange(std::uint8_t opcode);
    void runApc();
    void runMap();
    // Reads the current address until the chip has finished erasing (at most `readsLeft`
    // reads, 50 ms apart), then `then`.
    void waitForErase(int readsLeft, std::function<void()> then);
    static constexpr int EraseWaitReads = 100;

    Options options_;
    QElapsedTimer clock_;
    QtSerialPort port_;
    std::unique_ptr<ChipClient> client_;
    std::unique_ptr<ChipMapper> mapper_;
    QString label_; // "port 1 (/dev/pts/3)" or the device path
    QJsonObject json_;
    QTimer recordTimer_;
    QTimer interruptPoll_;
    qint64 recordStartNs_ = 0;
    bool recording_ = false;
    bool finished_ = false;
    bool progressShown_ = false;
    int exitCode_ = Done;
    Extension extension_;
};

} // namespace tamberlo::cli
