// The plan window offscreen, on fakes: its controls and their names, the table and its
// edits, the layout and the memory bar after every change, plan files and export through the
// dialogs, and the checks before a run. (The plan document and the runs on their own:
// tests/plan.)
#include "PlanWindowFakes.h"
#include "link/PortResolver.h"
#include "plan/Export.h"
#include "planwin/MemoryBar.h"
#include "planwin/PlanTableModel.h"
#include "planwin/PlanWindow.h"
#include "support/Fakes.h"
#include "widgets/AudioOutputBox.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using namespace tamberlo::planwin;
using State = PlanTableModel::RowState;

using Rig = test::PlanWindowRig;

class TestPlanWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void namesCaptionsAndTitle_data();
    void namesCaptionsAndTitle();
    void portBoxToolTips();
    void addsFilesAndLaysThemOut_data();
    void addsFilesAndLaysThemOut();
    void buttonsAndDragMoveRows();
    void renameAndDuplicateNames();
    void droppedFilesAreAdded();
    void memoryBarSegmentsAndFreeSpace();
    void memoryBarMarksOverflow();
    void savesAndOpensPlanFiles();
    void exportsTheAddressTable_data();
    void exportsTheAddressTable();
    void refusesToRecordWhatCannotBe();

private:
    QString file(const QString& name) const { return dir_.filePath(name); }
    void makeFiles(const QStringList& names);
    QTemporaryDir dir_;
};

void TestPlanWindow::init() {
    QVERIFY(dir_.isValid());
    makeFiles({"welcome.wav", "beep.wav", "long.wav", "a.wav", "b.wav", "c.wav"});
}

void TestPlanWindow::makeFiles(const QStringList& names) {
    for (const QString& n : names) {
        QFile f(file(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF");
    }
}

void TestPlanWindow::namesCaptionsAndTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption"); // empty: no caption, the accessible name carries it
    const QList<std::pair<const char*, const char*>> rows = {
        {"port_box", ""},           {"model_box", ""},
        {"rate_box", ""},           {"AudioOutputBox", ""},
        {"messages", ""},           {"memory_bar", ""},
        {"usage_text", ""},         {"status_text", ""},
        {"message_progress", ""},   {"plan_progress", ""},
        {"elapsed_time", ""},       {"remaining_time", ""},
        {"plan_file_text", ""},     {"add_files", "添加文件…"},
        {"remove_message", "删除"}, {"move_up", "上移"},
        {"move_down", "下移"},      {"open_plan", "打开"},
        {"save_plan", "保存"},      {"save_plan_as", "另存为"},
        {"record_all", "全部录音"}, {"erase_first", "先擦除全部"},
        {"stop_recording", "停止"}, {"continue_from", "从这里继续"},
        {"verify", "校验"},         {"export_header", "头文件 .h"},
        {"export_csv", "CSV"},      {"export_json", "JSON"},
    };
    for (const auto& [name, caption] : rows)
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(caption);
}

void TestPlanWindow::namesCaptionsAndTitle() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    Rig rig;
    QCOMPARE(rig.window->windowTitle(), QStringLiteral("Tamberlo 录音计划"));
    QWidget* w = rig.window->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    if (caption.isEmpty()) {
        QCOMPARE(w->accessibleName(), name);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QCOMPARE(b->text(), caption);
    } else {
        QFAIL("a captioned control that is no button");
    }
}

void TestPlanWindow::portBoxToolTips() {
    Rig rig;
    auto* box = rig.find<QComboBox>("port_box");
    QCOMPARE(box->count(), 16);
    QCOMPARE(box->currentText(), QStringLiteral("1"));
    // A link of the runtime directory names port 3 (the simulator's way of being a port).
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QVERIFY(QDir(runtime.path()).mkpath("tamberlo"));
    QVERIFY(QFile::link(file("a.wav"), portLinkPath(3)));
    // The tips are made when they are looked at, as on the panel.
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), box->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(box, &help);
    for (int i : {0, 2, 15})
        QCOMPARE(box->itemData(i, Qt::ToolTipRole).toString(),
                 describePort(static_cast<std::int16_t>(i + 1)));
    QVERIFY2(box->itemData(2, Qt::ToolTipRole).toString().contains(portLinkPath(3)) ||
                 box->itemData(2, Qt::ToolTipRole).toString().contains(file("a.wav")),
             qPrintable(box->itemData(2, Qt::ToolTipRole).toString()));
    QCOMPARE(box->toolTip(), describePort(1));
    // A text that is no port number says why.
    box->setCurrentText("x");
    QApplication::sendEvent(box, &help);
    QString reason;
    QVERIFY(!parsePortNumber("x", &reason));
    QCOMPARE(box->toolTip(), reason);
    qputenv("XDG_RUNTIME_DIR", saved);
}

