// The references for start-up: the least a Qt Widgets program does to show an 800 x 600
// window, empty, or (KELVORA_BENCH_LABEL) with one line of text, which is what brings in
// the font system.
#include <QApplication>
#include <QWidget>
#ifdef KELVORA_BENCH_LABEL
#include <QLabel>
#endif

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(800, 600);
#ifdef KELVORA_BENCH_LABEL
    auto* label = new QLabel(QStringLiteral("Camera Information"), &window);
    label->move(10, 10);
#endif
    window.show();
    return app.exec();
}
