// The yardsticks for the panel's start-up: an empty Qt Widgets window of the panel's size,
// or, with --text, the same window showing one Chinese caption, which makes Qt load its
// font database and a CJK fallback font as any window with such captions must.
#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.setFixedSize(469, 453);
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        new QLabel(QStringLiteral("打开串口"), &window);
    window.show();
    return QApplication::exec();
}
