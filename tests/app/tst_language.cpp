// The panel's two languages: which one the locale picks, that English leaves no Chinese in
// the panel or the plan window or in any message, that Qt's own dialogs follow, and that
// every caption fits both windows in both.
#include "link/QtSerialPort.h"
#include "link/Transmitter.h"
#include "panel/Form1.h"
#include "panel/Language.h"
#include "planwin/MemoryBar.h"
#include "planwin/PlanWindow.h"
#include "planwin/PlanWindowFakes.h"
#include "support/Fakes.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <cstdio>
#include <functional>

Q_DECLARE_METATYPE(tamberlo::PanelLanguage)

using namespace tamberlo;
using namespace tamberlo::test;

namespace {

// Han characters, CJK punctuation and full-width forms: what the English panel must not show.
bool hasChinese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) ||
            (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

QString languageName(PanelLanguage language) {
    return language == PanelLanguage::Chinese ? QStringLiteral("Chinese")
                                              : QStringLiteral("English");
}

// Every text a window shows: captions, titles, box texts, list items, table cells and
// headers, tool tips.
QStringList visibleTexts(const QWidget* window) {
    QStringList all{window->windowTitle(), window->toolTip()};
    const auto widgets = window->findChildren<QWidget*>();
    for (const QWidget* w : widgets) {
        all << w->toolTip() << w->windowTitle() << w->accessibleName();
        if (auto* b = qobject_cast<const QAbstractButton*>(w))
            all << b->text();
        else if (auto* l = qobject_cast<const QLabel*>(w))
            all << l->text();
        else if (auto* g = qobject_cast<const QGroupBox*>(w))
            all << g->title();
        else if (auto* e = qobject_cast<const QLineEdit*>(w))
            all << e->text() << e->placeholderText();
        if (auto* c = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                all << c->itemText(i) << c->itemData(i, Qt::ToolTipRole).toString();
        if (auto* v = qobject_cast<const QAbstractItemView*>(w); v && v->model()) {
            const QAbstractItemModel* m = v->model();
            for (int c = 0; c < m->columnCount(); ++c)
                all << m->headerData(c, Qt::Horizontal).toString()
                    << m->headerData(c, Qt::Horizontal, Qt::ToolTipRole).toString();
            for (int r = 0; r < m->rowCount(); ++r)
                for (int c = 0; c < m->columnCount(); ++c)
                    all << m->index(r, c).data().toString()
                        << m->index(r, c).data(Qt::ToolTipRole).toString();
        }
        if (auto* bar = qobject_cast<const planwin::MemoryBar*>(w))
            for (int x = 0; x < bar->width(); x += 4)
                all << bar->toolTipAt(x);
    }
    return all;
}

struct Panel {
    FakeSerialPort port;
    FakeAudioPlayer player;
    FakeMessageBoxes boxes;
    FakeFileDialog dialog;
    std::unique_ptr<Form1> form;
    Panel() { form = std::make_unique<Form1>(Form1::Platform{&port, &player, &boxes, &dialog}); }
    template <typename T> T* get(const char* name) {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void click(const char* name) { get<QPushButton>(name)->click(); }
    void drain() {
        for (int i = 0; i < 10 && form->transmitter().isSending(); ++i)
            form->transmitter().tick();
    }
    void hoverPortBox() {
        auto* combo = get<QComboBox>("Combo1");
        QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), combo->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(combo, &hover);
    }
    QStringList texts() const {
        QStringList all = visibleTexts(form.get());
        for (const FakeMessageBoxes::Box& box : boxes.boxes)
            all << box.text << box.title;
        all << dialog.lastTitle << dialog.lastFilters;
        return all;
    }
};

// The plan window on fakes, with a few files to plan.
struct PlanRig {
    FakeSerialPort port;
    LengthsPlayer player;
    FakeMessageBoxes boxes;
    FakePlanDialogs dialogs;
    QTemporaryDir dir;
    std::unique_ptr<planwin::PlanWindow> window;
    PlanRig() {
        window = std::make_unique<planwin::PlanWindow>(
            planwin::PlanWindow::Platform{&port, &player, nullptr, &boxes, &dialogs});
    }
    template <typename T> T* get(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void click(const char* name) { get<QPushButton>(name)->click(); }
    // Files of these lengths (ms; 0: one the player cannot measure), added to the plan.
    void addFiles(const QList<int>& lengths) {
        QStringList files;
        for (const int ms : lengths) {
            files << dir.filePath(QStringLiteral("prompt%1.wav").arg(files.size() + 1));
            QFile f(files.last());
            if (!f.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(files.last()));
            player.lengths.insert(QFileInfo(f).fileName(), ms);
        }
        window->addFiles(files);
    }
    QStringList texts() const {
        QStringList all = visibleTexts(window.get());
        for (const FakeMessageBoxes::Box& box : boxes.boxes)
            all << box.text << box.title;
        return all << dialogs.titles << dialogs.questions;
    }
};

// Why a caption does not fit its widget as laid out, or nothing.
QString clipped(const QWidget* w) {
    QString text;
    QRect room;
    int flags = Qt::TextShowMnemonic;
    QFont font = w->font();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = text = b->text();
        const QStyle::SubElement contents =
            qobject_cast<const QCheckBox*>(w)      ? QStyle::SE_CheckBoxContents
            : qobject_cast<const QRadioButton*>(w) ? QStyle::SE_RadioButtonContents
                                                   : QStyle::SE_PushButtonContents;
        room = b->style()->subElementRect(contents, &opt, b);
    } else if (auto* l = qobject_cast<const QLabel*>(w)) {
        text = l->text();
        const int m = l->margin();
        room = l->contentsRect().marginsRemoved(QMargins(m, m, m, m));
        flags = int(l->alignment()) | (l->wordWrap() ? Qt::TextWordWrap : 0);
    } else if (auto* g = qobject_cast<const QGroupBox*>(w)) {
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = text = g->title();
        opt.textAlignment = g->alignment();
        opt.lineWidth = 1;
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect label =
            g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        room = QRect(label.left(), 0, g->width() - label.left(), g->height());
        font.setBold(true); // some styles draw the title bold: the wider one has to fit
    } else if (auto* c = qobject_cast<const QComboBox*>(w); c && !c->isEditable()) {
        // A list box must show its longest entry whole ("ISD17240", not "ISD17").
        const int need = c->sizeHint().width();
        if (c->isVisibleTo(c->window()) && c->width() < need)
            return QStringLiteral("list needs width %1, has %2").arg(need).arg(c->width());
        return {};
    }
    if (text.isEmpty() || !w->isVisibleTo(w->window()))
        return {};
    const QRect need = QFontMetrics(font).boundingRect(room, flags, text);
    if (room.left() >= 0 && need.width() <= room.width() && need.height() <= room.height())
        return {};
    return QStringLiteral("\"%1\" needs %2x%3, has %4x%5 at x=%6")
        .arg(text)
        .arg(need.width())
        .arg(need.height())
        .arg(room.width())
        .arg(room.height())
        .arg(room.left());
}

} // namespace

class TestLanguage : public QObject {
    Q_OBJECT

private slots:
    // The language the program picks from the environment it is started in, as Qt reads it.
    void localePicksLanguage_data() {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("language");
        const QString zh = languageName(PanelLanguage::Chinese);
        const QString en = languageName(PanelLanguage::English);
        QTest::newRow("nothing set") << QStringList{} << zh;
        QTest::newRow("C") << QStringList{"LANG=C"} << zh;
        QTest::newRow("C.UTF-8") << QStringList{"LANG=C.UTF-8"} << zh;
        QTest::newRow("POSIX") << QStringList{"LC_ALL=POSIX"} << zh;
        QTest::newRow("zh_CN") << QStringList{"LANG=zh_CN.UTF-8"} << zh;
        QTest::newRow("zh_TW") << QStringList{"LANG=zh_TW.UTF-8"} << zh;
        QTest::newRow("en_US") << QStringList{"LANG=en_US.UTF-8"} << en;
        QTest::newRow("de_DE") << QStringList{"LANG=de_DE.UTF-8"} << en;
        QTest::newRow("LANGUAGE=en over zh")
            << QStringList{"LANGUAGE=en", "LANG=zh_CN.UTF-8"} << en;
        QTest::newRow("LANGUAGE=en in C") << QStringList{"LANGUAGE=en", "LANG=C"} << en;
        QTest::newRow("LANGUAGE=zh_CN over en")
            << QStringList{"LANGUAGE=zh_CN", "LANG=en_US.UTF-8"} << zh;
        QTest::newRow("LC_ALL over LANG")
            << QStringList{"LC_ALL=de_DE.UTF-8", "LANG=zh_CN.UTF-8"} << en;
        QTest::newRow("LC_MESSAGES over LANG")
            << QStringList{"LC_MESSAGES=zh_CN.UTF-8", "LANG=en_US.UTF-8"} << zh;
        QTest::newRow("French, then Chinese")
            << QStringList{"LANGUAGE=fr:zh_CN", "LANG=fr_FR.UTF-8"} << zh;
        QTest::newRow("French, then English")
            << QStringList{"LANGUAGE=fr:en", "LANG=zh_CN.UTF-8"} << en;
    }
    void localePicksLanguage() {
        QFETCH(QStringList, environment);
        QFETCH(QString, language);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : env.keys())
            if (name == QLatin1String("LANGUAGE") || name == QLatin1String("LANG") ||
                name.startsWith(QLatin1String("LC_")))
                env.remove(name);
        env.insert(QStringLiteral("TAMBERLO_REPORT_LANGUAGE"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const QString& setting : environment)
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(QString::fromLatin1(child.readAllStandardOutput()).trimmed(), language);
    }

    // With the English catalogue loaded, nothing the panel can show is Chinese: the window
    // and every message, driven through the paths that produce them.
    void englishLeavesNoChinese() {
        const Translations english(PanelLanguage::English);
        QVERIFY(english.panelLoaded());

        QTemporaryDir runtime;
        QVERIFY(QDir().mkpath(runtime.filePath("tamberlo")));
        QVERIFY(QFile::link("/dev/null", runtime.filePath("tamberlo/port3")));
        QVERIFY(QFile::link(runtime.filePath("gone"), runtime.filePath("tamberlo/port4")));
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

        struct Path {
            const char* name;
            int boxes; // the boxes the path ends in
            std::function<void(Panel&)> drive;
        };
        const QList<Path> paths{
            {"as started", 0, [](Panel&) {}},
            {"port tool tips", 0,
             [](Panel& p) {
                 for (const char* text : {"1", "0", "x", "70000", "3", "4", "99"}) {
                     p.get<QComboBox>("Combo1")->setCurrentText(QString::fromLatin1(text));
                     p.hoverPortBox();
                 }
             }},
            {"port opened", 0, [](Panel& p) { p.click("Command16"); }},
            {"port not open", 1, [](Panel& p) { p.click("play"); }},
            {"port number invalid", 1,
             [](Panel& p) {
                 p.get<QComboBox>("Combo1")->setCurrentText(QStringLiteral("x"));
                 p.click("Command16");
             }},
            {"port fails to open", 1,
             [](Panel& p) {
                 p.port.failOpenWith = QStringLiteral("/dev/ttyUSB0: Permission denied");
                 p.port.failOpenKind = OpenFailure::AccessDenied;
                 p.click("Command16");
             }},
            {"port lost", 1,
             [](Panel& p) {
                 p.click("Command16");
                 p.port.raise(CommEvent::DeviceLost);
             }},
            {"address too short", 1,
             [](Panel& p) {
                 p.get<QLineEdit>("St_Play_Text")->setText(QStringLiteral("00 1"));
                 p.click("set_play_addr");
             }},
            {"device ID, known and unknown", 2,
             [](Panel& p) {
                 p.click("Command16");
                 for (const char* id : {"\x00\x00\x90", "\x00\x00\x00"}) {
                     p.click("devid_id");
                     p.drain();
                     p.port.inject(QByteArray(id, 3));
                 }
             }},
            {"range reply", 1,
             [](Panel& p) {
                 p.click("Command16");
                 p.click("set_play_addr");
                 p.drain();
                 p.port.inject(QByteArray("\x00\x00\x10\x00\x20", 5));
             }},
            {"recording still running", 1,
             [](Panel& p) {
                 p.player.fileLength = 10000;
                 p.dialog.answers.push_back(QStringLiteral("/tmp/ten-seconds.wav"));
                 p.click("open_file");
                 p.click("Command16");
                 p.click("rec");
                 p.drain();
                 p.click("set_rec_addr");
                 p.drain();
                 p.port.inject(QByteArray("\x00\x00\x10\x00\x20", 5));
             }},
            {"no file chosen", 1, [](Panel& p) { p.click("open_file"); }},
            {"file will not open", 1,
             [](Panel& p) {
                 p.player.openError = QStringLiteral("Could not open resource");
                 p.dialog.answers.push_back(QStringLiteral("/tmp/broken.mp3"));
                 p.click("open_file");
             }},
            {"file without length", 1,
             [](Panel& p) {
                 p.dialog.answers.push_back(QStringLiteral("/tmp/empty.wav"));
                 p.click("open_file");
             }},
        };
        for (const Path& path : paths) {
            Panel p;
            path.drive(p);
            // Reply actions run once the port's notification has returned.
            QCoreApplication::processEvents();
            const QString name = QString::fromLatin1(path.name);
            QVERIFY2(p.boxes.boxes.size() == path.boxes, qPrintable(name));
            for (const QString& text : p.texts())
                QVERIFY2(!hasChinese(text), qPrintable(name + ": " + text));
        }

        // The plan window, through the paths that show its texts and messages.
        struct PlanPath {
            const char* name;
            int boxes;
            std::function<void(PlanRig&)> drive;
        };
        const QList<PlanPath> planPaths{
            {"plan: as started", 0, [](PlanRig&) {}},
            {"plan: files, one unplayable, model chosen", 0,
             [](PlanRig& p) {
                 p.addFiles({1200, 0, 2500});
                 p.get<QComboBox>("model_box")->setCurrentText(QStringLiteral("ISD1730"));
                 p.window->renameMessage(0, QStringLiteral("door open"));
             }},
            {"plan: over the chip, export refused", 1,
             [](PlanRig& p) {
                 p.addFiles({9000, 9000, 9000});
                 p.get<QComboBox>("model_box")->setCurrentText(QStringLiteral("ISD1720"));
                 p.dialogs.files.push_back(p.dir.filePath(QStringLiteral("plan.h")));
                 p.click("export_header");
             }},
            {"plan: nothing to record", 1, [](PlanRig& p) { p.window->recordAll(); }},
            {"plan: erase asked, port number invalid", 1,
             [](PlanRig& p) {
                 p.addFiles({500});
                 p.get<QCheckBox>("erase_first")->setChecked(true);
                 p.get<QComboBox>("port_box")->setCurrentText(QStringLiteral("x"));
                 p.dialogs.answers.push_back(true);
                 p.click("record_all");
             }},
            {"plan: port fails to open", 1,
             [](PlanRig& p) {
                 p.addFiles({500});
                 p.port.failOpenWith = QStringLiteral("/dev/ttyUSB0: Permission denied");
                 p.click("verify");
             }},
            {"plan: dialogs, a plan that will not open", 1,
             [](PlanRig& p) {
                 p.click("add_files");
                 p.dialogs.files.push_back(p.dir.filePath(QStringLiteral("none.json")));
                 p.click("open_plan");
             }},
        };
        for (const PlanPath& path : planPaths) {
            PlanRig p;
            path.drive(p);
            const QString name = QString::fromLatin1(path.name);
            QVERIFY2(p.boxes.boxes.size() == path.boxes, qPrintable(name));
            for (const QString& text : p.texts())
                QVERIFY2(!hasChinese(text), qPrintable(name + ": " + text));
        }

        // The serial adapter's own reasons, which reach the operator inside the boxes above.
        // (The media player's are left to the catalogue check below: loading GStreamer for
        // them is not worth it.)
        QStringList reasons;
        QtSerialPort serial;
        for (const std::int16_t number : {3, 4, 99}) {
            serial.setPortNumber(number);
            QVERIFY(!serial.open());
            reasons << serial.errorText();
        }
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        for (const QString& reason : reasons) {
            QVERIFY(!reason.isEmpty());
            QVERIFY2(!hasChinese(reason), qPrintable(reason));
        }
    }

    // Every translatable text in the sources has a finished English translation without
    // Chinese, and no Chinese text in the code escapes translation. This covers the
    // messages no test can provoke cheaply (a port held by another program, a media file
    // that times out while loading).
    void catalogueCoversTheSources() {
        QMultiHash<QString, QString> english; // source text -> translation
        QFile ts(QStringLiteral(TAMBERLO_SOURCE_DIR "/translations/tamberlo_en.ts"));
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&ts);
        QString source;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                const QString type = xml.attributes().value(QLatin1String("type")).toString();
                const QString text = xml.readElementText();
                QVERIFY2(type.isEmpty(), qPrintable(source + " is " + type));
                QVERIFY2(!text.isEmpty() && !hasChinese(text), qPrintable(source));
                english.insert(source, text);
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(english.size() > 50);

        int found = 0;
        QDirIterator files(QStringLiteral(TAMBERLO_SOURCE_DIR "/src"),
                           {QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.ui")},
                           QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString code = QString::fromUtf8(file.readAll());
            const auto literals =
                path.endsWith(QLatin1String(".ui")) ? uiTexts(code) : chineseLiterals(code);
            for (const auto& [text, wrapped] : literals) {
                ++found;
                const QString where = QStringLiteral("%1: %2").arg(path, text);
                QVERIFY2(wrapped, qPrintable(where + " is not translated"));
                QVERIFY2(english.contains(text), qPrintable(where + " is not in the catalogue"));
            }
        }
        QVERIFY(found >= english.size()); // the scan saw the texts at all
    }

    // Qt's own texts follow the panel: "OK" and "Cancel" of a message box, the file dialog,
    // the serial port's reasons.
    void qtDialogsFollow_data() {
        QTest::addColumn<PanelLanguage>("language");
        QTest::addColumn<QString>("ok");
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<QString>("fileDialogOpen");
        QTest::addColumn<QString>("portLocked");
        QTest::newRow("Chinese") << PanelLanguage::Chinese << QStringLiteral("确定")
                                 << QStringLiteral("取消") << QStringLiteral("打开(&O)")
                                 << QStringLiteral("锁定设备时出现权限错误");
        QTest::newRow("English") << PanelLanguage::English << QStringLiteral("OK")
                                 << QStringLiteral("Cancel") << QStringLiteral("&Open")
                                 << QStringLiteral("Permission error while locking the device");
    }
    void qtDialogsFollow() {
        QFETCH(PanelLanguage, language);
        QFETCH(QString, ok);
        QFETCH(QString, cancel);
        QFETCH(QString, fileDialogOpen);
        QFETCH(QString, portLocked);
        const Translations translations(language);
        QVERIFY2(translations.qtLoaded(), "Qt's translations (qt6-translations-l10n) are missing");
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), ok);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), cancel);
        QCOMPARE(QCoreApplication::translate("QFileDialog", "&Open"), fileDialogOpen);
        QCOMPARE(
            QCoreApplication::translate("QSerialPort", "Permission error while locking the device"),
            portLocked);
    }

    // No caption is clipped at the panel's fixed size, in either language, in either state
    // of the port button; nor in the plan window at its opening size, table headers included.
    void captionsFit_data() {
        QTest::addColumn<PanelLanguage>("language");
        QTest::addColumn<QString>("window"); // panel, panel with the port open, plan
        for (const PanelLanguage language : {PanelLanguage::Chinese, PanelLanguage::English}) {
            const QString name = languageName(language);
            QTest::addRow("%s", qPrintable(name)) << language << QStringLiteral("panel");
            QTest::addRow("%s, port open", qPrintable(name)) << language << QStringLiteral("open");
            QTest::addRow("%s, plan window", qPrintable(name))
                << language << QStringLiteral("plan");
        }
    }
    void captionsFit() {
        QFETCH(PanelLanguage, language);
        QFETCH(QString, window);
        const Translations translations(language);
        Panel p;
        PlanRig plan;
        QWidget* shown = p.form.get();
        QStringList problems;
        if (window == QLatin1String("open"))
            p.click("Command16");
        if (window == QLatin1String("plan")) {
            plan.addFiles({1200, 0, 2500});
            shown = plan.window.get();
        }
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        if (window == QLatin1String("plan")) {
            QCOMPARE(shown->size(), QSize(1000, 680));
            const auto* header = plan.window->findChild<QTableView*>()->horizontalHeader();
            for (int c = 0; c < header->count(); ++c) {
                const QString text = header->model()->headerData(c, Qt::Horizontal).toString();
                const int need = header->fontMetrics().horizontalAdvance(text);
                if (header->sectionSize(c) < need)
                    problems << QStringLiteral("header \"%1\" needs %2, has %3")
                                    .arg(text)
                                    .arg(need)
                                    .arg(header->sectionSize(c));
            }
        } else {
            QCOMPARE(shown->size(), QSize(469, 453));
        }
        int checked = 0;
        const auto widgets = shown->findChildren<QWidget*>();
        for (const QWidget* w : widgets) {
            if (const QString problem = clipped(w); !problem.isEmpty())
                problems << w->objectName() + ": " + problem;
            checked += qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLabel*>(w) ||
                       qobject_cast<const QGroupBox*>(w);
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
        QVERIFY(checked >= (window == QLatin1String("plan") ? 25 : 30));
    }

private:
    using Literal = std::pair<QString, bool>; // text, inside a translation call

    // The Chinese string literals of C++ code (adjacent literals joined), each with whether
    // it is the text argument of tr(), QCoreApplication::translate() or QT_TR_NOOP.
    static QList<Literal> chineseLiterals(const QString& code) {
        QList<Literal> out;
        QString before; // the code so far, without comments and literals' contents
        qsizetype i = 0;
        const qsizetype n = code.size();
        static const QRegularExpression call(
            QStringLiteral("(\\btr|\\bQT_TR_NOOP|\\btranslate\\(\\s*\"[^\"]*\"\\s*,|"
                           "\\bQT_TRANSLATE_NOOP\\(\\s*\"[^\"]*\"\\s*,)\\s*\\(?\\s*$"));
        while (i < n) {
            if (code.mid(i, 2) == QLatin1String("//")) {
                i = code.indexOf(u'\n', i);
                if (i < 0)
                    break;
            } else if (code.mid(i, 2) == QLatin1String("/*")) {
                i = code.indexOf(QLatin1String("*/"), i + 2);
                if (i < 0)
                    break;
                i += 2;
            } else if (code[i] == u'\'') {
                const qsizetype end = code.indexOf(u'\'', i + (code[i + 1] == u'\\' ? 3 : 2));
                before += code.mid(i, end + 1 - i);
                i = end + 1;
            } else if (code[i] == u'"') {
                QString text;
                // One literal, or several joined by white space only.
                for (;;) {
                    ++i;
                    while (i < n && code[i] != u'"') {
                        if (code[i] == u'\\' && i + 1 < n) {
                            const QChar e = code[i + 1];
                            text += e == u'n' ? QChar(u'\n') : e == u't' ? QChar(u'\t') : e;
                            i += 2;
                        } else {
                            text += code[i++];
                        }
                    }
                    ++i;
                    qsizetype next = i;
                    while (next < n && code[next].isSpace())
                        ++next;
                    if (next < n && code[next] == u'"')
                        i = next;
                    else
                        break;
                }
                if (hasChinese(text))
                    out.append({text, call.match(before.right(120)).hasMatch()});
                before += QStringLiteral("\"\"");
            } else {
                before += code[i++];
            }
        }
        return out;
    }

    // The texts uic wraps in translate(): every <string> of a form not marked notr.
    static QList<Literal> uiTexts(const QString& form) {
        QList<Literal> out;
        static const QRegularExpression string(QStringLiteral("<string>([^<]+)</string>"));
        for (const QRegularExpressionMatch& m : string.globalMatch(form)) {
            QString text = m.captured(1);
            text.replace(QLatin1String("&lt;"), QLatin1String("<"))
                .replace(QLatin1String("&gt;"), QLatin1String(">"))
                .replace(QLatin1String("&amp;"), QLatin1String("&"));
            out.append({text, true});
        }
        return out;
    }
};

// Run with TAMBERLO_REPORT_LANGUAGE set, the program only says which language the panel
// would pick in its environment (the first test starts it so).
int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsSet("TAMBERLO_REPORT_LANGUAGE")) {
        QCoreApplication app(argc, argv);
        std::printf("%s\n", qPrintable(languageName(systemPanelLanguage())));
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamberlo"));
    TestLanguage test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_language.moc"
