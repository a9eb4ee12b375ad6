// Soak: hundreds of consecutive update runs through the real windows (Connect, folder,
// Execute, credentials, progress) against the in-process simulated camera, each with a
// fault drawn from a fixed seed. Reports faults and ends by kind, hangs, crashes and the
// resident memory over the runs, and fails when an end is not the one the fault calls
// for, a run hangs or leaves something behind, a credential reaches the debug log, or
// memory keeps growing after the warm-up.
//
//   kelvora-soak [--runs N] [--seed S] [--warmup N] [--growth-bound-kib K]
#include "app/mainwindow.h"
#include "camera/caminfo.h"
#include "launch/credentials.h"
#include "launch/dialogpassword.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "tests/support/operator.h"
#include "tests/support/runrecords.h"
#include "update/dialogprogressbar.h"
#include "update/runstate.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QNetworkReply>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <malloc.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum class Fault {
    None,
    WrongCredentials,
    NoMarker,
    Http500,
    DropMidUpload,
    NeverBack,
    SlowAnswers,
    UploadUnanswered,
    WrongNetworkVersion,
    ModelAnswerCrLf,
    VersionWrongPrefix,
    VersionShort,
    Unreachable,
    BusyClosesConnection,
    BusyAnswersQid,
    NothingTicked,
    Count,
};

struct FaultKind {
    const char* name;
    int weight;  // relative chance of being drawn
};

const std::array<FaultKind, int(Fault::Count)> kFaults{{
    {"none", 4},
    {"wrong credentials", 1},
    {"no marker", 1},
    {"HTTP 500", 1},
    {"drop mid-upload", 1},
    {"never back", 1},
    {"slow answers", 1},
    {"upload unanswered", 1},
    {"wrong network version", 1},
    {"model answer CR LF", 1},
    {"version wrong prefix", 1},
    {"version too short", 1},
    {"camera unreachable", 1},
    {"busy: closes connection", 1},
    {"busy: answers QID:", 1},
    {"nothing ticked", 1},
}};

enum class End {
    Success,
    StartErr,
    VerUpErr,
    UpdateNG,
    UpdateErr,
    InquiryFailed,   // "Camera Err": an answer the window cannot use
    InquirySilent,   // cleared without a message: no answer at all
    FolderRefused,   // "File is NOT exist!"
    LaunchRefused,   // "MW_OpenPasswordDialog CamFileNone."
    Hang,
    Unknown,
    Count,
};

const std::array<const char*, int(End::Count)> kEndNames{{
    "success", "Start Err", "VerUp Err", "UpdateNG", "Update Err", "inquiry failed (Camera Err)",
    "inquiry failed (no answer)", "folder refused", "launch refused", "hang", "unknown",
}};

std::set<End> expectedEnds(Fault fault, int model)
{
    switch (fault) {
    case Fault::None:
    case Fault::SlowAnswers:
    case Fault::BusyClosesConnection:
    case Fault::BusyAnswersQid:
        return {End::Success};
    case Fault::WrongCredentials:
    case Fault::NoMarker:
    case Fault::Http500:
    case Fault::DropMidUpload:
        return {End::VerUpErr};
    case Fault::NeverBack:
    case Fault::UploadUnanswered:
        return {End::UpdateNG};
    case Fault::WrongNetworkVersion:
        return {End::UpdateErr};
    case Fault::ModelAnswerCrLf:
    case Fault::VersionWrongPrefix:
        return {End::InquiryFailed};
    case Fault::Unreachable:
        return {End::InquirySilent};
    case Fault::VersionShort:
        // The versions, cut short, identify no model; only a TK300 answer needs none of
        // them, and the folder's versions are what is checked before an update.
        return {model == CAM_MODELID_QV_TK300 ? End::Success : End::FolderRefused};
    case Fault::NothingTicked:
        return {End::StartErr};
    case Fault::Count:
        break;
    }
    return {};
}