void TestPlanWindow::addsFilesAndLaysThemOut_data() {
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("starts");
    QTest::addColumn<QStringList>("ends");
    // 1000, 400 and 2000 ms with the default 700 ms margin.
    QTest::newRow("8 kHz") << "8000" << QStringList{"14", "9", "22"}
                           << QStringList{"0x010", "0x01E", "0x027"}
                           << QStringList{"0x01D", "0x026", "0x03C"};
    QTest::newRow("4 kHz") << "4000" << QStringList{"7", "5", "11"}
                           << QStringList{"0x010", "0x017", "0x01C"}
                           << QStringList{"0x016", "0x01B", "0x026"};
    QTest::newRow("12 kHz") << "12000" << QStringList{"21", "14", "33"}
                            << QStringList{"0x010", "0x025", "0x033"}
                            << QStringList{"0x024", "0x032", "0x053"};
}

void TestPlanWindow::addsFilesAndLaysThemOut() {
    QFETCH(QString, rate);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, starts);
    QFETCH(QStringList, ends);
    Rig rig;
    rig.player.lengths = {{"welcome.wav", 1000}, {"beep.wav", 400}, {"long.wav", 2000}};
    // Several files through one dialog.
    rig.dialogs.fileLists.push_back({file("welcome.wav"), file("beep.wav"), file("long.wav")});
    rig.click("add_files");
    QCOMPARE(rig.names(), (QStringList{"welcome", "beep", "long"}));
    // The rate chosen afterwards lays the same files out again at once.
    rig.find<QComboBox>("rate_box")->setCurrentText(rate);
    QCOMPARE(rig.cells(PlanTableModel::Number), (QStringList{"1", "2", "3"}));
    QCOMPARE(rig.cells(PlanTableModel::File), (QStringList{"welcome.wav", "beep.wav", "long.wav"}));
    QCOMPARE(rig.cells(PlanTableModel::Length), (QStringList{"1.00 s", "0.40 s", "2.00 s"}));
    QCOMPARE(rig.cells(PlanTableModel::Rows), rows);
    QCOMPARE(rig.cells(PlanTableModel::Start), starts);
    QCOMPARE(rig.cells(PlanTableModel::End), ends);
    QVERIFY(rig.window->layout().ok());
    // A cancelled dialog adds nothing.
    rig.click("add_files");
    QCOMPARE(rig.window->plan().messages.size(), 3);
}

void TestPlanWindow::buttonsAndDragMoveRows() {
    Rig rig;
    rig.player.fileLength = 500;
    rig.window->addFiles({file("a.wav"), file("b.wav"), file("c.wav")});
    auto* view = rig.find<QTableView>("messages");
    view->selectRow(0);
    QVERIFY(!rig.find<QPushButton>("move_up")->isEnabled());
    rig.click("move_down");
    QCOMPARE(rig.names(), (QStringList{"b", "a", "c"}));
    rig.click("move_down"); // the selection moved with the row
    QCOMPARE(rig.names(), (QStringList{"b", "c", "a"}));
    QVERIFY(!rig.find<QPushButton>("move_down")->isEnabled());
    rig.click("move_up");
    QCOMPARE(rig.names(), (QStringList{"b", "a", "c"}));
    rig.click("remove_message");
    QCOMPARE(rig.names(), (QStringList{"b", "c"}));

    // A drag of row 2 dropped on row 0 (what the view hands the model).
    rig.window->addFiles({file("a.wav")});
    PlanTableModel& model = rig.window->table();
    std::unique_ptr<QMimeData> data(model.mimeData({model.index(2, PlanTableModel::Number)}));
    QVERIFY(!model.dropMimeData(data.get(), Qt::MoveAction, -1, -1, model.index(0, 0)));
    QTRY_COMPARE(rig.names(), (QStringList{"a", "b", "c"}));
    QCOMPARE(rig.window->table().rowCount(), 3); // nothing removed by the view
}

