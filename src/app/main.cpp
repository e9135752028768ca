#include "app/Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application's name is the title of message boxes that have none of their own.
    QApplication::setApplicationName(QStringLiteral("Tamberlo"));
    QApplication::setApplicationVersion(QStringLiteral("2.3"));
    QApplication::setDesktopFileName(QStringLiteral("tamberlo"));

    tamberlo::Form1 window;
    window.show();
    return QApplication::exec();
}
