// The exported C header in the firmware compilers it is meant for: C89 and C99, C++11 and
// C++20, C and C++ files mixed, gcc, clang, sdcc (8051) and avr-gcc, each as strict as it
// gets (-Wall -Wextra -Werror -pedantic; sdcc --Werror). One file defines the table, the
// other uses it and the macros; both are compiled and linked, and the programs the host can
// run check every value. The names are hostile: comment openers and closers, backslashes at
// the end, line breaks, quotes, trigraphs, non-ASCII. A compiler that is not installed is
// skipped, and the skip names it.

#include "plan/Allocation.h"
#include "plan/ChipModels.h"
#include "plan/Export.h"
#include "plan/Measure.h"
#include "plan/Plan.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tamberlo::plan;

namespace {

// Names that would change a header that copied them into its comments as they are.
const QStringList& hostileNames() {
    static const QStringList names{
        QStringLiteral("welcome"),
        QStringLiteral("open /* here"),
        QStringLiteral("close */ here"),
        QStringLiteral("*/ #define PROMPT_COUNT 99 /*"),
        QStringLiteral("ends in a backslash\\"),
        QStringLiteral("\\"),
        QStringLiteral("line\nbreak"),
        QStringLiteral("backslash and line break\\\n#define WELCOME_START 0"),
        QStringLiteral("carriage\r\nreturn"),
        QStringLiteral("say \"hi\""),
        QStringLiteral("trigraph ?\?/"),
        QStringLiteral("?\?/\n?\?/"),
        QStringLiteral("?\?*/"),
        QStringLiteral("欢迎光临"),
        QStringLiteral("café"),
        QStringLiteral("tab\tform\fnul") + QChar(0) + QStringLiteral("end"),
        QStringLiteral("line separator\u2028done"),
        QStringLiteral("/*/"),
    };
    return names;
}

struct Toolchain {
    QString compiler;      // for both files unless `useCompiler` says otherwise
    QString useCompiler;   // the program's file
    QStringList flags;     // compiling
    QStringList useFlags;  // compiling the program's file, if not `flags`
    QStringList linkFlags; // linking
    bool defineAsCpp = false;
    bool useAsCpp = false;
    QString object = QStringLiteral(".o");
    bool run = false; // the host runs the program
};

} // namespace

Q_DECLARE_METATYPE(Toolchain)

