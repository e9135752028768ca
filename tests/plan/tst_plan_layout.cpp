// The plan file, the row allocation with its checks, and the exported address tables
// (the C header compiled by the system's C compiler).
#include "plan/Allocation.h"
#include "plan/Export.h"
#include "plan/Plan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo::plan;

namespace {

// A plan of named messages with lengths, files "<name>.wav".
struct Prompt {
    QString name;
    int lengthMs;
    std::optional<int> rows = std::nullopt;
    std::optional<int> start = std::nullopt;
};

Plan makePlan(const QList<Prompt>& prompts, int rate = 8000, int firstRow = 0x010) {
    Plan plan;
    plan.sampleRate = rate;
    plan.firstRow = firstRow;
    plan.marginMs = 100; // the tables count with 100 ms
    for (const Prompt& s : prompts)
        plan.messages.append({s.name, s.name + ".wav", "/p/" + s.name + ".wav", s.rows, s.start});
    return plan;
}

QList<MeasuredFile> lengths(const QList<Prompt>& prompts) {
    QList<MeasuredFile> files;
    for (const Prompt& s : prompts)
        files.append(s.lengthMs > 0 ? MeasuredFile{s.lengthMs, {}}
                                    : MeasuredFile{std::nullopt, QStringLiteral("no such file")});
    return files;
}

using Rows = QList<std::pair<int, int>>; // start, end per message

} // namespace

class TestPlanLayout : public QObject {
    Q_OBJECT
private slots:
    void rowDurations();
    void parseRows_data();
    void parseRows();
    void readsPlanFile();
    void refusesBadPlans_data();
    void refusesBadPlans();
    void allocates_data();
    void allocates();
    void refusesLayouts_data();
    void refusesLayouts();
    void identifiers_data();
    void identifiers();
    void exportsCsvAndJson();
    void headerCompiles();
};

void TestPlanLayout::rowDurations() {
    // rate, row in ms, rows for 1 s, the chip's table, every model
    const struct {
        int rate;
        double rowMs;
        int rowsForSecond;
    } rates[] = {
        {8000, 125, 8}, {12000, 83.333, 12}, {6400, 156.25, 7}, {5300, 187.5, 6}, {4000, 250, 4}};
    for (const auto& r : rates) {
        const auto d = rowDuration(r.rate);
        QVERIFY2(d, qPrintable(QString::number(r.rate)));
        QVERIFY(std::abs(d->ms() - r.rowMs) < 0.001);
        QCOMPARE(d->rowsFor(1000), r.rowsForSecond);
    }
    QVERIFY(!rowDuration(44100));
    QCOMPARE(rowDuration(8000)->rowsFor(125), 1);
    QCOMPARE(rowDuration(8000)->rowsFor(126), 2);
    QCOMPARE(rowDuration(12000)->rowsFor(250), 3); // exactly three rows, no rounding up

    const struct {
        const char* name;
        int lastRow;
    } models[] = {{"ISD1720", 0x0AF},  {"ISD1730", 0x0FF},  {"ISD1740", 0x14F},
                  {"ISD1750", 0x19F},  {"ISD1760", 0x1EF},  {"ISD1790", 0x2DF},
                  {"ISD17120", 0x3CF}, {"ISD17150", 0x4BF}, {"ISD17180", 0x5AF},
                  {"ISD17210", 0x69F}, {"ISD17240", 0x78F}};
    QStringList smallestFirst;
    for (const auto& m : models) {
        const tamberlo::ChipModel* chip = findChipModel(QString::fromLatin1(m.name).toLower());
        QVERIFY2(chip, m.name);
        QCOMPARE(int(chip->lastRow), m.lastRow);
        QCOMPARE(findChipModel(chip->id), chip);
        smallestFirst << QString::fromLatin1(m.name);
    }
    QCOMPARE(chipModelNames(), smallestFirst);
    QCOMPARE(largestChipModel()->nameText(), QStringLiteral("ISD17240"));
    QCOMPARE(findChipModel(QStringLiteral("ISD1760"))->messageRows(), 480);
    QVERIFY(!findChipModel(QStringLiteral("ISD1700")));
}

void TestPlanLayout::parseRows_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("row"); // -1: refused
    QTest::newRow("0x") << "0x1A0" << 0x1A0;
    QTest::newRow("bare") << "1a0" << 0x1A0;
    QTest::newRow("panel pair") << "01 A0" << 0x1A0;
    QTest::newRow("short") << "10" << 0x010;
    QTest::newRow("spaces around") << " 0x010 " << 0x010;
    QTest::newRow("past 11 bits") << "0x800" << -1;
    QTest::newRow("four digits") << "0x0100" << 0x100;
    QTest::newRow("not hex") << "0x1G0" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("pair without space") << "01A0x" << -1;
}

