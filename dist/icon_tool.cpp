// Writes the application icon, drawn in code, as the PNG file a desktop's menu shows.
// Usage: quavrel_icon OUT.png

#include "app/glyphs.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quavrel_icon OUT.png\n");
        return 2;
    }
    // Runs at build time, where there may be no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QImage icon = applicationIconImage();
    if (icon.size() != QSize(48, 48) || !icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "quavrel_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
