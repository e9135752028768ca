// The plan window against tamberlo-bridge-sim: the real window (offscreen) with the real
// serial adapter and the real player, generated WAV files recorded into the simulated chip,
// checked by the map scan and exported; a hang-up in message 2 and the run continued from
// there; the stop button in the middle of a run. Real time; loose bounds.
//
// With TAMBERLO_PLAN_WINDOW_PNG set, screenshot() records a plan of five prompts and saves
// the window to that file, in the language the locale picks (scripts/plan-screenshot.sh).
#include "PlanWindowFakes.h"
#include "e2e/SimulatorRig.h"
#include "panel/Language.h"
#include "planwin/MemoryBar.h"
#include "planwin/PlanTableModel.h"
#include "planwin/PlanWindow.h"
#include "support/Wav.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using namespace tamberlo::e2e;
using namespace tamberlo::planwin;
using State = PlanTableModel::RowState;

namespace {

// The window on the real port and player, shown.
struct Window : test::PlanWindowRig {
    Window() : PlanWindowRig(Edges::RealPortAndPlayer) {}
};

} // namespace

class TestPlanWindowE2e : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void recordsVerifiesAndExports();
    void hangUpInMessageTwoThenContinue();
    void stopLeavesCompletedMessages();
    void closingWhileRecordingStopsFirst();
    void screenshot();
    void cleanup();

private:
    QString path(const QString& name) const { return files_.filePath(name); }
    QStringList prompts() const { return {path("hello.wav"), path("beep.wav"), path("long.wav")}; }

    RuntimeDir runtime_;
    QTemporaryDir files_;
    std::unique_ptr<Simulator> sim_;
};

void TestPlanWindowE2e::initTestCase() {
    QVERIFY(runtime_.isValid());
    QVERIFY(files_.isValid());
    QVERIFY(test::writeWav(path("hello.wav"), 8000, 1, 700));
    QVERIFY(test::writeWav(path("beep.wav"), 22050, 1, 400));
    QVERIFY(test::writeWav(path("long.wav"), 16000, 2, 1300));
}

void TestPlanWindowE2e::cleanup() {
    if (QTest::currentTestFailed() && sim_)
        qWarning().noquote() << sim_->tail();
    sim_.reset();
}

void TestPlanWindowE2e::recordsVerifiesAndExports() {
    QVERIFY(startSimulator(sim_, runtime_, 61));
    Window w;
    w.dialogs.fileLists.push_back(prompts());
    w.click("add_files");
    QCOMPARE(w.window->table().rowCount(), 3);
    QVERIFY2(w.window->layout().ok(), qPrintable(w.window->layout().problems.join('\n')));
    w.setPort(61);
    w.find<QCheckBox>("erase_first")->setChecked(true);
    w.dialogs.answers.push_back(true);

    // While it records: each message highlighted in turn, both bars moving, the stop
    // button available.
    QSet<int> highlighted;
    int messageBar = 0;
    int planBar = 0;
    bool stopEnabled = false;
    QVERIFY(w.run("record_all", [&] {
        highlighted.insert(w.window->table().currentRow());
        messageBar = std::max(messageBar, w.find<QProgressBar>("message_progress")->value());
        planBar = std::max(planBar, w.find<QProgressBar>("plan_progress")->value());
        stopEnabled = stopEnabled || w.find("stop_recording")->isEnabled();
    }));
    QCOMPARE(w.dialogs.questions.size(), 1);
    const plan::ProgramOutcome& outcome = w.window->lastOutcome();
    QVERIFY2(outcome.kind == plan::ProgramOutcome::Kind::Done, qPrintable(w.window->statusText()));
    QVERIFY(highlighted.contains(0) && highlighted.contains(1) && highlighted.contains(2));
    QVERIFY(messageBar > 500);
    QCOMPARE(planBar, 1000);
    QVERIFY(stopEnabled);
    QVERIFY(!w.find("stop_recording")->isEnabled());
    QCOMPARE(w.window->table().currentRow(), -1);
    QCOMPARE(sim_->commands("G_ERASE").size(), 1);
    QCOMPARE(sim_->setRecRanges(), w.plannedRanges());
    QCOMPARE(w.states(), (QList<State>{State::Found, State::Found, State::Found}));
    // The model was read from the chip and the bar shows the whole memory.
    QCOMPARE(w.window->layout().chip->nameText(), QStringLiteral("ISD1760"));
    QCOMPARE(w.window->memoryBar().lastRow(), 0x1EF);

    // Verify on its own: the map scan against the plan.
    QVERIFY(w.run("verify"));
    QCOMPARE(w.states(), (QList<State>{State::Found, State::Found, State::Found}));
    QVERIFY2(w.window->statusText().contains("找到 3"), qPrintable(w.window->statusText()));

    // The header for the firmware.
    w.dialogs.files.push_back(path("prompts.h"));
    w.click("export_header");
    QFile header(path("prompts.h"));
    QVERIFY(header.open(QIODevice::ReadOnly));
    const QByteArray text = header.readAll();
    const plan::PlacedMessage& first = w.window->layout().messages[0];
    QVERIFY2(text.contains("#define HELLO_START 0x" +
                           QByteArray::number(first.start, 16).toUpper().rightJustified(3, '0')),
             text.constData());
    QVERIFY(w.boxes.boxes.isEmpty());
}