End endOfMessage(const QString& text)
{
    static const std::map<QString, End> ends{
        {QStringLiteral("Process has been completed successfully."), End::Success},
        {QStringLiteral("Start Err"), End::StartErr},
        {QStringLiteral("VerUp Err"), End::VerUpErr},
        {QStringLiteral("UpdateNG"), End::UpdateNG},
        {QStringLiteral("Update Err"), End::UpdateErr},
        {QStringLiteral("Camera Err"), End::InquiryFailed},
        {QStringLiteral("File is NOT exist!"), End::FolderRefused},
        {QStringLiteral("MW_OpenPasswordDialog CamFileNone."), End::LaunchRefused},
    };
    const auto it = ends.find(text);
    return it == ends.end() ? End::Unknown : it->second;
}

const QString kUser = QStringLiteral("soak-operator");
const QString kPassword = QStringLiteral("s0ak:pa55");
const QString kWrongPassword = QStringLiteral("n0t-the-0ne");

// ---- What the debug log shows ----

struct LogWatch {
    std::atomic<qint64> lines{0};
    std::atomic<qint64> cameraErr1{0};
    std::atomic<qint64> cameraErr2{0};
    std::atomic<qint64> cameraEnd{0};
    std::atomic<qint64> secretLines{0};
    std::atomic<qint64> warnings{0};
    QStringList secrets;           // set before the first run, read only afterwards
    QStringList firstWarnings;     // GUI thread only
};
LogWatch g_log;

void logHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    ++g_log.lines;
    if (message == QLatin1String("Camera Err1"))
        ++g_log.cameraErr1;
    else if (message == QLatin1String("Camera Err2"))
        ++g_log.cameraErr2;
    else if (message == QLatin1String("Camera END"))
        ++g_log.cameraEnd;
    for (const QString& secret : std::as_const(g_log.secrets)) {
        if (message.contains(secret))
            ++g_log.secretLines;
    }
    if (type != QtDebugMsg && type != QtInfoMsg) {
        ++g_log.warnings;
        if (g_log.firstWarnings.size() < 5 && !g_log.firstWarnings.contains(message))
            g_log.firstWarnings << message;
    }
}

// ---- Crashes and a stuck event loop ----

std::atomic<int> g_run{0};
std::atomic<const char*> g_fault{"-"};
std::atomic<qint64> g_heartbeatMs{0};
constexpr qint64 kStuckLoopMs = 60000;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Async-signal-safe writing of a text and a number.
void writeText(const char* text)
{
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}
void writeNumber(long value)
{
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    unsigned long v = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v && n < 22);
    if (negative)
        digits[n++] = '-';
    char out[24];
    for (int i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    out[n] = '\0';
    writeText(out);
}

void onCrash(int signal)
{
    writeText("\nSOAK CRASHED: signal ");
    writeNumber(signal);
    writeText(" during run ");
    writeNumber(g_run.load());
    writeText(" (fault: ");
    writeText(g_fault.load());
    writeText("). The soak process has ended; runs before this one completed.\nRESULT: FAIL (crash)\n");
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installCrashReport()
{
    for (int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
        std::signal(s, onCrash);
}

// A watchdog beside the event loop: a slot that never returns stops the heartbeat, and
// the soak then ends itself with a report instead of hanging the caller.
void startLoopWatchdog(QObject* owner)
{
    g_heartbeatMs = nowMs();
    auto* beat = new QTimer(owner);
    QObject::connect(beat, &QTimer::timeout, [] { g_heartbeatMs = nowMs(); });
    beat->start(100);
    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            if (nowMs() - g_heartbeatMs.load() > kStuckLoopMs) {
                writeText("\nSOAK HUNG: the event loop has not run for ");
                writeNumber(long(kStuckLoopMs / 1000));
                writeText(" s during run ");
                writeNumber(g_run.load());
                writeText(" (fault: ");
                writeText(g_fault.load());
                writeText(").\nRESULT: FAIL (hang)\n");
                ::_exit(3);
            }
        }
    }).detach();
}

