// Renders the window as a user first sees it into the PNG named on the command line, in the
// language the locale picks (LANGUAGE=en or LANGUAGE=zh_CN choose one).
#include "panel/Form1.h"
#include "panel/Language.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tamberlo"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    const tamberlo::Translations translations(tamberlo::systemPanelLanguage());
    tamberlo::Form1 window;
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
