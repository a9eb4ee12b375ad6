// kelvora-bench-manycameras: the many-camera window, shown, as an operator drives it.
//
//   kelvora-bench-manycameras scan TARGETS
//     TARGETS typed into the targets field and Return pressed; timed to the session's end of
//     the scan with every row filled.
//   kelvora-bench-manycameras update FOLDER TARGETS PARALLEL TICK_MS
//     the same scan, then FOLDER opened with every component that has a file ticked, and the
//     update of every camera, PARALLEL at once, its watchdog and reset waits ticked every
//     TICK_MS, the question answered yes; timed from the update's start to its end. The user
//     ID and password come from KELVORA_USER and KELVORA_PASSWORD.
//
// Beside each, a 10 ms timer in this process's event loop: the longest time between two of
// its ticks is how long the window did not answer its operator. Prints one line:
//   scan_us=.. scan_gap_us=.. rows=.. answered=.. [update_us=.. update_gap_us=.. succeeded=..]
// Every report, lock and history line goes to a temporary state folder, removed at the end.
// KELVORA_BENCH_TRACE=FILE appends each stop of the loop longer than 30 ms, the stages and
// how long the session's update() and confirm(true) held the loop, for finding the cause.
#include "bench/procstatus.h"
#include "manycameras/cameratablemodel.h"
#include "manycameras/manycameraswindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// With KELVORA_BENCH_TRACE=FILE: where the time went (the tool's own debug lines stay on stderr).
std::FILE* g_trace = nullptr;

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void trace(const char* format, ...)
{
    if (!g_trace)
        return;
    va_list ap;
    va_start(ap, format);
    std::vfprintf(g_trace, format, ap);
    va_end(ap);
    std::fflush(g_trace);
}