// What the allocator has handed out and not had back: tells a leak or a growing cache
// (this grows) from a heap that merely keeps freed pages (only the resident size grows).
long heapInUseKiB()
{
    const struct mallinfo2 m = mallinfo2();
    return long((m.uordblks + m.hblkhd) / 1024);
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Closes whatever modal window is left once a run has overrun its bound.
void closeModals()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        box->accept();
    else if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->done(QDialog::Rejected);
}

// ---- The soak ----

struct Options {
    int runs = 200;
    quint32 seed = 1;
    int warmup = 50;
    long growthBoundKiB = 4 * 1024;
};

struct RunRecord {
    int run;
    Fault fault;
    int model;
    End end;
    QStringList messages;
};

class Soak
{
public:
    explicit Soak(const Options& options)
        : m_options(options)
        , m_rng(options.seed)
    {
    }

    int exec();

private:
    bool setUp();
    Fault drawFault();
    int drawModel(Fault fault);
    End runOnce(int run, Fault fault, int model, QStringList* messages);
    bool connectFresh();
    void chooseTicks(Fault fault, int model);
    void settle();
    QString checkClean();
    bool waitFor(const std::function<bool()>& condition, int ms) { return QTest::qWaitFor(condition, ms); }
    template <typename T>
    T* child(const char* name) { return m_window->findChild<T*>(QLatin1String(name)); }
    int closedPort();
    int report(qint64 elapsedMs);

    Options m_options;
    std::mt19937 m_rng;
    CameraSim m_sim;
    QTemporaryDir m_dir;
    QString m_folder;            // the sample folder
    QString m_headerlessFolder;  // the same files without the line that makes the camera take their version
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Operator> m_operator;
    bool m_shortWatchdog = false;  // upload watchdog ticks shortened too

    std::array<int, int(Fault::Count)> m_faultCount{};
    std::array<int, int(End::Count)> m_endCount{};
    std::vector<RunRecord> m_mismatches;
    std::vector<QString> m_unclean;
    int m_hangs = 0;
    int m_runsDone = 0;
    int m_progressDialogs = 0;
    std::vector<std::pair<int, long>> m_rss;  // after run n (0: before the first)
    long m_rssStart = 0;
    long m_rssWarm = 0;
    long m_rssEnd = 0;
    long m_heapStart = 0;
    long m_heapWarm = 0;
    long m_heapEnd = 0;
};

bool Soak::setUp()
{
    if (!m_dir.isValid())
        return false;
    m_folder = m_dir.filePath(QStringLiteral("fw"));
    m_headerlessFolder = m_dir.filePath(QStringLiteral("fw-headerless"));
    SampleOptions headerless;
    headerless.withHeader = false;
    std::string error;
    if (!writeSampleFolder(m_folder.toStdString(), {}, &error)
        || !writeSampleFolder(m_headerlessFolder.toStdString(), headerless, &error)) {
        std::fprintf(stderr, "soak: cannot write the sample folders: %s\n", error.c_str());
        return false;
    }
    m_sim.setCredentials(kUser.toStdString(), kPassword.toStdString());
    m_sim.setRestartTime(std::chrono::milliseconds(20));
    // The log is cleared after every run; raw bodies are not needed at all.
    m_sim.setRecordRawBodies(false);
    m_sim.setKeepUploadContent(false);
    if (m_sim.start() <= 0) {
        std::fprintf(stderr, "soak: the simulated camera cannot listen on 127.0.0.1\n");
        return false;
    }
    for (const QString& password : {kPassword, kWrongPassword}) {
        g_log.secrets << password << basicCredential(kUser, password);
    }
    g_log.secrets << kUser;
    m_operator = std::make_unique<Operator>();
    m_operator->user = kUser;
    // The progress dialog's waits are shortened the moment it shows: before its modal loop
    // delivers the first reply, so even the first file's reset wait ticks fast.
    m_operator->onProgress = [this](DialogProgressBar* progress) {
        if (m_shortWatchdog) {
            progress->setTickInterval(1);
            // The first upload's watchdog started before the dialog showed.
            if (auto* watchdog = progress->findChild<QTimer*>(QStringLiteral("diapro_Timer1")); watchdog && watchdog->isActive())
                watchdog->start(1);
        } else
            progress->setResetWaitTickInterval(1);
    };
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    return true;
}