void TestPlanLayout::parseRows() {
    QFETCH(QString, text);
    QFETCH(int, row);
    const auto parsed = parseRow(text);
    QCOMPARE(parsed.value_or(-1), row);
}

void TestPlanLayout::readsPlanFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    const QString path = dir.filePath("sub/prompts.json");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(R"({"model": "isd1750", "sample_rate": 12000, "first_row": "0x020", "margin_ms": 60,
               "messages": [{"name": "hello", "file": "hello.wav"},
                            {"name": "beep", "file": "../snd/beep.mp3", "rows": 9, "start": 256}]})");
    f.close();
    QString error;
    const auto plan = readPlan(path, &error);
    QVERIFY2(plan, qPrintable(error));
    QCOMPARE(plan->model, QStringLiteral("ISD1750"));
    QCOMPARE(plan->sampleRate, 12000);
    QCOMPARE(plan->firstRow, 0x020);
    QCOMPARE(plan->marginMs, 60);
    QCOMPARE(plan->messages.size(), 2);
    QCOMPARE(plan->messages[0].path, dir.filePath("sub/hello.wav"));
    QCOMPARE(plan->messages[1].path, dir.filePath("snd/beep.mp3"));
    QCOMPARE(plan->messages[1].rows, std::optional<int>(9));
    QCOMPARE(plan->messages[1].start, std::optional<int>(0x100));

    // Written back and read again: the same plan.
    const auto again = parsePlan(planToJson(*plan), dir.filePath("sub"), &error);
    QVERIFY2(again, qPrintable(error));
    QCOMPARE(again->model, plan->model);
    QCOMPARE(again->firstRow, plan->firstRow);
    QCOMPARE(again->messages[1].start, plan->messages[1].start);
    QCOMPARE(again->messages[1].path, plan->messages[1].path);

    // Defaults, and a plan made of files.
    const auto minimal =
        parsePlan(R"({"messages": [{"name": "a", "file": "a.wav"}]})", "/x", &error);
    QVERIFY2(minimal, qPrintable(error));
    QVERIFY(minimal->autoModel());
    QCOMPARE(minimal->sampleRate, 8000);
    QCOMPARE(minimal->firstRow, 0x010);
    QCOMPARE(minimal->marginMs, Plan::DefaultMarginMs);
    const Plan files = planFromFiles({"/a/one.wav", "two.tone.mp3"});
    QCOMPARE(files.messages[0].name, QStringLiteral("one"));
    QCOMPARE(files.messages[1].name, QStringLiteral("two.tone"));
    QVERIFY(QFileInfo(files.messages[1].path).isAbsolute());

    QVERIFY(!readPlan(dir.filePath("missing.json"), &error));
    QVERIFY2(error.contains("missing.json") && error.contains("cannot read"), qPrintable(error));
}

