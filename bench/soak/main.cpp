// Soak run: thousands of commands of every kind, in random order from a fixed seed, through the
// real window and the real serial adapter against the bridge simulator. Each command's frame
// is waited for, and its reply where the chip gives one; message boxes go to the recording
// fake (a real modal box would block). Prints the resident set size at the start, every 1,000
// commands and at the end, the elapsed time, and how many replies were recognised. Built with
// the sanitizer preset, LeakSanitizer reports any leak when it exits.
//
//   bench_soak [commands = 10000] [seed = 1]

#include "chip/Catalogue.h"
#include "e2e/SimulatorRig.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/ChipCommands.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <random>

using namespace tamberlo;
using namespace tamberlo::e2e;

namespace {

// Resident set size of this process in kB.
long rssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// An address as the operator types it, within the ISD1760's rows 0x000..0x1EF.
QString addressText(int row, bool lower) {
    QString text = QStringLiteral("%1 %2")
                       .arg(row >> 8, 2, 16, QLatin1Char('0'))
                       .arg(row & 0xFF, 2, 16, QLatin1Char('0'));
    return lower ? text.toLower() : text.toUpper();
}

struct Tally {
    int clicks = 0;
    int frames = 0;
    int repliesExpected = 0;
    int repliesSeen = 0;
    int repliesMissed = 0;
    int boxes = 0;
    int refusedTexts = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    const unsigned seed = argc > 2 ? QByteArray(argv[2]).toUInt() : 1;
    if (total <= 0) {
        std::fprintf(stderr, "usage: %s [commands] [seed]\n", argv[0]);
        return 2;
    }

    RuntimeDir runtime;
    if (!runtime.isValid())
        return 1;
    int exitCode = 0;
    {
        Simulator sim(runtime);
        QString why;
        if (!sim.start(1, {}, &why)) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        Panel panel;
        if (!panel.openPort(1)) {
            std::fprintf(stderr, "the panel could not open the simulator's port\n");
            return 1;
        }
        Form1& form = panel.form();
        Transmitter& tx = form.transmitter();
        Receiver& rx = form.receiver();

        // A reply is complete when the receiver rewinds: after a notification with bytes
        // the write index is back at 0 only then. Connected after the receiver, so it runs
        // after it.
        int completions = 0;
        QObject::connect(&form.port(), &SerialPort::communication, &form, [&](CommEvent kind) {
            if (kind == CommEvent::BytesReceived && rx.RecvIdx() == 0)
                ++completions;
        });

        std::mt19937 random(seed);
        const auto chance = [&random](int percent) {
            return static_cast<int>(random() % 100) < percent;
        };
        const auto box = [&form](const char* name) {
            return form.findChild<QLineEdit*>(QLatin1String(name));
        };
        Tally tally;
        QElapsedTimer clock;
        clock.start();
        qint64 lastMark = 0;
        // The first paint of the window and the font caches come before the first figure.
        QTest::qWait(500);
        const long rssStart = rssKb();
        long rssWarm = -1; // after the first 1,000 commands: fonts, caches and the like in place
        std::printf("soak: %d commands, seed %u, against %s\n", total, seed,
                    qPrintable(sim.logPath()));
        std::printf("%8s %10s %10s %12s\n", "commands", "RSS kB", "delta kB", "ms/1000");
        std::printf("%8d %10ld %10d %12s\n", 0, rssStart, 0, "-");
        std::fflush(stdout);

        for (int i = 1; i <= total; ++i) {
            const int which = static_cast<int>(random() % 17);
            bool sends = true;
            std::optional<std::uint8_t> reply;
            const char* control = "VoilceVal";
            if (which < 16) {
                const CommandRow& row = CommandCatalogue[static_cast<std::size_t>(which)];
                control = row.control.data();
                reply = row.replyBytes;
                if (row.frameLength == 5) {
                    const char* names[3][2] = {{"St_Play_Text", "St_Play_Text1"},
                                               {"St_Rec_Text", "St_Rec_Text1"},
                                               {"SetEraseText", "SetEraseText1"}};
                    const auto& pair = names[row.opcode - 0x80];
                    const int start = static_cast<int>(random() % 0x1F0);
                    const int end = std::min(0x1EF, start + static_cast<int>(random() % 0x20));
                    QString first = addressText(start, chance(30));
                    QString second = addressText(end, chance(30));
                    if (chance(5))
                        first = first.left(static_cast<int>(random() % 5)); // too short
                    else if (row.opcode == 0x82 && chance(5))
                        second += QStringLiteral(" 0"); // erase boxes take any length
                    box(pair[0])->setText(first);
                    box(pair[1])->setText(second);
                    sends = first.size() == 5 && second.size() == 5;
                    tally.refusedTexts += sends ? 0 : 1;
                } else if (row.frameLength == 3) {
                    form.findChild<QCheckBox*>(QStringLiteral("SPKon"))->setChecked(chance(50));
                    form.findChild<QCheckBox*>(QStringLiteral("SoundMon"))->setChecked(chance(50));
                    form.findChild<QComboBox*>(QStringLiteral("sound_in"))
                        ->setCurrentIndex(static_cast<int>(random() % 3));
                }
            } else {
                sends = false;
            }

            const int completionsBefore = completions;
            form.findChild<QPushButton*>(QLatin1String(control))->click();
            ++tally.clicks;
            if (sends) {
                ++tally.frames;
                // Out once the last byte is written (or the timer has stopped).
                waitFor([&] {
                    return !tx.isSending() || (tx.SendCnt() > 0 && tx.SendIdx() >= tx.SendCnt());
                });
                if (reply) {
                    ++tally.repliesExpected;
                    if (waitFor([&] { return completions > completionsBefore; }, 2000))
                        ++tally.repliesSeen;
                    else
                        ++tally.repliesMissed;
                }
            }
            tally.boxes += static_cast<int>(panel.boxes.boxes.size());
            panel.boxes.boxes.clear();

            if (i % 1000 == 0 || i == total) {
                const long rss = rssKb();
                if (i == 1000)
                    rssWarm = rss;
                const qint64 now = clock.elapsed();
                std::printf("%8d %10ld %10ld %12lld\n", i, rss, rss - rssStart,
                            i % 1000 == 0 ? now - lastMark : -1LL);
                std::fflush(stdout);
                lastMark = now;
            }
        }
        const long rssEnd = rssKb();
        const qint64 elapsed = clock.elapsed();
        std::printf("elapsed %.1f s (%.1f ms a command); %d frames, %d range texts refused\n",
                    double(elapsed) / 1000, double(elapsed) / total, tally.frames,
                    tally.refusedTexts);
        std::printf("replies: %d expected, %d recognised, %d missed; %d message boxes\n",
                    tally.repliesExpected, tally.repliesSeen, tally.repliesMissed, tally.boxes);
        std::printf("RSS: start %ld kB, end %ld kB, growth %ld kB (target: within 1024 kB)\n",
                    rssStart, rssEnd, rssEnd - rssStart);
        if (rssWarm > 0)
            std::printf("RSS after the first 1000 commands %ld kB, growth from there %ld kB\n",
                        rssWarm, rssEnd - rssWarm);
        std::printf("panel port still open: %s\n", panel.isShownOpen() ? "yes" : "NO");
        if (!panel.isShownOpen() || tally.repliesMissed > 0)
            exitCode = 1;
        panel.clickPortButton(1); // close, as the operator would before quitting
    }
    std::fflush(stdout);
    return exitCode;
}