Fault Soak::drawFault()
{
    int total = 0;
    for (const FaultKind& f : kFaults)
        total += f.weight;
    int pick = std::uniform_int_distribution<int>(0, total - 1)(m_rng);
    for (int i = 0; i < int(Fault::Count); ++i) {
        pick -= kFaults[std::size_t(i)].weight;
        if (pick < 0)
            return Fault(i);
    }
    return Fault::None;
}

int Soak::drawModel(Fault fault)
{
    // A wrong network version is checked only after "img" files of models 1..3; a camera
    // that never comes back is waited for longest on their "bin" files, so it is drawn
    // among the models whose EEPROM files wait five minutes.
    if (fault == Fault::WrongNetworkVersion)
        return std::uniform_int_distribution<int>(CAM_MODELID_QV_TK10, CAM_MODELID_QV_TKD7_H)(m_rng);
    if (fault == Fault::NeverBack)
        return std::uniform_int_distribution<int>(CAM_MODELID_QV_TK300, kLastModelId)(m_rng);
    return std::uniform_int_distribution<int>(kFirstModelId, kLastModelId)(m_rng);
}

int Soak::closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

bool Soak::connectFresh()
{
    // After a finished sequence Connect sends the bare request; its refusal clears the window.
    if (m_window->mw_ReqCamIndex == 0)
        return true;
    child<QLineEdit>("IPAddressWriteSpace")->setText(QString::fromStdString(m_sim.address()));
    child<QPushButton>("IPAddressButton")->click();
    return waitFor([this] { return m_window->mw_ReqCamIndex == 0; }, 5000);
}

void Soak::chooseTicks(Fault fault, int model)
{
    std::vector<int> withFile;
    for (int i = 0; i < kComponentCount; ++i) {
        if (!(mw_VupFileInfo.*kComponents[std::size_t(i)].field).FileName.isEmpty())
            withFile.push_back(i);
    }
    std::shuffle(withFile.begin(), withFile.end(), m_rng);
    std::set<int> ticked;
    const int networkCpu = 1;
    const int camEeprom = 7;
    if (fault == Fault::NeverBack) {
        ticked.insert(camEeprom);
    } else if (fault != Fault::NothingTicked) {
        if (fault == Fault::WrongNetworkVersion)
            ticked.insert(networkCpu);
        const int want = std::uniform_int_distribution<int>(1, 3)(m_rng);
        for (int c : withFile) {
            if (int(ticked.size()) >= want)
                break;
            // The network CPU's "img" file of models 1..3 waits out its whole reset time:
            // only the wrong-version runs and one run in four take it.
            const bool slowImage = c == networkCpu && isTkd7Family(model);
            if (slowImage && fault != Fault::WrongNetworkVersion && std::uniform_int_distribution<int>(0, 3)(m_rng) != 0)
                continue;
            ticked.insert(c);
        }
    }
    for (int i = 0; i < kComponentCount; ++i)
        child<QCheckBox>(kComponents[std::size_t(i)].checkBox)->setChecked(ticked.count(i) > 0);
}

