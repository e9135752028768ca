// libFuzzer entry for the reply receiver and the chip layer's reply actions; the checks
// are in ReceiverTarget.h, which the property test in tests/reliability runs too.
#include "ReceiverTarget.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {
tamberlo::fuzz::Rig* rig = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt takes the options it knows out of argv; libFuzzer's own stay untouched this way.
    static int argc = 1;
    static char name[] = "fuzz_receiver";
    static char* argv[] = {name, nullptr};
    // Neither the application nor the rig is ever destroyed: what they hold stays reachable
    // to the end, so the leak check at exit sees only what an input lost.
    new QApplication(argc, argv);
    // Font warnings for odd characters and the like: the checks say what matters.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    rig = new tamberlo::fuzz::Rig; // one rig for the whole run, reset before every input
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure = tamberlo::fuzz::checkReceiverInput(*rig, data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "property does not hold: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
