#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tintavo");
    QLabel label("Tintavo");
    label.show();
    return QApplication::exec();
}