End Soak::runOnce(int run, Fault fault, int model, QStringList* messages)
{
    Operator& op = *m_operator;
    op.clear();
    op.password = kPassword;
    m_shortWatchdog = false;
    op.folder = fault == Fault::WrongNetworkVersion ? m_headerlessFolder : m_folder;

    m_sim.setModel(model);
    m_sim.setFaults({});
    m_sim.setBusyMode(SimBusyMode::HttpError);

    bool overran = false;
    QTimer bound;
    bound.setSingleShot(true);
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] { closeModals(); });
    QObject::connect(&bound, &QTimer::timeout, [&] {
        overran = true;
        closer.start(50);
    });
    bound.start(30000);

    auto finish = [&](End end) {
        *messages = op.texts();
        bound.stop();
        closer.stop();
        if (overran)
            return End::Hang;
        return end;
    };
    Q_UNUSED(run);

    if (!connectFresh())
        return finish(End::Hang);

    // Faults the inquiry meets.
    SimFaults faults;
    faults.modelAnswerCrLf = fault == Fault::ModelAnswerCrLf;
    faults.versionWrongPrefix = fault == Fault::VersionWrongPrefix;
    faults.versionShort = fault == Fault::VersionShort;
    if (fault == Fault::SlowAnswers) {
        faults.modelDelayMs = std::uniform_int_distribution<int>(20, 150)(m_rng);
        faults.versionDelayMs = std::uniform_int_distribution<int>(20, 60)(m_rng);
        faults.uploadDelayMs = std::uniform_int_distribution<int>(100, 400)(m_rng);
    }
    m_sim.setFaults(faults);
    const QString address = fault == Fault::Unreachable ? QStringLiteral("127.0.0.1:%1").arg(closedPort())
                                                         : QString::fromStdString(m_sim.address());
    child<QLineEdit>("IPAddressWriteSpace")->setText(address);

    const qint64 err1 = g_log.cameraErr1, err2 = g_log.cameraErr2, ended = g_log.cameraEnd;
    child<QPushButton>("IPAddressButton")->click();
    if (!waitFor([&] { return g_log.cameraErr1 != err1 || g_log.cameraErr2 != err2 || g_log.cameraEnd != ended; },
                 10000))
        return finish(End::Hang);
    if (g_log.cameraErr2 != err2)
        return finish(End::InquirySilent);
    if (g_log.cameraErr1 != err1) {
        // The box runs its own loop; the operator closes it.
        waitFor([&] { return !op.texts().isEmpty(); }, 2000);
        return finish(op.texts().isEmpty() ? End::Unknown : endOfMessage(op.texts().last()));
    }

    child<QToolButton>("VerUpFileButton")->click();
    if (!op.texts().isEmpty())
        return finish(endOfMessage(op.texts().last()));
    chooseTicks(fault, model);

    // Faults the update meets.
    switch (fault) {
    case Fault::WrongCredentials:
        op.password = kWrongPassword;
        break;
    case Fault::NoMarker:
        faults.upload = SimUploadFault::Refuse;
        break;
    case Fault::Http500:
        faults.upload = SimUploadFault::ServerError;
        break;
    case Fault::DropMidUpload:
        faults.upload = SimUploadFault::DropConnection;
        faults.dropAfterBodyBytes = std::uniform_int_distribution<std::size_t>(0, 400)(m_rng);
        break;
    case Fault::NeverBack:
        faults.upload = SimUploadFault::NeverReturn;
        break;
    case Fault::UploadUnanswered:
        // Longer than the run's 300 watchdog ticks, shortened for this run to 1 ms each.
        faults.uploadDelayMs = 1500;
        m_shortWatchdog = true;
        break;
    case Fault::BusyClosesConnection:
        m_sim.setBusyMode(SimBusyMode::CloseConnection);
        break;
    case Fault::BusyAnswersQid:
        m_sim.setBusyMode(SimBusyMode::QidAnswer);
        break;
    default:
        break;
    }
    m_sim.setFaults(faults);

    const int dialogsBefore = op.progressDialogs;
    child<QPushButton>("VersionUp_Button")->click();
    m_progressDialogs += op.progressDialogs - dialogsBefore;
    if (op.texts().isEmpty())
        return finish(End::Unknown);
    return finish(endOfMessage(op.texts().last()));
}

