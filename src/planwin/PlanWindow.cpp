#include "planwin/PlanWindow.h"

#include "audio/AudioPlayer.h"
#include "plan/PlanCheck.h"
#include "planwin/MemoryBar.h"
#include "planwin/PlanTableModel.h"
#include "planwin/PlanTexts.h"
#include "planwin/PlanWindowUi.h"
#include "planwin/QtPlanDialogs.h"
#include "widgets/AudioOutputBox.h"
#include "widgets/PortToolTips.h"
#include "widgets/QtMessageBoxes.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <algorithm>

namespace tamberlo::planwin {

using RowState = plan::RowState;

PlanWindow::PlanWindow(QWidget* parent) : PlanWindow(Platform{}, parent) {}

PlanWindow::PlanWindow(Platform platform, QWidget* parent)
    : QWidget(parent), doc_(platform.player), run_(doc_, {platform.port, platform.audio}) {
    boxes_ = platform.boxes;
    if (!boxes_) {
        ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
        boxes_ = ownBoxes_.get();
    }
    dialogs_ = platform.dialogs;
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<QtPlanDialogs>(this);
        dialogs_ = ownDialogs_.get();
    }
    ui_.setupUi(this);
    connectControls();
    connect(&doc_, &plan::PlanDocument::changed, this, &PlanWindow::showLayout);
    connectRun();
    // The tool tips name the device each port number stands for when they are looked at.
    new PortToolTips(ui_.portBox);
    clock_.setInterval(ClockIntervalMs);
    connect(&clock_, &QTimer::timeout, this, &PlanWindow::clockTick);
    doc_.relayout();
    setStatus(tr("添加音频文件或打开一个计划文件。"));
}

PlanWindow::~PlanWindow() = default;

void PlanWindow::connectControls() {
    PlanWindowUi& ui = ui_;
    connect(ui.addFiles, &QPushButton::clicked, this, &PlanWindow::chooseAddFiles);
    connect(ui.removeMessage, &QPushButton::clicked, this, [this] { removeRows(selectedRows()); });
    connect(ui.moveUp, &QPushButton::clicked, this, [this] { moveSelection(-1); });
    connect(ui.moveDown, &QPushButton::clicked, this, [this] { moveSelection(1); });
    connect(ui.openPlan, &QPushButton::clicked, this, &PlanWindow::chooseOpenPlan);
    connect(ui.savePlan, &QPushButton::clicked, this, &PlanWindow::savePlan);
    connect(ui.savePlanAs, &QPushButton::clicked, this, &PlanWindow::savePlanAs);
    connect(ui.recordAll, &QPushButton::clicked, this, &PlanWindow::recordAll);
    connect(ui.stop, &QPushButton::clicked, this, &PlanWindow::stopRecording);
    connect(ui.continueFrom, &QPushButton::clicked, this, &PlanWindow::continueFromHere);
    connect(ui.verify, &QPushButton::clicked, this, &PlanWindow::verify);
    connect(ui.exportHeader, &QPushButton::clicked, this,
            [this] { chooseExport(plan::ExportFormat::Header); });
    connect(ui.exportCsv, &QPushButton::clicked, this,
            [this] { chooseExport(plan::ExportFormat::Csv); });
    connect(ui.exportJson, &QPushButton::clicked, this,
            [this] { chooseExport(plan::ExportFormat::Json); });
    connect(ui.modelBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        doc_.setModel(index <= 0 ? QStringLiteral("auto") : ui_.modelBox->itemText(index));
    });
    connect(ui.rateBox, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { doc_.setSampleRate(text.toInt()); });
    connect(ui.outputBox, &AudioOutputBox::chosen, this,
            [this](const QByteArray& id) { doc_.setOutput(QString::fromUtf8(id)); });
    // The model's requests come back through the event loop, after the view's drop is over.
    connect(ui.model, &PlanTableModel::renameRequested, this, &PlanWindow::renameMessage,
            Qt::QueuedConnection);
    connect(ui.model, &PlanTableModel::moveRequested, this, &PlanWindow::moveRows,
            Qt::QueuedConnection);
    connect(ui.model, &PlanTableModel::filesDropped, this, &PlanWindow::addFiles,
            Qt::QueuedConnection);
    connect(ui.view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PlanWindow::updateControls);
}