class TestPlanHeader : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    Layout layout_;

    bool writeFile(const QString& name, const QByteArray& text) {
        QFile file(dir_.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

    // Runs a tool in the scratch folder; on failure says what it printed.
    static bool runTool(const QString& tool, const QStringList& arguments, const QString& where,
                        QString* output) {
        QProcess process;
        process.setWorkingDirectory(where);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(tool, arguments);
        const bool finished = process.waitForFinished(120000);
        *output = QString::fromLocal8Bit(process.readAll());
        if (!finished) {
            process.kill();
            process.waitForFinished();
            *output += QStringLiteral("\n(timed out)");
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        Plan plan;
        QList<MeasuredFile> files;
        int length = 300;
        for (const QString& name : hostileNames()) {
            plan.messages.append({name, QStringLiteral("m.wav"), QStringLiteral("/p/m.wav"),
                                  std::nullopt, std::nullopt});
            files.append(MeasuredFile{length += 137, {}});
        }
        layout_ = allocate(plan, files, findChipModel("ISD1760"));
        QVERIFY2(layout_.ok(), qPrintable(layout_.problems.join(QLatin1Char('\n'))));
        const QByteArray header =
            exportLayout(layout_, ExportFormat::Header, QStringLiteral("plans/*/ */ ?\?/\nevil\\"));
        QVERIFY(writeFile(QStringLiteral("prompts.h"), header));

        // The table's file includes the header twice (its guard must hold).
        const QByteArray table =
            "#define PROMPT_TABLE_DEFINE\n#include \"prompts.h\"\n#include \"prompts.h\"\n";
        // The program checks every macro, the shared table and a table of its own.
        QByteArray program = "#include \"prompts.h\"\n"
                             "static const struct prompt_range local[PROMPT_COUNT] = "
                             "PROMPT_TABLE_INIT;\n"
                             "int main(void) {\n    int bad = 0;\n";
        program +=
            "    bad |= PROMPT_COUNT != " + QByteArray::number(layout_.messages.size()) + ";\n";
        for (const PlacedMessage& m : layout_.messages) {
            const QByteArray id = m.identifier.toLatin1();
            const QByteArray i = QByteArray::number(m.number - 1);
            program += "    bad |= " + id + "_START != " + rowText(m.start).toLatin1() + " || " +
                       id + "_END != " + rowText(m.end).toLatin1() + ";\n";
            program += "    bad |= prompt_table[" + i + "].start != " + id + "_START || " +
                       "prompt_table[" + i + "].end != " + id + "_END;\n";
            program += "    bad |= local[" + i + "].start != prompt_table[" + i + "].start;\n";
        }
        program += "    return bad;\n}\n";
        QVERIFY(writeFile(QStringLiteral("table.c"), table));
        QVERIFY(writeFile(QStringLiteral("table.cpp"), table));
        QVERIFY(writeFile(QStringLiteral("main.c"), program));
        QVERIFY(writeFile(QStringLiteral("main.cpp"), program));
    }

    // What the comments say: every name, escaped, and nothing a compiler reads.
    void namesStayInTheirComments() {
        const QString header = QString::fromUtf8(
            exportLayout(layout_, ExportFormat::Header, QStringLiteral("p/*.json")));
        QVERIFY(header.contains(QStringLiteral("/* 2: \"open /\\* here\"")));
        QVERIFY(header.contains(QStringLiteral("/* 3: \"close *\\/ here\"")));
        QVERIFY(header.contains(QStringLiteral("\"ends in a backslash\\\\\" (no C name)")) ||
                header.contains(QStringLiteral("\"ends in a backslash\\\\\",")));
        QVERIFY(header.contains(QStringLiteral("\"line\\nbreak\"")));
        QVERIFY(header.contains(QStringLiteral("\"say \\\"hi\\\"\"")));
        QVERIFY(header.contains(QStringLiteral("\"trigraph ?\\?/\"")));
        QVERIFY(header.contains(QStringLiteral("\"欢迎光临\" (no C name)")));
        QVERIFY(header.contains(QStringLiteral("nul\\x00end")));
        QVERIFY(header.contains(QStringLiteral("prompts in p/\\*.json")));
        // Outside the comments only the header's own lines: every line is a comment line, a
        // preprocessor line, a line of the struct or the initializer, or empty.
        const QStringList lines = header.split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            QVERIFY2(!line.contains(QLatin1String("??")), qPrintable(line));
            QVERIFY2(!line.endsWith(QLatin1Char('\\')) ||
                         line.startsWith(QLatin1String("#define")) ||
                         line.startsWith(QLatin1String("    ")),
                     qPrintable(line));
        }
        QCOMPARE(header.count(QLatin1String("/*")), header.count(QLatin1String("*/")));
        // Two macros a message, then the guard, PROMPT_COUNT and PROMPT_TABLE_INIT.
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^#define "))).size(),
                 2 * hostileNames().size() + 3);
    }

    void compilesAndLinks_data() {
        QTest::addColumn<Toolchain>("toolchain");
        const QStringList strict{QStringLiteral("-Wall"), QStringLiteral("-Wextra"),
                                 QStringLiteral("-Werror"), QStringLiteral("-pedantic")};
        const auto host = [&](const char* compiler, const char* standard, bool cpp) {
            Toolchain t;
            t.compiler = QLatin1String(compiler);
            t.flags = strict + QStringList{QStringLiteral("-std=") + QLatin1String(standard)};
            t.defineAsCpp = t.useAsCpp = cpp;
            t.run = true;
            return t;
        };
        for (const char* cc : {"gcc", "clang"}) {
            for (const char* standard : {"c89", "c99"})
                QTest::addRow("%s %s", cc, standard) << host(cc, standard, false);
        }
        for (const char* cxx : {"g++", "clang++"}) {
            for (const char* standard : {"c++11", "c++20"})
                QTest::addRow("%s %s", cxx, standard) << host(cxx, standard, true);
        }
        // One firmware of C and C++ files: the table defined in either.
        Toolchain cTable = host("gcc", "c99", false);
        cTable.useCompiler = QStringLiteral("g++");
        cTable.useAsCpp = true;
        cTable.useFlags = host("g++", "c++11", true).flags;
        QTest::newRow("table in C (gcc), program in C++ (g++)") << cTable;
        Toolchain cppTable = host("g++", "c++11", true);
        cppTable.useCompiler = QStringLiteral("gcc");
        cppTable.useAsCpp = false;
        cppTable.useFlags = host("gcc", "c89", false).flags;
        QTest::newRow("table in C++ (g++), program in C (gcc)") << cppTable;

        // Microcontroller compilers: built and linked, not run.
        for (const char* standard : {"c89", "c99"}) {
            Toolchain sdcc;
            sdcc.compiler = QStringLiteral("sdcc");
            sdcc.flags = {QStringLiteral("-mmcs51"),
                          QStringLiteral("--std-") + QLatin1String(standard),
                          QStringLiteral("--Werror")};
            sdcc.linkFlags = {QStringLiteral("-mmcs51")};
            sdcc.object = QStringLiteral(".rel");
            QTest::addRow("sdcc %s (8051)", standard) << sdcc;
            Toolchain avr;
            avr.compiler = QStringLiteral("avr-gcc");
            avr.flags =
                strict + QStringList{QStringLiteral("-std=") + QLatin1String(standard),
                                     QStringLiteral("-mmcu=atmega328p"), QStringLiteral("-Os")};
            avr.linkFlags = {QStringLiteral("-mmcu=atmega328p")};
            QTest::addRow("avr-gcc %s (ATmega328P)", standard) << avr;
        }
        Toolchain avrCpp;
        avrCpp.compiler = QStringLiteral("avr-g++");
        avrCpp.flags =
            strict + QStringList{QStringLiteral("-std=c++11"), QStringLiteral("-mmcu=atmega328p"),
                                 QStringLiteral("-Os")};
        avrCpp.linkFlags = {QStringLiteral("-mmcu=atmega328p")};
        avrCpp.defineAsCpp = avrCpp.useAsCpp = true;
        QTest::newRow("avr-g++ c++11 (ATmega328P)") << avrCpp;
    }

    void compilesAndLinks() {
        QFETCH(Toolchain, toolchain);
        const QString useCompiler =
            toolchain.useCompiler.isEmpty() ? toolchain.compiler : toolchain.useCompiler;
        for (const QString& tool : {toolchain.compiler, useCompiler}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps.sh "
                                                "installs it): skipped")
                                     .arg(tool)));
        }
        const QString tag =
            QString::fromLatin1(QTest::currentDataTag())
                .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
        const QString work = dir_.filePath(tag);
        QVERIFY(QDir().mkpath(work));
        for (const char* file : {"prompts.h", "table.c", "table.cpp", "main.c", "main.cpp"})
            QVERIFY(QFile::copy(dir_.filePath(QLatin1String(file)),
                                work + QLatin1Char('/') + QLatin1String(file)));

        const QString table =
            toolchain.defineAsCpp ? QStringLiteral("table.cpp") : QStringLiteral("table.c");
        const QString main =
            toolchain.useAsCpp ? QStringLiteral("main.cpp") : QStringLiteral("main.c");
        const QString tableObject = QStringLiteral("table") + toolchain.object;
        const QString mainObject = QStringLiteral("main") + toolchain.object;
        QString output;
        QVERIFY2(runTool(toolchain.compiler,
                         toolchain.flags + QStringList{QStringLiteral("-c"), table,
                                                       QStringLiteral("-o"), tableObject},
                         work, &output),
                 qPrintable(output));
        const QStringList useFlags =
            toolchain.useFlags.isEmpty() ? toolchain.flags : toolchain.useFlags;
        QVERIFY2(runTool(useCompiler,
                         useFlags + QStringList{QStringLiteral("-c"), main, QStringLiteral("-o"),
                                                mainObject},
                         work, &output),
                 qPrintable(output));
        // The program's object first: sdcc takes the first file's name for its output.
        QVERIFY2(
            runTool(useCompiler,
                    toolchain.linkFlags + QStringList{mainObject, tableObject, QStringLiteral("-o"),
                                                      toolchain.object == QLatin1String(".rel")
                                                          ? QStringLiteral("program.ihx")
                                                          : QStringLiteral("program")},
                    work, &output),
            qPrintable(output));
        if (toolchain.run) {
            QVERIFY2(runTool(work + QStringLiteral("/program"), {}, work, &output),
                     "the program found a value that is not the layout's");
        } else {
            QVERIFY(QFileInfo(work + (toolchain.object == QLatin1String(".rel")
                                          ? QStringLiteral("/program.ihx")
                                          : QStringLiteral("/program")))
                        .size() > 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestPlanHeader)
#include "tst_plan_header.moc"
