// The plan being edited, without a window: files added with unique names, rows moved and
// removed, files re-measured when they change on disk, plan files saved with names
// relative to their folder and read back, and the model learnt from the chip.
#include "PlanFakes.h"
#include "plan/PlanDocument.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using namespace tamberlo::plan;

class TestPlanDocument : public QObject {
    Q_OBJECT
private slots:
    void init();
    void uniqueNames_data();
    void uniqueNames();
    void movesAndRemoves_data();
    void movesAndRemoves();
    void remeasuresChangedFiles_data();
    void remeasuresChangedFiles();
    void savesRelativeAndReadsBack_data();
    void savesRelativeAndReadsBack();
    void learnsTheModel_data();
    void learnsTheModel();

private:
    QString file(const QString& name) const { return dir_.filePath(name); }
    void makeFiles(const QStringList& names);
    QStringList names(const PlanDocument& doc) const;
    QStringList starts(const PlanDocument& doc) const;
    QTemporaryDir dir_;
};

void TestPlanDocument::init() {
    QVERIFY(dir_.isValid());
    makeFiles({"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
}

void TestPlanDocument::makeFiles(const QStringList& names) {
    for (const QString& n : names) {
        QVERIFY(QDir(dir_.path()).mkpath(QFileInfo(file(n)).absolutePath()));
        QFile f(file(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF");
    }
}

QStringList TestPlanDocument::names(const PlanDocument& doc) const {
    QStringList n;
    for (const PlanMessage& m : doc.plan().messages)
        n << m.name;
    return n;
}

QStringList TestPlanDocument::starts(const PlanDocument& doc) const {
    QStringList s;
    for (const PlacedMessage& m : doc.layout().messages)
        s << rowText(m.start);
    return s;
}

void TestPlanDocument::uniqueNames_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("all different") << QStringList{"a.wav", "b.wav"} << QStringList{"a", "b"};
    QTest::newRow("the same file twice")
        << QStringList{"a.wav", "a.wav"} << QStringList{"a", "a_2"};
    QTest::newRow("three times") << QStringList{"a.wav", "a.wav", "a.wav"}
                                 << QStringList{"a", "a_2", "a_3"};
    QTest::newRow("same name, other folder")
        << QStringList{"a.wav", "sub/a.wav", "b.wav"} << QStringList{"a", "a_2", "b"};
    QTest::newRow("a name like a made one")
        << QStringList{"a_2.wav", "a.wav", "a.wav"} << QStringList{"a_2", "a", "a_3"};
}

void TestPlanDocument::uniqueNames() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, names);
    makeFiles({"sub/a.wav", "a_2.wav"});
    test::LengthsPlayer player;
    player.fileLength = 500;
    PlanDocument doc(&player);
    QSignalSpy changed(&doc, &PlanDocument::changed);
    QStringList paths;
    for (const QString& f : files)
        paths << file(f);
    // Added one by one and all at once, the names come out the same.
    QCOMPARE(doc.addFiles(paths.mid(0, 1)), QList<int>{0});
    const QList<int> rows = doc.addFiles(paths.mid(1));
    QCOMPARE(rows.size(), files.size() - 1);
    QCOMPARE(this->names(doc), names);
    QCOMPARE(changed.count(), 2);
    QVERIFY(doc.layout().ok());
    // Kept by absolute path until the plan is saved.
    QCOMPARE(doc.plan().messages.last().file, QDir::cleanPath(paths.last()));
    // A rename keeps the name as typed, without the blanks around it.
    QVERIFY(doc.renameMessage(0, "  door open "));
    QCOMPARE(doc.plan().messages[0].name, QStringLiteral("door open"));
    QCOMPARE(doc.layout().messages[0].identifier, QStringLiteral("DOOR_OPEN"));
    QVERIFY(!doc.renameMessage(files.size(), "past the end"));
}

void TestPlanDocument::movesAndRemoves_data() {
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<int>("before");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("first to the end") << QList<int>{0} << 5 << QStringList{"b", "c", "d", "e", "a"};
    QTest::newRow("last to the top") << QList<int>{4} << 0 << QStringList{"e", "a", "b", "c", "d"};
    QTest::newRow("two apart down")
        << QList<int>{0, 2} << 4 << QStringList{"b", "d", "a", "c", "e"};
    QTest::newRow("onto itself") << QList<int>{2} << 2 << QStringList{"a", "b", "c", "d", "e"};
    QTest::newRow("unsorted rows") << QList<int>{3, 1} << 0 << QStringList{"b", "d", "a", "c", "e"};
    QTest::newRow("past the end") << QList<int>{1} << 99 << QStringList{"a", "c", "d", "e", "b"};
}

void TestPlanDocument::movesAndRemoves() {
    QFETCH(QList<int>, rows);
    QFETCH(int, before);
    QFETCH(QStringList, order);
    test::LengthsPlayer player;
    player.fileLength = 500;
    PlanDocument doc(&player);
    doc.addFiles({file("a.wav"), file("b.wav"), file("c.wav"), file("d.wav"), file("e.wav")});
    const QList<int> moved = doc.moveRows(rows, before);
    QCOMPARE(names(doc), order);
    // The rows returned hold the moved messages, in their order.
    std::sort(rows.begin(), rows.end());
    QStringList movedNames;
    QStringList wanted;
    for (int i = 0; i < rows.size(); ++i) {
        movedNames << order.value(moved.value(i, -1));
        wanted << QStringList{"a", "b", "c", "d", "e"}[rows[i]];
    }
    QCOMPARE(movedNames, wanted);
    // Addresses follow the new order: 500 ms and the margin are 10 rows, one message after
    // the other.
    QCOMPARE(starts(doc), (QStringList{"0x010", "0x01A", "0x024", "0x02E", "0x038"}));
    QCOMPARE(doc.layout().messages[0].name, order[0]);
    // Removing the moved rows leaves the others in order, laid out again.
    doc.removeRows({0, 4});
    QCOMPARE(names(doc), order.mid(1, 3));
    QCOMPARE(starts(doc), (QStringList{"0x010", "0x01A", "0x024"}));
}

void TestPlanDocument::remeasuresChangedFiles_data() {
    QTest::addColumn<QString>("change"); // what happens to beep.wav on disk
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<QString>("problem"); // beep.wav's, when it has no length
    // The player now says 1500 ms for beep.wav and 9999 for welcome.wav.
    QTest::newRow("grown") << "append" << QList<int>{1000, 1500, 2000} << "";
    QTest::newRow("untouched") << "none" << QList<int>{1000, 400, 2000} << "";
    QTest::newRow("removed") << "remove" << QList<int>{1000, -1, 2000} << "no such file";
}

void TestPlanDocument::remeasuresChangedFiles() {
    QFETCH(QString, change);
    QFETCH(QList<int>, lengths);
    QFETCH(QString, problem);
    makeFiles({"welcome.wav", "beep.wav", "long.wav"});
    test::LengthsPlayer player;
    player.lengths = {{"welcome.wav", 1000}, {"beep.wav", 400}, {"long.wav", 2000}};
    PlanDocument doc(&player);
    doc.addFiles({file("welcome.wav"), file("beep.wav"), file("long.wav")});
    QCOMPARE(doc.measured()[1].lengthMs, std::optional<int>(400));
    // A file edited on disk while the plan is open is measured again when the plan is laid
    // out next; the others keep their lengths.
    QFile edited(file("beep.wav"));
    if (change == "append") {
        QVERIFY(edited.open(QIODevice::Append));
        QVERIFY(edited.write("more") == 4);
        edited.close();
    } else if (change == "remove") {
        QVERIFY(edited.remove());
    }
    player.lengths["beep.wav"] = 1500;
    player.lengths["welcome.wav"] = 9999;
    doc.setSampleRate(4000);
    QList<int> got;
    for (const MeasuredFile& m : doc.measured())
        got << m.lengthMs.value_or(-1);
    QCOMPARE(got, lengths);
    QCOMPARE(doc.measured()[1].problem, problem);
    QCOMPARE(doc.layout().ok(), problem.isEmpty());
}

void TestPlanDocument::savesRelativeAndReadsBack_data() {
    QTest::addColumn<QString>("planFile");
    QTest::addColumn<QString>("written"); // a.wav as the plan file names it
    QTest::newRow("same folder") << "door.json"
                                 << "a.wav";
    QTest::newRow("a folder below") << "plans/door.json"
                                    << "../a.wav";
    QTest::newRow("two below") << "x/y/door.json"
                               << "../../a.wav";
}

void TestPlanDocument::savesRelativeAndReadsBack() {
    QFETCH(QString, planFile);
    QFETCH(QString, written);
    test::LengthsPlayer player;
    player.lengths = {{"a.wav", 1000}, {"b.wav", 400}};
    PlanDocument doc(&player);
    doc.addFiles({file("a.wav"), file("b.wav")});
    doc.setModel("ISD1740");
    doc.setSampleRate(6400);
    doc.setOutput("usb-card");
    QVERIFY(QDir(dir_.path()).mkpath(QFileInfo(file(planFile)).absolutePath()));
    QString error;
    QVERIFY2(doc.save(file(planFile), &error), qPrintable(error));
    QCOMPARE(doc.path(), QFileInfo(file(planFile)).absoluteFilePath());
    QCOMPARE(doc.exportName(), QStringLiteral("door.json"));
    QFile f(file(planFile));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(json.value("model").toString(), QStringLiteral("ISD1740"));
    QCOMPARE(json.value("sample_rate").toInt(), 6400);
    QCOMPARE(json.value("output").toString(), QStringLiteral("usb-card"));
    QCOMPARE(json.value("messages").toArray().at(0).toObject().value("file").toString(), written);

    // Read back, the files resolve to the same paths and the layout is the same.
    PlanDocument other(&player);
    QVERIFY2(other.open(file(planFile), &error), qPrintable(error));
    QCOMPARE(other.plan().messages[0].path, doc.plan().messages[0].path);
    QCOMPARE(names(other), names(doc));
    QCOMPARE(starts(other), starts(doc));
    QCOMPARE(other.plan().output, QStringLiteral("usb-card"));
    // Back to the default output: the plan names none.
    other.setOutput({});
    QVERIFY(other.save(file(planFile), &error));
    f.close();
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(!QJsonDocument::fromJson(f.readAll()).object().contains("output"));

    // A file that is no plan is refused with the engine's reason; the open plan stays.
    QFile bad(file("bad.json"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("{\"messages\": 3}");
    bad.close();
    QVERIFY(!other.open(bad.fileName(), &error));
    QVERIFY2(error.contains("bad.json"), qPrintable(error));
    QCOMPARE(names(other), names(doc));
    // A folder that cannot be written to is said so.
    QVERIFY(!other.save(file("no/such/folder/door.json"), &error));
    QVERIFY(!error.isEmpty());
}

void TestPlanDocument::learnsTheModel_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("deviceId");
    QTest::addColumn<QString>("chosen"); // empty: none yet
    QTest::newRow("auto, ISD1730 reported") << "auto" << 0x80 << "ISD1730";
    QTest::newRow("auto, ISD1760 reported") << "auto" << 0xA0 << "ISD1760";
    QTest::newRow("auto, no such id") << "auto" << 0x55 << "";
    QTest::newRow("fixed model stays") << "ISD1740" << 0xA0 << "ISD1740";
}

void TestPlanDocument::learnsTheModel() {
    QFETCH(QString, model);
    QFETCH(int, deviceId);
    QFETCH(QString, chosen);
    test::LengthsPlayer player;
    player.fileLength = 500;
    PlanDocument doc(&player);
    doc.addFiles({file("a.wav")});
    doc.setModel(model);
    QSignalSpy changed(&doc, &PlanDocument::changed);
    doc.learnModel(static_cast<std::uint8_t>(deviceId));
    QCOMPARE(doc.chosenChip() ? doc.chosenChip()->nameText() : QString(), chosen);
    QCOMPARE(doc.layout().chip ? doc.layout().chip->nameText() : QString(), chosen);
    // Laid out again only when the model it is laid out for changed.
    QCOMPARE(changed.count(), model == "auto" && !chosen.isEmpty() ? 1 : 0);
    doc.learnModel(static_cast<std::uint8_t>(deviceId));
    QCOMPARE(changed.count(), model == "auto" && !chosen.isEmpty() ? 1 : 0);
}

QTEST_MAIN(TestPlanDocument)
#include "tst_plan_document.moc"
