#include "planwin/PlanWindowUi.h"

#include "plan/ChipModels.h"
#include "plan/PlanCheck.h"
#include "planwin/MemoryBar.h"
#include "planwin/PlanTableModel.h"
#include "planwin/PlanWindow.h"
#include "widgets/AudioOutputBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tamberlo::planwin {

namespace {

QPushButton* makeButton(const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setAutoDefault(false);
    return b;
}

} // namespace

void PlanWindowUi::setupUi(PlanWindow* window) {
    build(window);
    nameControls(window);
}

void PlanWindowUi::build(PlanWindow* window) {
    window->setWindowTitle(PlanWindow::tr("Tamberlo 录音计划"));
    window->setAcceptDrops(true);

    // The chip: port, model, sample rate.
    auto* chipBox = new QGroupBox(PlanWindow::tr("芯片"), window);
    chipBox->setObjectName(QStringLiteral("chip_frame"));
    auto* chipGrid = new QHBoxLayout(chipBox);
    portBox = new QComboBox(chipBox);
    portBox->setEditable(true);
    for (int n = 1; n <= 16; ++n)
        portBox->addItem(QString::number(n));
    portBox->setCurrentText(QStringLiteral("1"));
    portBox->setMinimumContentsLength(3);
    modelBox = new QComboBox(chipBox);
    modelBox->addItem(PlanWindow::tr("自动"));
    modelBox->addItems(plan::chipModelNames());
    modelBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    modelBox->setItemData(0, PlanWindow::tr("录音或校验时读芯片的器件 ID"), Qt::ToolTipRole);
    rateBox = new QComboBox(chipBox);
    rateBox->addItems(plan::sampleRateNames());
    // Neither list box shrinks below its longest entry ("ISD17240", "12000").
    modelBox->setMinimumContentsLength(8);
    rateBox->setMinimumContentsLength(5);
    rateBox->setCurrentText(QString::number(plan::Plan::DefaultSampleRate));
    auto* portLabel = new QLabel(PlanWindow::tr("串口"), chipBox);
    auto* modelLabel = new QLabel(PlanWindow::tr("型号"), chipBox);
    auto* rateLabel = new QLabel(PlanWindow::tr("采样率"), chipBox);
    portLabel->setBuddy(portBox);
    modelLabel->setBuddy(modelBox);
    rateLabel->setBuddy(rateBox);
    chipGrid->addWidget(portLabel);
    chipGrid->addWidget(portBox);
    chipGrid->addSpacing(8);
    chipGrid->addWidget(modelLabel);
    chipGrid->addWidget(modelBox);
    chipGrid->addSpacing(8);
    chipGrid->addWidget(rateLabel);
    chipGrid->addWidget(rateBox);
    chipGrid->addWidget(new QLabel(QStringLiteral("Hz"), chipBox));

    // The plan file.
    auto* fileBox = new QGroupBox(PlanWindow::tr("计划文件"), window);
    fileBox->setObjectName(QStringLiteral("file_frame"));
    auto* fileRow = new QHBoxLayout(fileBox);
    openPlan = makeButton(PlanWindow::tr("打开"), fileBox);
    savePlan = makeButton(PlanWindow::tr("保存"), fileBox);
    savePlanAs = makeButton(PlanWindow::tr("另存为"), fileBox);
    fileRow->addWidget(openPlan);
    fileRow->addWidget(savePlan);
    fileRow->addWidget(savePlanAs);

    // The address table for firmware.
    auto* exportBox = new QGroupBox(PlanWindow::tr("导出地址表"), window);
    exportBox->setObjectName(QStringLiteral("export_frame"));
    auto* exportRow = new QHBoxLayout(exportBox);
    exportHeader = makeButton(PlanWindow::tr("头文件 .h"), exportBox);
    exportCsv = makeButton(QStringLiteral("CSV"), exportBox);
    exportJson = makeButton(QStringLiteral("JSON"), exportBox);
    exportRow->addWidget(exportHeader);
    exportRow->addWidget(exportCsv);
    exportRow->addWidget(exportJson);

    auto* top = new QHBoxLayout;
    top->addWidget(chipBox);
    top->addWidget(fileBox);
    top->addWidget(exportBox);
    top->addStretch(1);

    // The messages.
    auto* messagesBox = new QGroupBox(PlanWindow::tr("录音段"), window);
    messagesBox->setObjectName(QStringLiteral("messages_frame"));
    auto* messagesRow = new QHBoxLayout(messagesBox);
    model = new PlanTableModel(window);
    view = new QTableView(messagesBox);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setDragEnabled(true);
    view->setAcceptDrops(true);
    view->setDropIndicatorShown(true);
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setDragDropOverwriteMode(false);
    view->setDefaultDropAction(Qt::MoveAction);
    view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::SelectedClicked);
    view->verticalHeader()->setVisible(false);
    view->setAlternatingRowColors(true);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(PlanTableModel::Name, QHeaderView::Interactive);
    header->setSectionResizeMode(PlanTableModel::File, QHeaderView::Stretch);
    header->resizeSection(PlanTableModel::Name, 140);
    header->setMinimumSectionSize(48);
    auto* editButtons = new QVBoxLayout;
    addFiles = makeButton(PlanWindow::tr("添加文件…"), messagesBox);
    removeMessage = makeButton(PlanWindow::tr("删除"), messagesBox);
    moveUp = makeButton(PlanWindow::tr("上移"), messagesBox);
    moveDown = makeButton(PlanWindow::tr("下移"), messagesBox);
    for (QPushButton* b : {addFiles, removeMessage, moveUp, moveDown})
        editButtons->addWidget(b);
    editButtons->addStretch(1);
    messagesRow->addWidget(view, 1);
    messagesRow->addLayout(editButtons);

    // The chip's memory.
    auto* memoryBox = new QGroupBox(PlanWindow::tr("芯片存储"), window);
    memoryBox->setObjectName(QStringLiteral("memory_frame"));
    auto* memoryColumn = new QVBoxLayout(memoryBox);
    bar = new MemoryBar(memoryBox);
    usage = new QLabel(memoryBox);
    memoryColumn->addWidget(bar);
    memoryColumn->addWidget(usage);

    // Recording and verifying.
    auto* runBox = new QGroupBox(PlanWindow::tr("录音"), window);
    runBox->setObjectName(QStringLiteral("run_frame"));
    auto* runGrid = new QGridLayout(runBox);
    eraseFirst = new QCheckBox(PlanWindow::tr("先擦除全部"), runBox);
    recordAll = makeButton(PlanWindow::tr("全部录音"), runBox);
    QFont bold = recordAll->font();
    bold.setBold(true);
    recordAll->setFont(bold);
    stop = makeButton(PlanWindow::tr("停止"), runBox);
    continueFrom = makeButton(PlanWindow::tr("从这里继续"), runBox);
    verify = makeButton(PlanWindow::tr("校验"), runBox);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(eraseFirst);
    buttons->addWidget(recordAll);
    buttons->addWidget(stop);
    buttons->addWidget(continueFrom);
    buttons->addSpacing(16);
    buttons->addWidget(verify);
    buttons->addStretch(1);
    // The output the files play on: often a USB sound card cabled to the board's line-in
    // rather than the default output.
    outputBox = new AudioOutputBox(runBox);
    auto* outputLabel = new QLabel(PlanWindow::tr("声音输出"), runBox);
    outputLabel->setObjectName(QStringLiteral("output_label"));
    outputLabel->setBuddy(outputBox);
    buttons->addWidget(outputLabel);
    buttons->addWidget(outputBox);
    messageProgress = new QProgressBar(runBox);
    planProgress = new QProgressBar(runBox);
    for (QProgressBar* p : {messageProgress, planProgress}) {
        p->setRange(0, 1000);
        p->setValue(0);
        p->setTextVisible(false);
    }
    elapsedText = new QLabel(runBox);
    remainingText = new QLabel(runBox);
    status = new QLabel(runBox);
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status->setMinimumHeight(status->fontMetrics().lineSpacing() * 3);
    status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    runGrid->addLayout(buttons, 0, 0, 1, 4);
    runGrid->addWidget(new QLabel(PlanWindow::tr("当前段"), runBox), 1, 0);
    runGrid->addWidget(messageProgress, 1, 1);
    runGrid->addWidget(new QLabel(PlanWindow::tr("已用时"), runBox), 1, 2);
    runGrid->addWidget(elapsedText, 1, 3);
    runGrid->addWidget(new QLabel(PlanWindow::tr("全部"), runBox), 2, 0);
    runGrid->addWidget(planProgress, 2, 1);
    runGrid->addWidget(new QLabel(PlanWindow::tr("剩余"), runBox), 2, 2);
    runGrid->addWidget(remainingText, 2, 3);
    runGrid->addWidget(status, 3, 0, 1, 4);
    runGrid->setColumnStretch(1, 1);
    elapsedText->setMinimumWidth(
        elapsedText->fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 8);
    elapsedText->setText(plan::clockText(0));
    remainingText->setText(plan::clockText(0));

    planFile = new QLabel(window);
    planFile->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* column = new QVBoxLayout(window);
    column->addLayout(top);
    column->addWidget(planFile);
    column->addWidget(messagesBox, 1);
    column->addWidget(memoryBox);
    column->addWidget(runBox);
    // The layout sets the smallest size (every box and caption whole); the window opens a
    // little larger, for the table.
    window->resize(1000, 680);
}

