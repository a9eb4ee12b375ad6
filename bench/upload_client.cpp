// kelvora-bench-upload ADDRESS FIRMWARE_FILE: the tool's progress dialog starts a run of
// one QV-TK300 file against the server at ADDRESS, exactly as after Execute, and the
// process ends when the upload's reply reaches the dialog. Prints the time from the
// start of the run to that reply and this process's peak resident memory; exits 1 when
// the dialog could not post the file.
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
    if (message == QStringLiteral("■DEBUG■DIAPRO_finished()")) {
        report("replied");
        ::_exit(0);
    }
    if (message.startsWith(QLatin1String("UpdateNG")) || message == QStringLiteral("■DEBUG■VerUpFileNG")) {
        report("failed");
        ::_exit(1);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelvora-bench-upload ADDRESS FIRMWARE_FILE\n");
        return 2;
    }
    const QFileInfo firmware(QString::fromLocal8Bit(argv[2]));
    vup_file_info set;
    set.DirPath = firmware.absolutePath();
    set.CamIPAddress = QString::fromLocal8Bit(argv[1]);
    set.Model = CAM_MODELID_QV_TK300;
    set.Base64 = QStringLiteral("YmVuY2g6YmVuY2g="); // a made-up user, never a real one
    set.cam_cpu.FileName = firmware.fileName();
    set.cam_cpu.Version = QStringLiteral("V01.00");
    set.cam_cpu.Vupno = 1;
    set.cam_cpu.Select = RMOCAM_TRUE;

    g_previous = qInstallMessageHandler(watchLog);
    DialogProgressBar dialog;
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
