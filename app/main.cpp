#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QWidget w;
    w.setWindowTitle(QStringLiteral("Quavrel"));
    w.show();
    return app.exec();
}