void TestPlanLayout::refusesBadPlans_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("why");
    const QByteArray one = R"("messages": [{"name": "a", "file": "a.wav"}])";
    QTest::newRow("not json") << QByteArray("{\"messages\": [") << "not JSON";
    QTest::newRow("array") << QByteArray("[]") << "must be a JSON object";
    QTest::newRow("no messages") << QByteArray("{}") << "\"messages\"";
    QTest::newRow("empty messages") << QByteArray(R"({"messages": []})") << "at least one";
    QTest::newRow("unknown key") << "{\"modle\": \"auto\", " + one + "}"
                                 << "unknown key \"modle\"";
    // A key written twice is refused like an unknown one: JSON readers quietly keep one of
    // the two values, so the plan would not be what its author reads.
    QTest::newRow("duplicate key") << "{\"model\": \"ISD1760\", \"model\": \"auto\", " + one + "}"
                                   << "duplicate key \"model\"";
    QTest::newRow("duplicate key, escaped")
        << "{\"margin_ms\": 100, \"margin\\u005fms\": 0, " + one + "}"
        << "duplicate key \"margin_ms\"";
    QTest::newRow("duplicate messages") << "{" + one + ", " + one + "}"
                                        << "duplicate key \"messages\"";
    QTest::newRow("duplicate message key")
        << QByteArray(R"({"messages": [{"name": "a", "file": "a"}, {"name": "b", "file": "b"},
                          {"name": "c", "file": "c", "rows": 3, "rows": 30}]})")
        << "message 3: duplicate key \"rows\"";
    QTest::newRow("duplicate key in a nested value")
        << QByteArray(R"({"model": {"a": 1, "a": 2}, "messages": [{"name": "a", "file": "a"}]})")
        << "duplicate key \"a\" in a value";
    // The empty key is a key too: unknown, and refused when written twice.
    QTest::newRow("empty key") << "{\"\": 1, " + one + "}"
                               << "unknown key \"\"";
    QTest::newRow("empty key twice in a message")
        << QByteArray(R"({"messages": [{"name": "a", "file": "a", "" : 1, "": 2}]})")
        << "message 1: duplicate key \"\"";
    QTest::newRow("empty message key")
        << QByteArray(R"({"messages": [{"": 1, "name": "a", "file": "a"}]})")
        << "message 1: unknown key \"\"";
    QTest::newRow("file starting with a byte order mark")
        << QByteArray(R"({"messages": [{"name": "a", "file": "\ufeffa.wav"}]})")
        << "message 1: \"file\" starts with an invisible character (U+FEFF";
    QTest::newRow("name of byte order marks only")
        << QByteArray(R"({"messages": [{"name": " \ufeff \ufeff", "file": "a.wav"}]})")
        << "message 1: \"name\" must be a non-empty text";
    QTest::newRow("duplicate key after a string with quotes and braces")
        << QByteArray(R"({"messages": [{"name": "a \"}{[\\", "file": "a", "name": "b"}]})")
        << "message 1: duplicate key \"name\"";
    QTest::newRow("unknown model") << "{\"model\": \"ISD9999\", " + one + "}"
                                   << "no known chip";
    QTest::newRow("bad rate") << "{\"sample_rate\": 44100, " + one + "}"
                              << "\"sample_rate\"";
    QTest::newRow("first row in sound effects") << "{\"first_row\": \"0x00F\", " + one + "}"
                                                << "\"first_row\"";
    QTest::newRow("first row not a row") << "{\"first_row\": \"lots\", " + one + "}"
                                         << "\"first_row\"";
    QTest::newRow("negative margin") << "{\"margin_ms\": -5, " + one + "}"
                                     << "\"margin_ms\"";
    QTest::newRow("message not object")
        << QByteArray(R"({"messages": ["a.wav"]})") << "message 1: must be an object";
    QTest::newRow("no name") << QByteArray(R"({"messages": [{"file": "a.wav"}]})")
                             << "message 1: \"name\"";
    QTest::newRow("no file") << QByteArray(R"({"messages": [{"name": "a"}]})")
                             << "message 1: \"file\"";
    QTest::newRow("zero rows")
        << QByteArray(
               R"({"messages": [{"name": "a", "file": "a"}, {"name": "b", "file": "b", "rows": 0}]})")
        << "message 2: \"rows\"";
    QTest::newRow("fractional rows")
        << QByteArray(R"({"messages": [{"name": "a", "file": "a", "rows": 2.5}]})") << "\"rows\"";
    QTest::newRow("start text")
        << QByteArray(R"({"messages": [{"name": "a", "file": "a", "start": "first"}]})")
        << "\"start\"";
    QTest::newRow("unknown message key")
        << QByteArray(R"({"messages": [{"name": "a", "file": "a", "lenght": 3}]})")
        << "message 1: unknown key \"lenght\"";
}

void TestPlanLayout::refusesBadPlans() {
    QFETCH(QByteArray, json);
    QFETCH(QString, why);
    QString error;
    QVERIFY(!parsePlan(json, "/x", &error));
    QVERIFY2(error.contains(why), qPrintable(error));
}

