// kelvora-bench-upload ADDRESS FIRMWARE_FILE...: the tool's progress dialog starts a run
// against the server at ADDRESS, exactly as after Execute, of a QV-TK300 set with the files
// given (one per component, in that order, all in one folder). With one file the process
// ends when the upload's reply reaches the dialog; with more, when the whole run has
// completed (the camera restarting at once, its waits ticked every few milliseconds).
// Prints the time from the start of the run to then and this process's peak resident
// memory; exits 1 when the run failed.
#include "common/debuglog.h"
#include "bench/procstatus.h"
#include "camera/caminfo.h"
#include "update/dialogprogressbar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

QtMessageHandler g_previous = nullptr;
QElapsedTimer g_clock;
bool g_wholeRun = false;

void report(const char* outcome)
{
    const long long spanUs = g_clock.nsecsElapsed() / 1000;
    std::printf("%s span_us=%lld peak_kib=%ld\n", outcome, spanUs, peakResidentKib());
    std::fflush(stdout);
}

// The dialog's debug log says when the reply has arrived; what follows (judging the
// bench server's answer, message boxes) is no part of the upload.
void watchLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (g_previous)
        g_previous(type, context, message);
    // A whole run's completion logs TimerStop before its message box.
    if (message == (g_wholeRun ? QStringLiteral("TimerStop") : QStringLiteral("■DEBUG■DIAPRO_finished()"))) {
        report(g_wholeRun ? "completed" : "replied");
        ::_exit(0);
    }
    if (message.startsWith(QLatin1String("UpdateNG")) || message == QStringLiteral("■DEBUG■VerUpFileNG")
        || (g_wholeRun && message.startsWith(QStringLiteral("■DEBUG■VerUp Start NG")))) {
        report("failed");
        ::_exit(1);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 3 || argc > 2 + kComponentCount) {
        std::fprintf(stderr, "usage: kelvora-bench-upload ADDRESS FIRMWARE_FILE...\n");
        return 2;
    }
    vup_file_info set;
    set.CamIPAddress = QString::fromLocal8Bit(argv[1]);
    set.Model = CAM_MODELID_QV_TK300;
    set.Base64 = QStringLiteral("YmVuY2g6YmVuY2g="); // a made-up user, never a real one
    g_wholeRun = argc > 3;
    // The first file goes as the camera software (kComponents' first), as one file always has.
    for (int i = 2; i < argc; ++i) {
        const QFileInfo firmware(QString::fromLocal8Bit(argv[i]));
        set.DirPath = firmware.absolutePath();
        set.*kComponents[std::size_t(i - 2)].field = {firmware.fileName(), QStringLiteral("V01.00"), i - 1, RMOCAM_TRUE};
    }

    g_previous = qInstallMessageHandler(watchLog);
    DialogProgressBar dialog;
    dialog.setResetWaitTickInterval(5);
    QTimer::singleShot(120000, &app, [] {
        report("timeout");
        ::_exit(1);
    });
    g_clock.start();
    if (dialog.DIAPRO_StartVerUp(set) != 0) {
        report("failed");
        return 1;
    }
    // Shown once the first file is posted, as the credentials dialog runs it; no modal
    // loop, so nothing waits for an operator.
    dialog.show();
    app.exec();
    return 1;
}