// --- The plan -----------------------------------------------------------------------------

void PlanWindow::showLayout() {
    const plan::Layout& layout = doc_.layout();
    MemoryBar* bar = ui_.bar;
    ui_.model->setLayout(layout, doc_.measured());
    bar->setPlanLayout(layout, doc_.plan().firstRow);

    const QString usage = usageText(layout, bar->missingRows());
    ui_.usage->setText(usage);
    ui_.usage->setStyleSheet(bar->missingRows() > 0 ? QStringLiteral("color: #C00000;")
                                                    : QString());
    const QString path = doc_.path();
    ui_.planFile->setText(path.isEmpty() ? tr("计划文件：未保存")
                                         : tr("计划文件：%1").arg(QFileInfo(path).fileName()));
    ui_.planFile->setToolTip(QDir::toNativeSeparators(path));
    updateControls();
}

void PlanWindow::showModel() {
    const plan::Plan& p = doc_.plan();
    const QSignalBlocker blockModel(ui_.modelBox);
    const QSignalBlocker blockRate(ui_.rateBox);
    ui_.outputBox->choose(p.output.toUtf8());
    const int index = p.autoModel() ? 0 : ui_.modelBox->findText(p.model, Qt::MatchFixedString);
    ui_.modelBox->setCurrentIndex(std::max(0, index));
    if (ui_.rateBox->findText(QString::number(p.sampleRate)) < 0)
        ui_.rateBox->addItem(QString::number(p.sampleRate));
    ui_.rateBox->setCurrentText(QString::number(p.sampleRate));
}

void PlanWindow::addFiles(const QStringList& files, int before) {
    if (isRunning() || files.isEmpty())
        return;
    selectRows(doc_.addFiles(files, before));
    setStatus(tr("已添加 %1 个文件。").arg(files.size()));
}

void PlanWindow::removeRows(QList<int> rows) {
    if (!isRunning() && !rows.isEmpty())
        doc_.removeRows(std::move(rows));
}

void PlanWindow::moveRows(QList<int> rows, int before) {
    if (!isRunning() && !rows.isEmpty())
        selectRows(doc_.moveRows(std::move(rows), before));
}

void PlanWindow::moveSelection(int delta) {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return;
    if (delta < 0 && rows.first() > 0)
        moveRows(rows, rows.first() - 1);
    else if (delta > 0 && rows.last() + 1 < doc_.plan().messages.size())
        moveRows(rows, rows.last() + 2);
}

void PlanWindow::renameMessage(int row, const QString& name) {
    if (!isRunning())
        doc_.renameMessage(row, name);
}

QList<int> PlanWindow::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& i : ui_.view->selectionModel()->selectedRows())
        rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void PlanWindow::selectRows(const QList<int>& rows) {
    QItemSelection selection;
    for (int r : rows)
        selection.select(ui_.model->index(r, 0),
                         ui_.model->index(r, PlanTableModel::ColumnCount - 1));
    ui_.view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.isEmpty())
        ui_.view->scrollTo(ui_.model->index(rows.first(), 0));
    updateControls();
}