void TestPlanWindow::renameAndDuplicateNames() {
    Rig rig;
    rig.player.fileLength = 500;
    rig.window->addFiles({file("a.wav"), file("a.wav")});
    // The second file of the same name gets a name of its own.
    QCOMPARE(rig.names(), (QStringList{"a", "a_2"}));
    QVERIFY(rig.window->layout().ok());
    PlanTableModel& model = rig.window->table();
    QVERIFY(!(model.flags(model.index(0, PlanTableModel::File)) & Qt::ItemIsEditable));
    QVERIFY(model.flags(model.index(0, PlanTableModel::Name)) & Qt::ItemIsEditable);
    QVERIFY(model.setData(model.index(1, PlanTableModel::Name), " door open ", Qt::EditRole));
    QTRY_COMPARE(rig.names(), (QStringList{"a", "door open"}));
    QCOMPARE(rig.window->layout().messages[1].identifier, QStringLiteral("DOOR_OPEN"));
    // A name already used is the engine's problem, and the window keeps it from recording.
    QVERIFY(model.setData(model.index(1, PlanTableModel::Name), "a", Qt::EditRole));
    QTRY_VERIFY(!rig.window->layout().ok());
    rig.click("record_all");
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QVERIFY(rig.boxes.boxes[0].text.contains("already used"));
    QCOMPARE(rig.port.openCalls, 0);
}

