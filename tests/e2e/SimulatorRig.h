#pragma once

// The whole panel against tamberlo-bridge-sim: the real window (offscreen) with the real
// serial port adapter on one side of a pseudo-terminal, the simulated bridge board and
// chip on the other. Real time runs on both sides, so everything here waits for a
// condition with a loose bound rather than for a fixed time.

#include "panel/Form1.h"
#include "support/Fakes.h"

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QLineEdit;
class QPushButton;

namespace tamberlo::e2e {

// Generous bounds: a command takes 50 ms a byte, replies come back at once; only a busy
// machine (parallel tests, the sanitizers) makes anything slower, and then by seconds.
inline constexpr int LinkAppearsMs = 10000;
inline constexpr int ReplyMs = 10000;

// A runtime directory of this test program's own (mode 0700), put into XDG_RUNTIME_DIR
// for the panel and every simulator it starts. Made once, before the first window.
class RuntimeDir {
public:
    RuntimeDir();
    bool isValid() const { return dir_.isValid(); }
    QString path() const { return dir_.path(); }
    QString linkPath(int port) const;
    // This process's environment with XDG_RUNTIME_DIR set to this directory: for a program
    // that is to find the port links here.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir dir_;
};

// One byte the simulator logged.
struct LoggedByte {
    qint64 us = 0;     // monotonic time in microseconds
    QString direction; // "in", "out" or "drp"
    quint8 value = 0;  // the byte
    QString note;      // the command it belongs to, e.g. "SET_PLAY 5/5: SET_PLAY 0x010..0x020"
    bool refused() const { return note.contains(QLatin1String("refused")); }
};

// A tamberlo-bridge-sim process registered as one port number, with a byte log.
class Simulator {
public:
    explicit Simulator(const RuntimeDir& runtime) : runtime_(runtime) {}
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Starts the simulator as port `port` with `--log` and any further options, and waits
    // until its port link leads to its device. On failure `why` says what went wrong.
    bool start(int port, const QStringList& options, QString* why);
    // Starts the simulator as port `port` with `--log` and any further options, without
    // waiting for its link; true once the process runs.
    bool launch(int port, const QStringList& options);
    // Starts the simulator with exactly these arguments (no log); true once the process runs.
    // Both run it in the runtime directory: relative paths are taken from there.
    bool launchWith(const QStringList& arguments);
    // Waits until the link of `port` leads to an existing device, or the simulator ends;
    // the device, or an empty string.
    QString waitForLink(int port);
    // Waits until the simulator has ended (at once if it has already).
    bool waitForExit(int ms = LinkAppearsMs);
    // SIGTERM, then waits for it to end.
    void stop();
    // Everything the simulator wrote to its standard error so far.
    QString errorOutput();
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    QProcess& process() { return process_; }

    int port() const { return port_; }
    QString logPath() const { return logPath_; }
    // Every byte logged so far, in order.
    QList<LoggedByte> log() const;
    // The bytes received (direction "in"), optionally only those with this value.
    QList<LoggedByte> received(std::optional<quint8> value = std::nullopt) const;
    // The single-byte commands received with this name ("PLAY", "STOP"), refused or not;
    // data bytes of longer frames that happen to have the same value do not count.
    QList<LoggedByte> commands(const QString& name) const;
    // The SET_REC ranges completed on the wire, "0x010..0x018", in order.
    QStringList setRecRanges() const;
    // The events logged so far ("the panel closed the port" ...), in order.
    QStringList events() const;
    // The last lines of the log and of the simulator's standard error, for a failure report.
    QString tail(int lines = 40) const;

private:
    const RuntimeDir& runtime_;
    QProcess process_;
    QString logPath_;
    QByteArray errorOutput_;
    int port_ = 0;
};

// A simulator started as port `port`; on failure a warning says why and `sim` keeps the
// process, so a test's cleanup can still show the end of its log.
bool startSimulator(std::unique_ptr<Simulator>& sim, const RuntimeDir& runtime, int port,
                    const QStringList& options = {});

// The real Form1 with the real QtSerialPort adapter, fakes for the message boxes and the
// file dialog, and either the fake player or the one given.
class Panel {
public:
    // player null: the fake player below.
    explicit Panel(AudioPlayer* player = nullptr);
    ~Panel();

    Form1& form() { return *form_; }
    QPushButton* button(const QString& caption) const;
    QLineEdit* edit(const QString& name) const;
    QWidget* widget(const QString& name) const;
    // Whether a lamp ("Lift(1)", "Bottmp(3)" ...) is lit.
    bool lit(const QString& lamp) const;

    // Types the number into Combo1 and clicks Command16.
    void clickPortButton(int port);
    // clickPortButton, then true once the panel shows the port open.
    bool openPort(int port);
    bool isShownOpen() const;
    bool isShownClosed() const;

    // Clicks the button and waits until its frame has been paced out.
    bool click(const QString& caption);
    // Empties the text box, clicks the button and returns the text the reply puts there
    // (empty when no reply came in time).
    QString readInto(const QString& caption, const QString& box);
    // "1器件复位", then "2器件上电".
    bool resetAndPowerUp();

    test::FakeAudioPlayer fakePlayer;
    test::FakeMessageBoxes boxes;
    test::FakeFileDialog dialog;

private:
    std::unique_ptr<Form1> form_;
};

// "00 19 " and the like as a number (0x0019); nullopt unless the text is hex text of one
// or more bytes, each followed by a space.
std::optional<int> hexTextValue(const QString& text);
// The bytes of a hex text; empty unless the text is well formed.
QByteArray hexTextBytes(const QString& text);

// The runs of recorded rows a simulator's memory file (--memory) holds, {first, last} each,
// in the order of the file; empty when there is no file yet. The simulator rewrites the file
// at every row it records, so a wait on it is a wait on the chip's recording.
QList<std::pair<int, int>> memoryRuns(const QString& memoryFile);

// Waits up to `ms` for the condition, processing events meanwhile.
bool waitFor(const std::function<bool()>& condition, int ms = ReplyMs);

// Microseconds on the monotonic clock, the one of the simulator's byte log.
qint64 monotonicUs();

// A program run to its end: its exit code (-1: it did not finish in time, -2: it crashed)
// and what it wrote.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};
// Runs `program` with these arguments and environment, waiting up to `timeoutMs`; killed
// when it takes longer ("did not finish" in err).
ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const QProcessEnvironment& environment, int timeoutMs);

// One test program's end-to-end set-up: its runtime directory, a simulator on a port number
// no earlier case of the run has used, and a panel on the real serial adapter. Each case
// starts what it needs; cleanup() shows the end of the simulator's log when the case failed
// and takes down the panel before the simulator, as an operator closing the window would.
class Rig {
public:
    explicit Rig(int firstPort) : nextPort_(firstPort) {}

    // Makes the runtime directory; before the first window.
    bool init();
    // A simulator on the next unused port number (or on `port`), with these options.
    bool startSimulator(const QStringList& options = {}, int port = 0);
    // A new panel in place of the old one; player null: the panel's fake player.
    Panel& newPanel(AudioPlayer* player = nullptr);
    // After each case.
    void cleanup();

    std::unique_ptr<RuntimeDir> runtime;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Panel> panel;

private:
    int nextPort_;
};

} // namespace tamberlo::e2e
