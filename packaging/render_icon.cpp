// Renders the application's SVG icon into a square PNG at build time, so the installed PNG
// sizes always show the same picture as the SVG:
//   yunshan_render_icon <icon.svg> <size> <out.png>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = false;
    const int size = args.value(2).toInt(&ok);
    if (args.size() != 4 || !ok || size <= 0) {
        std::fputs("usage: yunshan_render_icon <icon.svg> <size> <out.png>\n", stderr);
        return 2;
    }
    QImageReader reader(args[1], "svg");
    reader.setScaledSize(QSize(size, size));
    QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "cannot render %s: %s\n", qPrintable(args[1]), qPrintable(reader.errorString()));
        return 1;
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (!image.save(args[3], "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[3]));
        return 1;
    }
    return 0;
}
