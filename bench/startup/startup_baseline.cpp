// startup_baseline: the least a Qt Widgets program does to show a window of the
// same size with a line of text. bench_startup measures it beside lanfinder.
#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication Application(argc, argv);
    QWidget Window;
    Window.setWindowTitle(QStringLiteral("Baseline"));
    Window.setFixedSize(647, 348);
    QLabel Text(QStringLiteral("A window with one line of text."), &Window);
    Text.move(8, 8);
    Window.show();
    return Application.exec();
}