void PlanWindow::updateControls() {
    const PlanWindowUi& ui = ui_;
    const bool idle = !isRunning();
    const bool any = !doc_.plan().messages.isEmpty();
    const int resume = run_.resumeFrom();
    const QList<int> rows = selectedRows();
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui.portBox, ui.modelBox, ui.rateBox, ui.addFiles,
                                         ui.openPlan, ui.eraseFirst, ui.outputBox})
        w->setEnabled(idle);
    ui.removeMessage->setEnabled(idle && !rows.isEmpty());
    ui.moveUp->setEnabled(idle && !rows.isEmpty() && rows.first() > 0);
    ui.moveDown->setEnabled(idle && !rows.isEmpty() &&
                            rows.last() + 1 < doc_.plan().messages.size());
    ui.savePlan->setEnabled(idle && any);
    ui.savePlanAs->setEnabled(idle && any);
    for (QPushButton* b : {ui.exportHeader, ui.exportCsv, ui.exportJson})
        b->setEnabled(idle && any);
    ui.recordAll->setEnabled(idle && any);
    ui.verify->setEnabled(idle && any);
    ui.stop->setEnabled(run_.isRecording());
    ui.continueFrom->setEnabled(idle && resume > 0 && resume <= doc_.plan().messages.size());
    ui.continueFrom->setToolTip(
        resume > 0 ? tr("从第 %1 段继续录音，前面已录的段保持不变").arg(resume) : QString());
    ui.view->setDragEnabled(idle);
    ui.view->setEditTriggers(idle ? QAbstractItemView::DoubleClicked |
                                        QAbstractItemView::EditKeyPressed |
                                        QAbstractItemView::SelectedClicked
                                  : QAbstractItemView::NoEditTriggers);
}

void PlanWindow::setStatus(const QString& text, bool fault) {
    ui_.status->setText(text);
    ui_.status->setStyleSheet(fault ? QStringLiteral("color: #C00000;") : QString());
}

QString PlanWindow::statusText() const {
    return ui_.status->text();
}

void PlanWindow::showProblems(const QString& what, const QStringList& problems) {
    boxes_->show(what + QLatin1Char('\n') + problems.join(QLatin1Char('\n')), tr("录音计划"),
                 MessageIcon::Critical);
}

// --- Files ---------------------------------------------------------------------------------

void PlanWindow::chooseAddFiles() {
    addFiles(
        dialogs_->openFiles(tr("添加音频文件"), {tr("音频文件 (*.mp3 *.wav)"), tr("所有文件 (*)")}),
        -1);
}

void PlanWindow::chooseOpenPlan() {
    const QString path =
        dialogs_->openFile(tr("打开录音计划"), {tr("录音计划 (*.json)"), tr("所有文件 (*)")});
    if (!path.isEmpty())
        openPlanFile(path);
}

bool PlanWindow::openPlanFile(const QString& path) {
    QString error;
    if (!doc_.open(path, &error)) {
        boxes_->show(tr("无法打开计划文件：\n%1").arg(error), tr("录音计划"),
                     MessageIcon::Critical);
        return false;
    }
    run_.forgetResume();
    showModel();
    updateControls();
    ui_.model->clearStates();
    setStatus(
        tr("已打开 %1：%2 段。").arg(QFileInfo(path).fileName()).arg(doc_.plan().messages.size()));
    return true;
}

bool PlanWindow::savePlanFile(const QString& path) {
    QString error;
    if (!doc_.save(path, &error)) {
        boxes_->show(tr("无法保存计划文件 %1：%2").arg(path, error), tr("录音计划"),
                     MessageIcon::Critical);
        return false;
    }
    setStatus(tr("已保存 %1。").arg(QFileInfo(path).fileName()));
    return true;
}

void PlanWindow::savePlan() {
    if (doc_.path().isEmpty())
        savePlanAs();
    else
        savePlanFile(doc_.path());
}

void PlanWindow::savePlanAs() {
    const QString suggested = doc_.path().isEmpty() ? QStringLiteral("plan.json") : doc_.path();
    QString path = dialogs_->saveFile(tr("保存录音计划"), {tr("录音计划 (*.json)")}, suggested);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    savePlanFile(path);
}

