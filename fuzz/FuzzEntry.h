#pragma once

// What both libFuzzer entries share: a QApplication for the widgets the rig uses, one rig
// for the whole run, and an abort when an input breaks a property.
#include "FuzzReport.h"
#include "FuzzRig.h"

#include <QApplication>
#include <string>

namespace tamberlo::fuzz {

// Neither the application nor the rig is ever destroyed: what they hold stays reachable
// to the end, so the leak check at exit sees only what an input lost.
inline Rig* startFuzzing(const char* name) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt takes the options it knows out of argv; libFuzzer's own stay untouched this way.
    static int argc = 1;
    static std::string program(name);
    static char* argv[] = {program.data(), nullptr};
    new QApplication(argc, argv);
    // Font warnings for odd characters and the like: the checks say what matters.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return new Rig; // reset before every input
}

} // namespace tamberlo::fuzz