void PlanWindowUi::nameControls(PlanWindow* window) {
    window->setObjectName(QStringLiteral("PlanWindow"));
    const auto name = [](QWidget* w, const char* objectName, bool accessible) {
        w->setObjectName(QString::fromLatin1(objectName));
        if (accessible)
            w->setAccessibleName(QString::fromLatin1(objectName));
    };
    // Controls without a caption of their own carry their name as accessible name too.
    name(portBox, "port_box", true);
    name(modelBox, "model_box", true);
    name(rateBox, "rate_box", true);
    name(view, "messages", true);
    name(bar, "memory_bar", true);
    name(usage, "usage_text", true);
    name(planFile, "plan_file_text", true);
    name(status, "status_text", true);
    name(elapsedText, "elapsed_time", true);
    name(remainingText, "remaining_time", true);
    name(messageProgress, "message_progress", true);
    name(planProgress, "plan_progress", true);
    name(eraseFirst, "erase_first", false);
    name(addFiles, "add_files", false);
    name(removeMessage, "remove_message", false);
    name(moveUp, "move_up", false);
    name(moveDown, "move_down", false);
    name(openPlan, "open_plan", false);
    name(savePlan, "save_plan", false);
    name(savePlanAs, "save_plan_as", false);
    name(recordAll, "record_all", false);
    name(stop, "stop_recording", false);
    name(continueFrom, "continue_from", false);
    name(verify, "verify", false);
    name(exportHeader, "export_header", false);
    name(exportCsv, "export_csv", false);
    name(exportJson, "export_json", false);
}

} // namespace tamberlo::planwin