void TestPlanLayout::allocates_data() {
    QTest::addColumn<QList<Prompt>>("prompts");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("firstRow");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QString>("usage");

    // 1000 ms + 100 ms margin = 8.8 rows of 125 ms: 9; 900 + 100 = exactly 8.
    QTest::newRow("8 kHz, one after the other")
        << QList<Prompt>{{"a", 1000}, {"b", 900}, {"c", 20}} << 8000 << 0x010
        << Rows{{0x010, 0x018}, {0x019, 0x020}, {0x021, 0x021}}
        << "uses 18 of 480 rows, 2.3 s of 60.0 s";
    QTest::newRow("12 kHz: 83.3 ms rows")
        << QList<Prompt>{{"a", 1000}, {"b", 150}} << 12000 << 0x010
        << Rows{{0x010, 0x01D}, {0x01E, 0x020}} << "uses 17 of 480 rows, 1.4 s of 40.0 s";
    QTest::newRow("4 kHz from row 0x100")
        << QList<Prompt>{{"a", 1000}, {"b", 3000}} << 4000 << 0x100
        << Rows{{0x100, 0x104}, {0x105, 0x111}} << "uses 18 of 480 rows, 4.5 s of 120.0 s";
    QTest::newRow("5.3 kHz: exactly 8 rows")
        << QList<Prompt>{{"a", 1400}} << 5300 << 0x010 << Rows{{0x010, 0x017}}
        << "uses 8 of 480 rows, 1.5 s of 90.0 s";
    QTest::newRow("6.4 kHz") << QList<Prompt>{{"a", 1200}} << 6400 << 0x010 << Rows{{0x010, 0x018}}
                             << "uses 9 of 480 rows, 1.4 s of 75.0 s";
    QTest::newRow("fixed rows") << QList<Prompt>{{"a", 500, 20}, {"b", 500}} << 8000 << 0x010
                                << Rows{{0x010, 0x023}, {0x024, 0x028}}
                                << "uses 25 of 480 rows, 3.1 s of 60.0 s";
    QTest::newRow("fixed start, the next follows it")
        << QList<Prompt>{{"a", 500}, {"b", 500, std::nullopt, 0x100}, {"c", 500}} << 8000 << 0x010
        << Rows{{0x010, 0x014}, {0x100, 0x104}, {0x105, 0x109}}
        << "uses 15 of 480 rows, 1.9 s of 60.0 s";
    QTest::newRow("fills the chip to its last row")
        << QList<Prompt>{{"a", 59900}} << 8000 << 0x010 << Rows{{0x010, 0x1EF}}
        << "uses 480 of 480 rows, 60.0 s of 60.0 s";
}

void TestPlanLayout::allocates() {
    QFETCH(QList<Prompt>, prompts);
    QFETCH(int, rate);
    QFETCH(int, firstRow);
    QFETCH(Rows, rows);
    QFETCH(QString, usage);
    const Layout layout =
        allocate(makePlan(prompts, rate, firstRow), lengths(prompts), findChipModel("ISD1760"));
    QVERIFY2(layout.ok(), qPrintable(layout.problems.join("\n")));
    QCOMPARE(layout.messages.size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QCOMPARE(rowText(layout.messages[i].start), rowText(rows[i].first));
        QCOMPARE(rowText(layout.messages[i].end), rowText(rows[i].second));
        QCOMPARE(layout.messages[i].rows, rows[i].second - rows[i].first + 1);
    }
    QCOMPARE(layout.usageText(), usage);
}

