// kelvora-bench-inquiry ADDRESS: the tool's main window, shown, presses Connect against the
// camera at ADDRESS and waits for the inquiry sequence to end. Prints the time from the
// click to "Camera END" in microseconds; exits 1 when the sequence fails.
#include "app/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

QtMessageHandler g_previous = nullptr;
QElapsedTimer g_clock;
qint64 g_endNs = -1;
bool g_failed = false;

// The debug log goes on as always; its markers tell where the sequence stands.
void watchLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message == QLatin1String("Camera END") && g_endNs < 0) {
        g_endNs = g_clock.nsecsElapsed();
        QCoreApplication::quit();
    } else if (message.startsWith(QLatin1String("Camera Err"))) {
        g_failed = true;
        QCoreApplication::quit();
    }
    if (g_previous)
        g_previous(type, context, message);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvora-bench-inquiry ADDRESS\n");
        return 2;
    }
    MainWindow window;
    window.show();
    auto* address = window.findChild<QLineEdit*>(QStringLiteral("IPAddressWriteSpace"));
    auto* connectButton = window.findChild<QPushButton*>(QStringLiteral("IPAddressButton"));
    if (!address || !connectButton)
        return 2;
    address->setText(QString::fromLocal8Bit(argv[1]));
    g_previous = qInstallMessageHandler(watchLog);

    // Once the window is up and idle, as when the operator clicks.
    QTimer::singleShot(50, &window, [connectButton] {
        g_clock.start();
        connectButton->click();
    });
    QTimer::singleShot(10000, &app, [] {
        g_failed = true;
        QCoreApplication::quit();
    });
    app.exec();
    qInstallMessageHandler(g_previous);
    if (g_failed || g_endNs < 0)
        return 1;
    std::printf("span_us=%lld\n", static_cast<long long>(g_endNs / 1000));
    return 0;
}
