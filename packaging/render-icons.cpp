// Renders the application icon from its SVG artwork into the PNG sizes of the hicolor icon theme.
//
//   tamberlo-render-icons <icon.svg> <hicolor dir> <icon name> <size>...
//
// writes <hicolor dir>/<size>x<size>/apps/<icon name>.png for every size. Runs at build time, so
// the repository holds only the SVG.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QSvgRenderer>
#include <cstdio>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "tamberlo-render-icons: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // Rendering the artwork into an image needs no screen and no platform plugin, so a build on a
    // machine without a display works.
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return fail(QStringLiteral("usage: tamberlo-render-icons <icon.svg> <hicolor dir> "
                                   "<icon name> <size>..."));

    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid())
        return fail(QStringLiteral("cannot read %1 as SVG").arg(args.at(1)));
    const QDir hicolor(args.at(2));
    const QString iconName = args.at(3);

    for (qsizetype i = 4; i < args.size(); ++i) {
        bool ok = false;
        const int size = args.at(i).toInt(&ok);
        if (!ok || size < 1 || size > 1024)
            return fail(QStringLiteral("bad icon size \"%1\"").arg(args.at(i)));

        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }

        const QString subdir = QStringLiteral("%1x%1/apps").arg(size);
        if (!hicolor.mkpath(subdir))
            return fail(QStringLiteral("cannot create %1").arg(hicolor.filePath(subdir)));
        const QString file =
            hicolor.filePath(subdir + QLatin1Char('/') + iconName + QStringLiteral(".png"));
        if (!image.save(file, "PNG"))
            return fail(QStringLiteral("cannot write %1").arg(file));
    }
    return 0;
}
