#pragma once

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace tamberlo {
class AudioOutputBox;
}

namespace tamberlo::planwin {

class MemoryBar;
class PlanTableModel;
class PlanWindow;

// The plan window's widgets and their layout: the chip (port, model, sample rate), the plan
// file, the export, the messages' table with its edit buttons, the memory bar, and the run
// (buttons, sound output, progress, times, status). Every control carries its object name;
// those without a caption of their own carry it as accessible name too.
struct PlanWindowUi {
    void setupUi(PlanWindow* window);

    PlanTableModel* model = nullptr;
    MemoryBar* bar = nullptr;
    QComboBox* portBox = nullptr;
    QComboBox* modelBox = nullptr;
    QComboBox* rateBox = nullptr;
    AudioOutputBox* outputBox = nullptr;
    QTableView* view = nullptr;
    QLabel* usage = nullptr;
    QLabel* planFile = nullptr;
    QLabel* status = nullptr;
    QLabel* elapsedText = nullptr;
    QLabel* remainingText = nullptr;
    QProgressBar* messageProgress = nullptr;
    QProgressBar* planProgress = nullptr;
    QCheckBox* eraseFirst = nullptr;
    QPushButton* addFiles = nullptr;
    QPushButton* removeMessage = nullptr;
    QPushButton* moveUp = nullptr;
    QPushButton* moveDown = nullptr;
    QPushButton* openPlan = nullptr;
    QPushButton* savePlan = nullptr;
    QPushButton* savePlanAs = nullptr;
    QPushButton* recordAll = nullptr;
    QPushButton* stop = nullptr;
    QPushButton* continueFrom = nullptr;
    QPushButton* verify = nullptr;
    QPushButton* exportHeader = nullptr;
    QPushButton* exportCsv = nullptr;
    QPushButton* exportJson = nullptr;

private:
    void build(PlanWindow* window);
    void nameControls(PlanWindow* window);
};

} // namespace tamberlo::planwin