void Soak::settle()
{
    // What the event loop would release anyway once the nested loops have returned.
    QTest::qWait(5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Empty when nothing of the run is left behind; otherwise what is.
QString Soak::checkClean()
{
    QStringList left;
    if (QApplication::activeModalWidget())
        left << QStringLiteral("a modal window is open");
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<DialogProgressBar*>(w) || qobject_cast<DialogPassword*>(w) || qobject_cast<QFileDialog*>(w)
            || qobject_cast<QMessageBox*>(w))
            left << QStringLiteral("a %1 still exists").arg(QLatin1String(w->metaObject()->className()));
    }
    if (!runRecordsEmpty())
        left << QStringLiteral("the run state is not reset");
    const int replies = int(m_window->findChildren<QNetworkReply*>().size());
    if (replies > 0)
        left << QStringLiteral("%1 inquiry replies are still held").arg(replies);
    return left.join(QStringLiteral("; "));
}

int Soak::exec()
{
    if (!setUp())
        return 2;
    QElapsedTimer clock;
    clock.start();
    settle();
    m_rssStart = residentKiB();
    m_rss.emplace_back(0, m_rssStart);
    std::printf("Soak: %d runs, seed %u, simulated camera at %s\n", m_options.runs, m_options.seed,
                m_sim.address().c_str());
    m_heapStart = heapInUseKiB();
    std::printf("  run %4d  VmRSS %7ld KiB  heap in use %7ld KiB  (start)\n", 0, m_rssStart, m_heapStart);
    std::fflush(stdout);

    for (int run = 1; run <= m_options.runs; ++run) {
        const Fault fault = drawFault();
        const int model = drawModel(fault);
        g_run = run;
        g_fault = kFaults[std::size_t(fault)].name;
        ++m_faultCount[std::size_t(fault)];

        QStringList messages;
        const End end = runOnce(run, fault, model, &messages);
        ++m_endCount[std::size_t(end)];
        m_runsDone = run;
        if (end == End::Hang)
            ++m_hangs;
        const std::set<End> expected = expectedEnds(fault, model);
        if (!expected.count(end) || messages.size() > 1)
            m_mismatches.push_back({run, fault, model, end, messages});

        settle();
        // Each run starts from a quiet camera: a delayed answer of this run would otherwise
        // land in the next one (an upload the tool gave up on is still taken, and restarts it).
        waitFor([this] {
            const std::vector<SimRequest> log = m_sim.requests();
            return std::none_of(log.begin(), log.end(), [](const SimRequest& r) { return r.status == -1; });
        }, 5000);
        m_sim.finishRestartNow();
        m_sim.clearLog();
        const QString left = checkClean();
        if (!left.isEmpty())
            m_unclean.push_back(QStringLiteral("run %1 (%2): %3").arg(run).arg(QLatin1String(g_fault.load()), left));

        if (run == m_options.warmup) {
            m_rssWarm = residentKiB();
            m_heapWarm = heapInUseKiB();
        }
        if (run % 25 == 0 || run == m_options.runs) {
            const long rss = residentKiB();
            m_rss.emplace_back(run, rss);
            std::printf("  run %4d  VmRSS %7ld KiB  heap in use %7ld KiB  (%lld s)\n", run, rss, heapInUseKiB(),
                        clock.elapsed() / 1000);
            std::fflush(stdout);
        }
    }
    m_rssEnd = residentKiB();
    m_heapEnd = heapInUseKiB();
    if (m_rssWarm == 0) {
        m_rssWarm = m_rssStart;
        m_heapWarm = m_heapStart;
    }
    return report(clock.elapsed());
}

