#pragma once

// The message plan on the command line, in tamberlo-cli-plan: `plan`, `export`,
// `audio-devices` and `program --dry-run` need no port; `program` runs on the session's
// port through ProgramRun. installPlanHandlers() puts these handlers in the command table.

#include "chip/ChipClient.h"
#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "plan/ChipAdapter.h"
#include "plan/Programmer.h"
#include "plan/QtRecordingAudio.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>

namespace tamberlo::cli {

// The plan's handlers in place of tamberlo-cli's hand-over to this program.
void installPlanHandlers();

// The programmer's outcome as an exit code.
int exitCodeOf(plan::ProgramOutcome::Cause cause);

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

// `program` on an open port: the programmer with the chip client and the real player, its
// progress on the terminal, its outcome through the session.
class ProgramRun : public QObject {
    Q_OBJECT
public:
    ProgramRun(LoadedPlan loaded, Session& session);
    void start();

private:
    void finished(const plan::ProgramOutcome& outcome);
    void showProgress(int number, std::int64_t position, std::int64_t length);

    LoadedPlan loaded_;
    Session& session_;
    const Options& options_;
    plan::ChipAdapter chip_;
    QuietRecordingAudio audio_;
    std::unique_ptr<plan::Programmer> programmer_;
    QElapsedTimer elapsed_;
    int current_ = 0;
    std::int64_t remainingAudioMs_ = 0;
};

} // namespace tamberlo::cli