void TestPlanLayout::refusesLayouts_data() {
    QTest::addColumn<QList<Prompt>>("prompts");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<int>("rowsUsed"); // each row counted once, overlaps or not
    QTest::addColumn<int>("firstRow");
    QTest::newRow("does not fit")
        << QList<Prompt>{{"a", 30000}, {"b", 30000}} << "ISD1760"
        << QStringList{"the plan does not fit: it needs 482 rows (up to row 0x1F1, 60.3 s), "
                       "ISD1760 has 480 (0x010..0x1EF, 60.0 s)"}
        << 482 << 0x010;
    QTest::newRow("ISD1720 ending at 0x0B0")
        << QList<Prompt>{{"a", 1000, 161}} << "ISD1720"
        << QStringList{"the plan does not fit: it needs 161 rows (up to row 0x0B0, 20.1 s), "
                       "ISD1720 has 160 (0x010..0x0AF, 20.0 s)"}
        << 161 << 0x010;
    QTest::newRow("fixed start near the last row: said from that start")
        << QList<Prompt>{{"a", 500, std::nullopt, 0x0AD}} << "ISD1720"
        << QStringList{"message 1 \"a\" needs 5 rows from row 0x0AD, up to 0x0B1: ISD1720's "
                       "last row is 0x0AF, 3 rows from its start"}
        << 5 << 0x010;
    QTest::newRow("first row late: said from there")
        << QList<Prompt>{{"a", 2400}} << "ISD1760"
        << QStringList{"message 1 \"a\" needs 20 rows from row 0x1E0, up to 0x1F3: ISD1760's "
                       "last row is 0x1EF, 16 rows from its start"}
        << 20 << 0x1E0;
    QTest::newRow("model auto: a start no chip has")
        << QList<Prompt>{{"a", 500}, {"tail", 500, std::nullopt, 0x7F8}} << "auto"
        << QStringList{"message 2 \"tail\" starts at row 0x7F8, past the largest model's "
                       "(ISD17240) last row 0x78F"}
        << 10 << 0x010;
    QTest::newRow("model auto: larger than the largest model")
        << QList<Prompt>{{"long", 250000}} << "auto"
        << QStringList{"the plan does not fit: it needs 2001 rows (up to row 0x7E0, 250.1 s), "
                       "the largest model, ISD17240, has 1920"}
        << 2001 << 0x010;
    QTest::newRow("overlapping fixed starts")
        << QList<Prompt>{{"a", 1000}, {"b", 500, std::nullopt, 0x015}} << "ISD1760"
        << QStringList{"message 1 \"a\" (rows 0x010..0x018) and message 2 \"b\" (rows "
                       "0x015..0x019) overlap"}
        << 10 << 0x010;
    QTest::newRow("fixed start on the previous message's last row")
        << QList<Prompt>{{"a", 1000}, {"b", 500, std::nullopt, 0x018}} << "ISD1760"
        << QStringList{"message 1 \"a\" (rows 0x010..0x018) and message 2 \"b\" (rows "
                       "0x018..0x01C) overlap"}
        << 13 << 0x010;
    QTest::newRow("fixed rows too few")
        << QList<Prompt>{{"a", 1000, 4}} << "ISD1760"
        << QStringList{"message 1 \"a\": 4 rows given, its audio needs 9"} << 4 << 0x010;
    QTest::newRow("duplicate names") << QList<Prompt>{{"a", 100}, {"b", 100}, {"a", 100}} << "auto"
                                     << QStringList{"message 3 \"a\": the name is already used "
                                                    "by message 1"}
                                     << 6 << 0x010;
    QTest::newRow("same C name") << QList<Prompt>{{"door open", 100}, {"Door-Open", 100}} << "auto"
                                 << QStringList{"message 2 \"Door-Open\": the name becomes "
                                                "DOOR_OPEN in the header, as message 1's does"}
                                 << 4 << 0x010;
    QTest::newRow("missing file, and the rest still checked")
        << QList<Prompt>{{"a", 0}, {"a", 100}} << "auto"
        << QStringList{"message 1 \"a\": a.wav: no such file", "already used by message 1"} << 3
        << 0x010;
}

void TestPlanLayout::refusesLayouts() {
    QFETCH(QList<Prompt>, prompts);
    QFETCH(QString, model);
    QFETCH(QStringList, problems);
    QFETCH(int, rowsUsed);
    QFETCH(int, firstRow);
    Plan plan = makePlan(prompts, 8000, firstRow);
    plan.model = model;
    const Layout layout = allocate(plan, lengths(prompts), plannedChip(plan));
    QVERIFY(!layout.ok());
    QCOMPARE(layout.problems.size(), problems.size());
    for (qsizetype i = 0; i < problems.size(); ++i)
        QVERIFY2(layout.problems[i].contains(problems[i]), qPrintable(layout.problems[i]));
    QCOMPARE(layout.rowsUsed, rowsUsed);
}

void TestPlanLayout::identifiers_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("identifier");
    QTest::newRow("plain") << "hello"
                           << "HELLO";
    QTest::newRow("spaces and dashes") << "door - open  now"
                                       << "DOOR_OPEN_NOW";
    QTest::newRow("edges trimmed") << "_beep_"
                                   << "BEEP";
    QTest::newRow("digits inside") << "tone 2 kHz"
                                   << "TONE_2_KHZ";
    QTest::newRow("leading digit") << "1st prompt"
                                   << "MSG_4";
    QTest::newRow("Chinese") << "欢迎"
                             << "MSG_4";
    QTest::newRow("mixed ASCII and not") << "café"
                                         << "MSG_4";
    QTest::newRow("only punctuation") << "!!!"
                                      << "MSG_4";
    QTest::newRow("comment closer") << "a*/b"
                                    << "A_B";
}

void TestPlanLayout::identifiers() {
    QFETCH(QString, name);
    QFETCH(QString, identifier);
    QCOMPARE(messageIdentifier(name, 4), identifier);
}

