#include "app/mainwindow.h"
#include "manycameras/manycameraswindow.h"
#include "kelvora/version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPointer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("kelvora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVORA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kelvora.Kelvora"));

    // --help and --version are answered before the window's application exists, so they need no
    // display. Every other argument is left to QApplication as before (-platform and the like).
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Updates the firmware of networked PTZ cameras of the QV- family: type the camera's address,\n"
        "press Connect, choose a firmware folder, tick the components and press Execute.\n"
        "Cameras > Many Cameras... (Ctrl+M) asks, plans and updates a site's cameras together."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption manyCameras(QStringLiteral("many-cameras"),
                                         QStringLiteral("Opens the many-camera window beside the main window."));
    parser.addOption(manyCameras);
    const QCommandLineOption version = parser.addVersionOption();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    if (parser.isSet(help) || parser.isSet(version)) {
        QCoreApplication app(argc, argv);
        const QString text = parser.isSet(help)
            ? parser.helpText()
            : QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
        std::fputs(qPrintable(text), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    MainWindow window;
    // One many-camera window at a time; closing it leaves the main window open.
    QPointer<ManyCamerasWindow> many;
    const auto openManyCameras = [&many] {
        if (!many) {
            many = new ManyCamerasWindow();
            many->setAttribute(Qt::WA_DeleteOnClose);
        }
        many->show();
        many->raise();
        many->activateWindow();
    };
    QObject::connect(&window, &MainWindow::manyCamerasRequested, &window, openManyCameras);
    window.show();
    if (parser.isSet(manyCameras))
        openManyCameras();
    const int status = app.exec();
    delete many;
    return status;
}