void PlanWindow::chooseExport(plan::ExportFormat format) {
    const QString planPath = doc_.path();
    const QString base =
        planPath.isEmpty() ? QStringLiteral("prompts") : QFileInfo(planPath).completeBaseName();
    QString suggested = base + QLatin1Char('.') + exportSuffix(format);
    if (!planPath.isEmpty())
        suggested = QFileInfo(planPath).absoluteDir().filePath(suggested);
    const QString path = dialogs_->saveFile(tr("导出地址表"), {exportFilter(format)}, suggested);
    if (!path.isEmpty())
        exportTo(path, format);
}

bool PlanWindow::exportTo(const QString& path, plan::ExportFormat format) {
    if (!doc_.layout().ok()) {
        showProblems(tr("计划有问题，不能导出："), doc_.layout().problems);
        return false;
    }
    QString error;
    if (!doc_.exportTo(path, format, &error)) {
        boxes_->show(tr("无法写入 %1：%2").arg(path, error), tr("导出地址表"),
                     MessageIcon::Critical);
        return false;
    }
    setStatus(tr("地址表已导出到 %1。").arg(QDir::toNativeSeparators(path)));
    return true;
}

// --- Drops on the window --------------------------------------------------------------------

void PlanWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!isRunning() && !PlanTableModel::droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void PlanWindow::dropEvent(QDropEvent* event) {
    const QStringList files = PlanTableModel::droppedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    addFiles(files, -1);
}

void PlanWindow::closeEvent(QCloseEvent* event) {
    // A recording is stopped first (STOP sent, the messages so far kept); the window closes
    // once the run has ended.
    if (run_.isRecording()) {
        closeAfterRun_ = true;
        stopRecording();
        event->ignore();
        return;
    }
    if (doc_.player())
        doc_.player()->command(PlayerCommand::Close);
    event->accept();
}

// --- Runs ------------------------------------------------------------------------------------

void PlanWindow::connectRun() {
    using plan::PlanRun;
    connect(&run_, &PlanRun::rowChanged, this, [this](int row, const plan::RowCheck& check) {
        ui_.model->setRowState(row, check.state,
                               check.state == RowState::Moved
                                   ? tr("（芯片 %1）").arg(plan::rowText(check.chipStart))
                                   : QString());
    });
    connect(&run_, &PlanRun::currentRowChanged, this, [this](int row) {
        ui_.model->setCurrentRow(row);
        if (row >= 0)
            ui_.view->scrollTo(ui_.model->index(row, 0));
    });
    connect(&run_, &PlanRun::messageStarted, this,
            [this](int number, int count, const plan::PlacedMessage& message) {
                setStatus(tr("正在录第 %1 段（共 %2 段）：%3，行 %4–%5")
                              .arg(number)
                              .arg(count)
                              .arg(message.name, plan::rowText(message.start),
                                   plan::rowText(message.end)));
            });
    connect(&run_, &PlanRun::messagePermille, this, [this](int permille) {
        ui_.messageProgress->setValue(permille);
        clockTick();
    });
    connect(&run_, &PlanRun::messageDone, this, [this](int, bool last) {
        if (last)
            setStatus(tr("全部录完，正在读回芯片中的段（map）……"));
    });
    // The engine's step lines are the command line's; the window says the same in its own
    // words as the messages start and end.
    connect(&run_, &PlanRun::notice, this, [this](const QString& text) { setStatus(text); });
    connect(&run_, &PlanRun::scanProgress, this, [this](int found, int bound) {
        ui_.planProgress->setValue(bound > 0 ? std::min(1000, found * 1000 / bound) : 0);
        setStatus(tr("正在读芯片中的段：已找到 %1 段……").arg(found));
    });
    connect(&run_, &PlanRun::recorded, this, &PlanWindow::showRecorded);
    connect(&run_, &PlanRun::verified, this,
            [this](const QString& error, const plan::ChipComparison& chip) {
                if (!error.isEmpty()) {
                    setStatus(tr("校验没有完成：%1").arg(error), true);
                    return;
                }
                setStatus(checksText(chip), chip.missing + chip.moved > 0);
                ui_.planProgress->setValue(1000);
            });
    // Shown as running before the engine goes: it may end the run at once.
    connect(&run_, &PlanRun::started, this, [this] {
        clock_.start();
        updateControls();
    });
    connect(&run_, &PlanRun::ended, this, &PlanWindow::endRun);
    connect(&run_, &PlanRun::finished, this, [this] {
        emit runFinished();
        if (closeAfterRun_ && !isRunning())
            close();
    });
}