// The longest time between two ticks of a 10 ms timer since start().
class GapWatch : public QObject
{
public:
    explicit GapWatch(QObject* parent = nullptr)
        : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = qMax(m_longest, now - m_last);
            if (now - m_last > 30000000)
                trace("stop of %lld ms ending at %lld ms\n", (now - m_last) / 1000000, now / 1000000);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    // Up to now, the wait for the tick still due included.
    qint64 longestUs() const { return qMax(m_longest, m_clock.nsecsElapsed() - m_last) / 1000; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

QTemporaryDir* g_state = nullptr;

void fail(const char* what)
{
    if (g_state)
        g_state->remove();
    std::printf("failed: %s\n", what);
    std::fflush(stdout);
    std::exit(1);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (const char* file = std::getenv("KELVORA_BENCH_TRACE"); file && *file)
        g_trace = std::fopen(file, "a");
    const bool update = argc == 6 && std::strcmp(argv[1], "update") == 0;
    if (!update && !(argc == 3 && std::strcmp(argv[1], "scan") == 0)) {
        std::fprintf(stderr, "usage: kelvora-bench-manycameras scan TARGETS\n"
                             "       kelvora-bench-manycameras update FOLDER TARGETS PARALLEL TICK_MS\n");
        return 2;
    }
    const QString targets = QString::fromLocal8Bit(argv[update ? 3 : 2]);
    const int parallel = update ? std::atoi(argv[4]) : 0;
    const int tickMs = update ? std::atoi(argv[5]) : 0;

    // A measurement is no update of the developer's: its reports, locks and history stay here.
    QTemporaryDir state;
    if (!state.isValid())
        fail("no temporary state folder");
    g_state = &state;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), state.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), state.filePath(QStringLiteral("run")));
    const Credentials common = credentialsFromEnvironment(QProcessEnvironment::systemEnvironment());

    ManyCamerasWindow window(environment);
    window.resize(1280, 800);
    window.show();
    QElapsedTimer shown;
    shown.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && shown.elapsed() < 10000)
        app.processEvents(QEventLoop::AllEvents, 50);
    app.processEvents();

    SiteSession& session = window.session();
    CameraTableModel* model = session.model();
    GapWatch watch;
    QElapsedTimer clock;
    qint64 scanUs = 0, scanGapUs = 0;
    int answered = 0;
    QTimer::singleShot(300000, &app, [] { fail("timed out"); });

    // The window would ask these in message boxes; here the operator's answers are given.
    QObject::disconnect(&session, &SiteSession::confirmationDue, &window, nullptr);
    QObject::disconnect(&session, &SiteSession::refused, &window, nullptr);
    QObject::connect(&session, &SiteSession::refused, &app, [](const QString& why) {
        fail(why.toLocal8Bit().constData());
    });
    QObject::connect(&session, &SiteSession::confirmationDue, &session, [&] {
        const qint64 t = clock.elapsed();
        session.confirm(true);
        trace("confirm(true) from %lld to %lld ms\n", t, clock.elapsed());
    },
                     Qt::QueuedConnection);

    QObject::connect(&session, &SiteSession::updateFinished, &app, [&] {
        const qint64 updateUs = clock.nsecsElapsed() / 1000;
        const qint64 updateGapUs = watch.longestUs();
        int succeeded = 0;
        for (int r = 0; r < model->rowCount(); ++r)
            succeeded += model->standing(r) == CameraTableModel::Standing::Succeeded ? 1 : 0;
        std::printf("scan_us=%lld scan_gap_us=%lld rows=%d answered=%d update_us=%lld update_gap_us=%lld succeeded=%d "
                    "peak_kib=%ld\n",
                    scanUs, scanGapUs, model->rowCount(), answered, updateUs, updateGapUs, succeeded, peakResidentKib());
        app.exit(0);
    });

    QObject::connect(&session, &SiteSession::scanDone, &app, [&] {
        scanUs = clock.nsecsElapsed() / 1000;
        scanGapUs = watch.longestUs();
        for (int r = 0; r < model->rowCount(); ++r) {
            const CameraTableModel::Standing s = model->standing(r);
            if (s == CameraTableModel::Standing::Asking)
                fail("a row was still being asked at the scan's end");
            answered += s != CameraTableModel::Standing::Unanswered ? 1 : 0;
        }
        if (!update) {
            std::printf("scan_us=%lld scan_gap_us=%lld rows=%d answered=%d peak_kib=%ld\n", scanUs, scanGapUs,
                        model->rowCount(), answered, peakResidentKib());
            app.exit(0);
            return;
        }
        // The update starts from an idle session, after this signal has returned.
        QTimer::singleShot(0, &app, [&] {
            PlanChoice every;
            every.all = true;  // the cameras already hold the folder's version after a round
            session.setChoice(every);
            QString why;
            if (!session.openFolder(QString::fromLocal8Bit(argv[2]), &why))
                fail(why.toLocal8Bit().constData());
            if (int(model->tickedAddresses().size()) != answered)
                fail("not every camera that answered is ticked");
            session.setTickIntervals(tickMs, tickMs);
            UpdateOptions options;
            options.parallel = parallel;
            app.processEvents();
            watch.start();
            clock.start();
            if (!session.update(common, options, &why))
                fail(why.toLocal8Bit().constData());
            trace("update() returned at %lld ms\n", clock.elapsed());
        });
    });

    QObject::connect(&session, &SiteSession::stageChanged, &app,
                     [&](SiteSession::Stage s) { trace("stage %d at %lld ms\n", int(s), clock.elapsed()); });
    auto* edit = window.findChild<QLineEdit*>(QStringLiteral("targetsEdit"));
    if (!edit)
        fail("no targets field");
    edit->setFocus();
    edit->setText(targets);
    app.processEvents();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    watch.start();
    clock.start();
    QApplication::sendEvent(edit, &press);
    QApplication::sendEvent(edit, &release);
    if (session.stage() != SiteSession::Stage::Scanning)
        fail("Return did not start a scan");
    return app.exec();
}