void TestPlanLayout::exportsCsvAndJson() {
    const QList<Prompt> prompts{{"hello, world", 1000}, {"say \"hi\"", 500}};
    const Layout layout = allocate(makePlan(prompts), lengths(prompts), findChipModel("ISD1760"));
    QVERIFY(layout.ok());
    const QStringList lines =
        QString::fromUtf8(exportLayout(layout, ExportFormat::Csv, "p.json")).split("\r\n");
    QCOMPARE(lines.value(0),
             QStringLiteral("number,name,identifier,file,length_ms,rows,start,end"));
    QCOMPARE(
        lines.value(1),
        QStringLiteral("1,\"hello, world\",HELLO_WORLD,\"hello, world.wav\",1000,9,0x010,0x018"));
    QCOMPARE(lines.value(2),
             QStringLiteral("2,\"say \"\"hi\"\"\",SAY_HI,\"say \"\"hi\"\".wav\",500,5,"
                            "0x019,0x01D"));

    const QJsonObject o =
        QJsonDocument::fromJson(exportLayout(layout, ExportFormat::Json, "p.json")).object();
    QCOMPARE(o.value("model").toString(), QStringLiteral("ISD1760"));
    QCOMPARE(o.value("rows_used").toInt(), 14);
    QCOMPARE(o.value("rows_available").toInt(), 480);
    const QJsonArray list = o.value("messages").toArray();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[1].toObject().value("start").toInt(), 0x019);
    QCOMPARE(list[1].toObject().value("end_hex").toString(), QStringLiteral("0x01D"));
    QCOMPARE(list[1].toObject().value("name").toString(), QStringLiteral("say \"hi\""));
    QVERIFY(!exportFormat("xml"));
    QCOMPARE(exportFormat("H"), std::optional(ExportFormat::Header));
}

void TestPlanLayout::headerCompiles() {
    const QString cc = QStandardPaths::findExecutable("cc");
    if (cc.isEmpty())
        QSKIP("no C compiler");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Names that need work: punctuation, a leading digit, Chinese, a comment closer.
    const QList<Prompt> prompts{{"welcome", 1200},
                                {"door open!", 800},
                                {"3 beeps", 300},
                                {"欢迎光临", 900},
                                {"end */ here", 400}};
    const Layout layout = allocate(makePlan(prompts), lengths(prompts), findChipModel("ISD1730"));
    QVERIFY2(layout.ok(), qPrintable(layout.problems.join("\n")));
    const QByteArray header = exportLayout(layout, ExportFormat::Header, "prompts.json");
    QFile h(dir.filePath("prompts.h"));
    QVERIFY(h.open(QIODevice::WriteOnly));
    h.write(header);
    h.close();

    // One file defines the array, the other uses it and the macros; both compiled and
    // linked strictly, and the program checks the values.
    QFile def(dir.filePath("table.c"));
    QVERIFY(def.open(QIODevice::WriteOnly));
    def.write("#define PROMPT_TABLE_DEFINE\n#include \"prompts.h\"\n#include \"prompts.h\"\n");
    def.close();
    QFile use(dir.filePath("main.c"));
    QVERIFY(use.open(QIODevice::WriteOnly));
    use.write(R"(#include "prompts.h"
static const struct prompt_range local[PROMPT_COUNT] = PROMPT_TABLE_INIT;
int main(void) {
    int bad = 0;
    bad |= PROMPT_COUNT != 5;
    bad |= WELCOME_START != 0x010 || WELCOME_END != 0x01A;
    bad |= DOOR_OPEN_START != 0x01B || DOOR_OPEN_END != 0x022;
    bad |= MSG_3_START != 0x023 || MSG_4_END != 0x02E;
    bad |= END_HERE_START != 0x02F;
    bad |= prompt_table[4].start != END_HERE_START || prompt_table[4].end != END_HERE_END;
    bad |= local[1].end != DOOR_OPEN_END;
    return bad;
}
)");
    use.close();
    QProcess build;
    build.setWorkingDirectory(dir.path());
    build.start(cc, {"-std=c99", "-Wall", "-Wextra", "-Werror", "-pedantic", "-o", "check",
                     "main.c", "table.c"});
    QVERIFY(build.waitForFinished(60000));
    QVERIFY2(build.exitCode() == 0,
             qPrintable(QString::fromUtf8(build.readAllStandardError() + "\n" + header)));
    QProcess run;
    run.start(dir.filePath("check"), {});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(header.contains("\"欢迎光临\" (no C name)"));
    QVERIFY(!header.contains("end */ here"));
}

QTEST_GUILESS_MAIN(TestPlanLayout)
#include "tst_plan_layout.moc"