void PlanWindow::showPortProblem() {
    const plan::PlanRun::PortProblem& p = run_.portProblem();
    using Kind = plan::PlanRun::PortProblem::Kind;
    if (p.kind == Kind::BadNumber)
        boxes_->show(tr("串口号 \"%1\" 无效：%2").arg(ui_.portBox->currentText(), p.reason),
                     tr("串口状态"), MessageIcon::Critical);
    else if (p.kind == Kind::NotOpened)
        boxes_->show(tr("串口 %1 打不开：%2").arg(p.number).arg(p.reason), tr("串口状态"),
                     MessageIcon::Critical);
}

void PlanWindow::recordAll() {
    startRecording(1);
}

void PlanWindow::continueFromHere() {
    if (run_.resumeFrom() > 0)
        startRecording(run_.resumeFrom());
}

void PlanWindow::startRecording(int from) {
    if (isRunning())
        return;
    if (doc_.plan().messages.isEmpty()) {
        boxes_->show(tr("计划中还没有录音段"), tr("录音计划"), MessageIcon::Information);
        return;
    }
    // A file edited since it was measured is measured again: the run records what is on disk.
    doc_.relayout();
    if (!doc_.layout().ok()) {
        showProblems(tr("计划有问题，什么都没有录："), doc_.layout().problems);
        return;
    }
    const bool erase = from == 1 && ui_.eraseFirst->isChecked();
    if (erase && !dialogs_->ask(tr("录音前要擦除芯片中的全部内容（包括计划以外的段）。\n继续吗？"),
                                tr("擦除全部")))
        return;
    if (!run_.prepareRecording(ui_.portBox->currentText(), from, erase)) {
        showPortProblem();
        return;
    }
    startRun(erase ? tr("正在擦除芯片……") : tr("正在连接芯片……"));
}

void PlanWindow::verify() {
    if (isRunning() || doc_.plan().messages.isEmpty())
        return;
    if (!run_.prepareVerify(ui_.portBox->currentText())) {
        showPortProblem();
        return;
    }
    startRun(tr("正在读芯片中的段（map）……"));
}

void PlanWindow::startRun(const QString& status) {
    ui_.messageProgress->setValue(0);
    ui_.planProgress->setValue(0);
    setStatus(status);
    run_.start();
}

void PlanWindow::stopRecording() {
    if (run_.isRecording()) {
        setStatus(tr("正在停止……"));
        run_.stop();
    }
}

void PlanWindow::clockTick() {
    ui_.elapsedText->setText(plan::clockText(run_.elapsedMs()));
    ui_.remainingText->setText(plan::clockText(run_.remainingMs()));
    if (const std::optional<int> permille = run_.planPermille())
        ui_.planProgress->setValue(*permille);
}

void PlanWindow::showRecorded(const plan::ProgramOutcome& outcome,
                              const plan::ChipComparison& chip) {
    using Kind = plan::ProgramOutcome::Kind;
    if (outcome.kind == Kind::Done || outcome.kind == Kind::Mismatch)
        setStatus(checksText(chip), chip.missing + chip.moved > 0);
    if (outcome.kind == Kind::Done)
        ui_.planProgress->setValue(1000);
    setStatus(recordedText(outcome, run_.resumeFrom()), outcome.kind != Kind::Done);
}

void PlanWindow::endRun() {
    clock_.stop();
    clockTick();
    updateControls();
}

} // namespace tamberlo::planwin