int Soak::report(qint64 elapsedMs)
{
    std::printf("\nSoak report: %d runs in %.1f s, seed %u\n", m_runsDone, double(elapsedMs) / 1000.0, m_options.seed);
    std::printf("Faults drawn:\n");
    for (int i = 0; i < int(Fault::Count); ++i)
        std::printf("  %-26s %4d\n", kFaults[std::size_t(i)].name, m_faultCount[std::size_t(i)]);
    std::printf("Ends:\n");
    for (int i = 0; i < int(End::Count); ++i)
        std::printf("  %-28s %4d\n", kEndNames[std::size_t(i)], m_endCount[std::size_t(i)]);
    std::printf("Progress dialogs run: %d\n", m_progressDialogs);

    std::printf("Ends other than the fault calls for: %zu\n", m_mismatches.size());
    for (std::size_t i = 0; i < m_mismatches.size() && i < 10; ++i) {
        const RunRecord& r = m_mismatches[i];
        std::printf("  run %d, fault %s, model %s: %s; messages: %s\n", r.run, kFaults[std::size_t(r.fault)].name,
                    qPrintable(modelIdName(r.model)), kEndNames[std::size_t(r.end)],
                    qPrintable(r.messages.join(QStringLiteral(" | "))));
    }
    std::printf("Hangs (a run's 30 s bound expired): %d\n", m_hangs);
    std::printf("Crashes: none; the process survived every run (a crash ends the process with a report)\n");
    std::printf("Runs leaving something behind: %zu\n", m_unclean.size());
    for (std::size_t i = 0; i < m_unclean.size() && i < 10; ++i)
        std::printf("  %s\n", qPrintable(m_unclean[i]));
    std::printf("Debug log: %lld lines, %lld with a credential, %lld warnings\n", g_log.lines.load(),
                g_log.secretLines.load(), g_log.warnings.load());
    for (const QString& w : std::as_const(g_log.firstWarnings))
        std::printf("  warning: %s\n", qPrintable(w));

    const long growth = m_rssEnd - m_rssWarm;
    std::printf("Resident memory (VmRSS): start %ld KiB, after warm-up (%d runs) %ld KiB, end %ld KiB\n", m_rssStart,
                std::min(m_options.warmup, m_runsDone), m_rssWarm, m_rssEnd);
    std::printf("  growth after warm-up %ld KiB (bound %ld KiB), %.1f KiB per run\n", growth,
                m_options.growthBoundKiB,
                m_runsDone > m_options.warmup ? double(growth) / (m_runsDone - m_options.warmup) : 0.0);
    std::printf("Heap in use: start %ld KiB, after warm-up %ld KiB, end %ld KiB\n", m_heapStart, m_heapWarm, m_heapEnd);

    QStringList failures;
    if (!m_mismatches.empty())
        failures << QStringLiteral("unexpected ends");
    if (m_hangs)
        failures << QStringLiteral("hangs");
    if (!m_unclean.empty())
        failures << QStringLiteral("runs left something behind");
    if (g_log.secretLines)
        failures << QStringLiteral("credential in the debug log");
    if (growth > m_options.growthBoundKiB)
        failures << QStringLiteral("memory grows");
    if (m_runsDone < m_options.runs)
        failures << QStringLiteral("runs missing");
    std::printf("RESULT: %s\n", failures.isEmpty() ? "PASS" : qPrintable(QStringLiteral("FAIL (") + failures.join(QStringLiteral(", ")) + QLatin1Char(')')));
    std::fflush(stdout);
    return failures.isEmpty() ? 0 : 1;
}

bool parseOptions(const QStringList& args, Options* options)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        bool ok = i + 1 < args.size();
        const QString value = ok ? args[i + 1] : QString();
        if (a == QLatin1String("--runs"))
            options->runs = value.toInt(&ok);
        else if (a == QLatin1String("--seed"))
            options->seed = value.toUInt(&ok);
        else if (a == QLatin1String("--warmup"))
            options->warmup = value.toInt(&ok);
        else if (a == QLatin1String("--growth-bound-kib"))
            options->growthBoundKiB = value.toLong(&ok);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "usage: kelvora-soak [--runs N] [--seed S] [--warmup N] [--growth-bound-kib K]\n");
            return false;
        }
        ++i;
    }
    return options->runs > 0 && options->warmup >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), &options))
        return 2;
    qInstallMessageHandler(logHandler);
    installCrashReport();
    startLoopWatchdog(&app);

    int result = 2;
    QTimer::singleShot(0, &app, [&] {
        Soak soak(options);
        result = soak.exec();
        app.quit();
    });
    app.exec();
    return result;
}