void TestPlanWindow::droppedFilesAreAdded() {
    Rig rig;
    rig.player.fileLength = 500;
    rig.window->show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file("a.wav")), QUrl::fromLocalFile(file("b.wav")),
                  QUrl::fromLocalFile(dir_.filePath("no-such.wav")),
                  QUrl(QStringLiteral("https://example.invalid/c.wav"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(rig.window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(rig.window.get(), &drop);
    QCOMPARE(rig.names(), (QStringList{"a", "b"}));
    // Files dropped on the table go before the row they land on.
    PlanTableModel& model = rig.window->table();
    QMimeData more;
    more.setUrls({QUrl::fromLocalFile(file("c.wav"))});
    QVERIFY(model.canDropMimeData(&more, Qt::CopyAction, -1, -1, model.index(1, 0)));
    model.dropMimeData(&more, Qt::CopyAction, -1, -1, model.index(1, 0));
    QTRY_COMPARE(rig.names(), (QStringList{"a", "c", "b"}));
}

namespace {
// The x of the middle of a row on the bar.
int xOfRow(const MemoryBar& bar, int row) {
    const double span = bar.lastRow() - bar.firstRow() + 1;
    return static_cast<int>((row - bar.firstRow() + 0.5) * (bar.width() - 1) / span);
}
} // namespace

void TestPlanWindow::memoryBarSegmentsAndFreeSpace() {
    Rig rig;
    rig.player.lengths = {{"a.wav", 1000}, {"b.wav", 400}};
    rig.window->addFiles({file("a.wav"), file("b.wav")});
    rig.window->show();
    MemoryBar& bar = rig.window->memoryBar();
    // Without a model the bar ends at the plan's last row.
    QCOMPARE(bar.lastRow(), 0x026);
    QCOMPARE(bar.missingRows(), 0);
    rig.find<QComboBox>("model_box")->setCurrentText("ISD1730");
    QCOMPARE(bar.firstRow(), 0x010);
    QCOMPARE(bar.lastRow(), 0x0FF);
    QCOMPARE(bar.messageAt(xOfRow(bar, 0x010)), 0);
    QCOMPARE(bar.messageAt(xOfRow(bar, 0x020)), 1);
    QCOMPARE(bar.messageAt(xOfRow(bar, 0x080)), -1);
    QCOMPARE(bar.toolTipAt(xOfRow(bar, 0x012)), QStringLiteral("1. a\n行 0x010–0x01D (14 行)"));
    QCOMPARE(bar.toolTipAt(xOfRow(bar, 0x080)), QStringLiteral("空闲：行 0x027–0x0FF (217 行)"));
    QCOMPARE(bar.segmentColor(0) == bar.segmentColor(1), false);
    auto* usage = rig.find<QLabel>("usage_text");
    QVERIFY2(usage->text().contains("23 / 240"), qPrintable(usage->text()));
}

void TestPlanWindow::memoryBarMarksOverflow() {
    Rig rig;
    rig.player.fileLength = 9000; // 78 rows each at 8 kHz with the margin
    rig.window->addFiles({file("a.wav"), file("b.wav"), file("c.wav")});
    rig.find<QComboBox>("model_box")->setCurrentText("ISD1720");
    rig.window->show();
    MemoryBar& bar = rig.window->memoryBar();
    // 234 rows from 0x010 end at 0x0F9; the ISD1720's last row is 0x0AF.
    QCOMPARE(bar.missingRows(), 0x0F9 - 0x0AF);
    QCOMPARE(bar.lastRow(), 0x0F9);
    QCOMPARE(bar.toolTipAt(bar.width() - 3), QStringLiteral("超出 ISD1720：缺 74 行"));
    QCOMPARE(bar.messageAt(bar.width() - 3), -1);
    QVERIFY(rig.find<QLabel>("usage_text")->text().contains("缺 74 行"));
    QVERIFY(!rig.window->layout().ok());
    // A bigger model and it fits.
    rig.find<QComboBox>("model_box")->setCurrentText("ISD1760");
    QCOMPARE(bar.missingRows(), 0);
    QVERIFY(rig.window->layout().ok());
}

void TestPlanWindow::savesAndOpensPlanFiles() {
    Rig rig;
    rig.player.lengths = {{"a.wav", 1000}, {"b.wav", 400}};
    rig.window->addFiles({file("a.wav"), file("b.wav")});
    rig.find<QComboBox>("model_box")->setCurrentText("ISD1740");
    rig.find<QComboBox>("rate_box")->setCurrentText("6400");
    // The files are to play on a USB card rather than on the default output.
    const QList<AudioOutput> outputs{{"builtin", QStringLiteral("Built-in Audio"), true},
                                     {"usb-card", QStringLiteral("USB Audio CODEC"), false}};
    AudioOutputBox& output = rig.window->outputBox();
    QCOMPARE(output.chosenId(), QByteArray()); // the default output at first
    output.setLister([&] { return outputs; });
    output.showPopup();
    output.hidePopup();
    QCOMPARE(output.count(), 3);
    output.setCurrentIndex(2);
    emit output.activated(2);
    QCOMPARE(rig.window->plan().output, QStringLiteral("usb-card"));
    QDir(dir_.path()).mkdir("plans");
    // "Save" without a file asks for one; the suffix is added.
    rig.dialogs.files.push_back(dir_.filePath("plans/door"));
    rig.click("save_plan");
    const QString saved = dir_.filePath("plans/door.json");
    QCOMPARE(rig.window->planPath(), saved);
    QFile f(saved);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(json.value("model").toString(), QStringLiteral("ISD1740"));
    QCOMPARE(json.value("sample_rate").toInt(), 6400);
    QCOMPARE(json.value("output").toString(), QStringLiteral("usb-card"));
    QCOMPARE(json.value("messages").toArray().at(0).toObject().value("file").toString(),
             QStringLiteral("../a.wav"));

    Rig other;
    other.player.lengths = rig.player.lengths;
    other.dialogs.files.push_back(saved);
    other.click("open_plan");
    QCOMPARE(other.names(), rig.names());
    QCOMPARE(other.find<QComboBox>("model_box")->currentText(), QStringLiteral("ISD1740"));
    QCOMPARE(other.find<QComboBox>("rate_box")->currentText(), QStringLiteral("6400"));
    QCOMPARE(other.window->plan().output, QStringLiteral("usb-card"));
    QCOMPARE(other.window->outputBox().chosenId(), QByteArray("usb-card"));
    // Back to the default output: the plan names none.
    other.window->outputBox().setCurrentIndex(0);
    emit other.window->outputBox().activated(0);
    QVERIFY(other.window->savePlanFile(saved));
    f.close();
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(!QJsonDocument::fromJson(f.readAll()).object().contains("output"));
    QCOMPARE(other.cells(PlanTableModel::End), rig.cells(PlanTableModel::End));

    // A file that is no plan is refused with the engine's reason.
    QFile bad(dir_.filePath("bad.json"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("{\"messages\": 3}");
    bad.close();
    QVERIFY(!other.window->openPlanFile(bad.fileName()));
    QCOMPARE(other.boxes.boxes.size(), 1);
    QVERIFY(other.boxes.boxes[0].text.contains("bad.json"));
    QCOMPARE(other.names(), rig.names()); // the open plan stays
}

void TestPlanWindow::exportsTheAddressTable_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("suggested");
    QTest::newRow("header") << "export_header"
                            << "h"
                            << "door.h";
    QTest::newRow("csv") << "export_csv"
                         << "csv"
                         << "door.csv";
    QTest::newRow("json") << "export_json"
                          << "json"
                          << "door.json";
}

void TestPlanWindow::exportsTheAddressTable() {
    QFETCH(QString, button);
    QFETCH(QString, format);
    QFETCH(QString, suggested);
    Rig rig;
    rig.player.lengths = {{"a.wav", 1000}, {"b.wav", 400}};
    rig.window->addFiles({file("a.wav"), file("b.wav")});
    QVERIFY(rig.window->savePlanFile(file("door.json")));
    const QString out = file("out." + format);
    rig.dialogs.files.push_back(out);
    rig.click(button.toLatin1().constData());
    QCOMPARE(rig.dialogs.suggestions.value(0), file(suggested));
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), plan::exportLayout(rig.window->layout(), *plan::exportFormat(format),
                                             QStringLiteral("door.json")));
    QVERIFY(rig.boxes.boxes.isEmpty());

    // A plan with a file the player cannot measure is not exported.
    rig.player.lengths.insert("c.wav", 0);
    rig.window->addFiles({file("c.wav")});
    rig.dialogs.files.push_back(file("refused." + format));
    rig.click(button.toLatin1().constData());
    QVERIFY(!QFile::exists(file("refused." + format)));
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QVERIFY(rig.boxes.boxes[0].text.contains("c.wav"));
    QCOMPARE(rig.cells(PlanTableModel::Length).value(2), QStringLiteral("无法播放"));
}

void TestPlanWindow::refusesToRecordWhatCannotBe() {
    Rig rig;
    rig.player.fileLength = 500;
    QVERIFY(!rig.find<QPushButton>("record_all")->isEnabled()); // nothing to record yet
    rig.window->addFiles({file("a.wav")});
    // "Erase first" asks, and "no" sends nothing.
    rig.find<QCheckBox>("erase_first")->setChecked(true);
    rig.dialogs.answers.push_back(false);
    rig.click("record_all");
    QCOMPARE(rig.dialogs.questions.size(), 1);
    QCOMPARE(rig.port.openCalls, 0);
    QVERIFY(!rig.window->isRunning());
    // A port that does not open is said so, and nothing runs.
    rig.port.failOpenWith = QStringLiteral("no device behind port 7");
    rig.find<QComboBox>("port_box")->setCurrentText("7");
    rig.dialogs.answers.push_back(true);
    rig.click("record_all");
    QCOMPARE(rig.port.portNumber(), 7);
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QVERIFY(rig.boxes.boxes[0].text.contains("no device behind port 7"));
    QVERIFY(!rig.window->isRunning());
    // So is a port box that holds no port number.
    rig.find<QComboBox>("port_box")->setCurrentText("COM");
    rig.click("verify");
    QCOMPARE(rig.boxes.boxes.size(), 2);
    QCOMPARE(rig.boxes.boxes[1].title, QStringLiteral("串口状态"));
    QCOMPARE(rig.port.openCalls, 1);
}

QTEST_MAIN(TestPlanWindow)
#include "tst_plan_window.moc"
