// Holds a port from a process of its own, the way a second panel would: opens port N through
// the panel's serial adapter (same lock and exclusive mode), prints "open" and keeps the port
// until its standard input closes. Exit status 1 when the port cannot be opened.
//
//   tamberlo_port_holder <port number>

#include "link/QtSerialPort.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <port number>\n", argv[0]);
        return 2;
    }
    tamberlo::QtSerialPort port;
    port.setPortNumber(static_cast<std::int16_t>(std::atoi(argv[1])));
    if (!port.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorText()));
        return 1;
    }
    std::printf("open\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    port.close();
    return 0;
}