void TestPlanWindowE2e::hangUpInMessageTwoThenContinue() {
    // Bytes in: PU, DEVID; message 1's SET_REC (5), status read, STOP, RD_REC_PTR; message
    // 2's SET_REC (5): the simulator hangs up on its status read.
    QVERIFY(startSimulator(sim_, runtime_, 62, {"--hangup-after", "16"}));
    Window w;
    w.window->addFiles(prompts());
    w.setPort(62);
    QVERIFY(w.run("record_all"));
    const plan::ProgramOutcome& broken = w.window->lastOutcome();
    QCOMPARE(broken.kind, plan::ProgramOutcome::Kind::Fault);
    QCOMPARE(broken.failedMessage, 2);
    // The command line's words: which message, which are complete.
    const QString status = w.window->statusText();
    QVERIFY2(status.startsWith("录音中断，可从第 2 段继续：\n") && status.endsWith(broken.error),
             qPrintable(status));
    QVERIFY2(status.contains("message 2 \"beep\"") && status.contains("complete: 1"),
             qPrintable(status));
    QCOMPARE(w.states(), (QList<State>{State::Done, State::Failed, State::None}));
    QVERIFY(w.find("continue_from")->isEnabled());
    QCOMPARE(w.window->resumeFrom(), 2);
    QCOMPARE(sim_->setRecRanges().size(), 2);
    sim_.reset();

    // The board back (a fresh simulated chip, without message 1): continue from here.
    QVERIFY(startSimulator(sim_, runtime_, 62));
    QVERIFY(w.run("continue_from"));
    QCOMPARE(sim_->setRecRanges(), w.plannedRanges(2));
    QCOMPARE(sim_->commands("G_ERASE").size(), 0);
    const plan::ProgramOutcome& resumed = w.window->lastOutcome();
    QCOMPARE(resumed.kind, plan::ProgramOutcome::Kind::Mismatch);
    QCOMPARE(resumed.complete, (QList<int>{2, 3}));
    QCOMPARE(w.states(), (QList<State>{State::Missing, State::Found, State::Found}));
    QVERIFY(!w.find("continue_from")->isEnabled());
}

void TestPlanWindowE2e::stopLeavesCompletedMessages() {
    QVERIFY(startSimulator(sim_, runtime_, 63));
    Window w;
    // Message 2 is the longest, so that the click lands well before its own STOP.
    w.window->addFiles({path("hello.wav"), path("long.wav"), path("beep.wav")});
    w.setPort(63);
    bool clicked = false;
    QVERIFY(w.run("record_all", [&] {
        const int progress = w.find<QProgressBar>("message_progress")->value();
        if (!clicked && w.window->table().rowState(1) == State::Recording && progress > 0 &&
            progress < 600) {
            clicked = true;
            w.click("stop_recording");
        }
    }));
    QVERIFY(clicked);
    const plan::ProgramOutcome& outcome = w.window->lastOutcome();
    QCOMPARE(outcome.kind, plan::ProgramOutcome::Kind::Fault);
    QCOMPARE(outcome.complete, QList<int>{1});
    QVERIFY2(outcome.error.contains("stopped by the operator"), qPrintable(outcome.error));
    QCOMPARE(w.states(), (QList<State>{State::Done, State::Failed, State::None}));
    // Message 1's STOP and the operator's; no third message was started.
    QCOMPARE(sim_->commands("STOP").size(), 2);
    QCOMPARE(sim_->setRecRanges().size(), 2);
    QCOMPARE(w.window->resumeFrom(), 2);
}

void TestPlanWindowE2e::closingWhileRecordingStopsFirst() {
    QVERIFY(startSimulator(sim_, runtime_, 65));
    Window w;
    w.window->addFiles(prompts());
    w.setPort(65);
    bool closed = false;
    bool stillShown = false;
    QVERIFY(w.run("record_all", [&] {
        const int progress = w.find<QProgressBar>("message_progress")->value();
        if (!closed && w.window->table().rowState(0) == State::Recording && progress > 0 &&
            progress < 600) {
            closed = true;
            w.window->close();
            stillShown = w.window->isVisible();
        }
    }));
    QVERIFY(closed);
    QVERIFY(stillShown); // until the chip has been stopped
    QTRY_VERIFY(!w.window->isVisible());
    QCOMPARE(sim_->commands("STOP").size(), 1);
    QCOMPARE(sim_->setRecRanges().size(), 1);
    QCOMPARE(w.window->lastOutcome().failedMessage, 1);
}

void TestPlanWindowE2e::screenshot() {
    const QString out = qEnvironmentVariable("TAMBERLO_PLAN_WINDOW_PNG");
    if (out.isEmpty())
        QSKIP("TAMBERLO_PLAN_WINDOW_PNG names no file to write");
    // In the language the locale picks, as `tamberlo --plan` shows it.
    const Translations translations(systemPanelLanguage());
    const QList<std::pair<QString, int>> prompts = {{"welcome", 2600},
                                                    {"door_open", 1200},
                                                    {"door_closed", 1400},
                                                    {"low_battery", 2100},
                                                    {"goodbye", 1000}};
    QStringList files;
    for (const auto& [name, ms] : prompts) {
        files << path(name + ".wav");
        QVERIFY(test::writeWav(files.last(), 8000, 1, ms));
    }
    QVERIFY(startSimulator(sim_, runtime_, 64, {"--model", "ISD1730"}));
    Window w;
    w.window->addFiles(files);
    w.window->renameMessage(1, QStringLiteral("door open"));
    w.window->renameMessage(2, QStringLiteral("door closed"));
    w.window->renameMessage(3, QStringLiteral("low battery"));
    QVERIFY(w.window->savePlanFile(path("door.json")));
    w.setPort(64);
    QVERIFY(w.run("record_all"));
    QCOMPARE(w.window->lastOutcome().kind, plan::ProgramOutcome::Kind::Done);
    QVERIFY(w.window->grab().save(out));
}

QTEST_MAIN(TestPlanWindowE2e)
#include "tst_plan_window_e2e.moc"
