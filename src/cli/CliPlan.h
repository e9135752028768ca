#pragma once

// The message plan on the command line: `plan`, `export` and `program --dry-run` need no
// port and run here; `program` runs inside the Session (it needs the port and the client)
// through ProgramRun.

#include "chip/ChipClient.h"
#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "plan/ClientChip.h"
#include "plan/Programmer.h"
#include "plan/QtRecordingAudio.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace tamberlo::cli {

// plan, export and program are the plan's commands.
bool isPlanCommand(const QString& subcommand);
// Runs plan, export or program --dry-run; returns the exit code.
int runPlanCommand(const Options& options);

// The plan of the command line, measured and laid out (without the chip's model for "auto").
struct LoadedPlan {
    plan::Plan plan;
    QList<plan::MeasuredFile> files;
    plan::Layout layout;
    QString name;  // the plan file, or "the files given"
    QString error; // a plan that cannot be read, or a bad --from
    int from = 1;
};
LoadedPlan loadPlan(const Options& options);

// The real player, its audio libraries' chatter kept off standard error while it opens a file.
// Plays on the output --audio-device chose (by default the system's).
class QuietRecordingAudio : public plan::QtRecordingAudio {
public:
    void setQuiet(bool quiet) { quiet_ = quiet; }
    // The output to play on: its id and its name for messages.
    void chooseOutput(const QByteArray& id, const QString& description);
    bool load(const QString& path, QString* why) override;
    bool outputReady(QString* why) override;
    QString outputName() const override;

private:
    bool quiet_ = true;
    QString description_;
};

// `program`: the session's extension, run once the port is open.
void runProgram(Session& session);

// `program` on an open port: the programmer with the chip client and the real player,
// its progress on the terminal, its outcome as text or JSON.
class ProgramRun : public QObject {
    Q_OBJECT
public:
    using Say = std::function<void(const QString&)>;
    using Progress = std::function<void(const QString&)>;
    // `done` gets the exit code and the error line (empty when done); the JSON
    // members go into `json`.
    using Done = std::function<void(int code, const QString& error)>;

    ProgramRun(LoadedPlan loaded, const Options& options, ChipClient& client, QString label,
               QJsonObject& json, Say say, Progress progress, Done done, QObject* parent = nullptr);
    void start();

private:
    void finished(const plan::ProgramOutcome& outcome);
    QString bar(std::int64_t positionMs, std::int64_t lengthMs) const;

    LoadedPlan loaded_;
    const Options& options_;
    QString label_;
    QJsonObject& json_;
    Say say_;
    Progress progress_;
    Done done_;
    plan::ClientChip chip_;
    QuietRecordingAudio audio_;
    std::unique_ptr<plan::Programmer> programmer_;
    QElapsedTimer elapsed_;
    QTimer interruptPoll_;
    int current_ = 0;
    std::int64_t remainingAudioMs_ = 0;
};

} // namespace tamberlo::cli
