// Soak: hundreds of consecutive update runs through the real windows (Connect, folder,
// Execute, credentials, progress) against the in-process simulated camera, each with a
// fault drawn from a fixed seed. Reports faults and ends by kind, hangs, crashes and the
// resident memory over the runs, and fails when an end is not the one the fault calls
// for, a run hangs or leaves something behind, a credential reaches the debug log, or
// memory keeps growing after the warm-up, or the camera receives a byte after the run's end.
// With --fleet N the same faults are drawn per camera for N simulated cameras at once and
// each round updates them all with the fleet's driver; --runs then counts camera runs.
//
//   kelvora-soak [--runs N] [--seed S] [--warmup N] [--growth-bound-kib K] [--fleet N]
#include "app/mainwindow.h"
#include "camera/caminfo.h"
#include "camera/inquiry.h"
#include "fleet/fleetdriver.h"
#include "launch/componentversions.h"
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
#include <QDir>
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
    SilentModel,
    SilentVersion,
    SilentUpload,
    SilentReinquiry,
    AnswerEarly,
    Vanishes,
    BodyCutShort,
    Count,
};

struct FaultKind {
    const char* name;
    int weight;  // relative chance of being drawn
};

// The silent inquiries wait out the 10 s inquiry bound: drawn least, so 200 runs stay short.
const std::array<FaultKind, int(Fault::Count)> kFaults{{
    {"none", 8},
    {"wrong credentials", 2},
    {"no marker", 2},
    {"HTTP 500", 2},
    {"drop mid-upload", 2},
    {"never back", 2},
    {"slow answers", 2},
    {"upload unanswered", 2},
    {"wrong network version", 2},
    {"model answer CR LF", 2},
    {"version wrong prefix", 2},
    {"version too short", 2},
    {"camera unreachable", 2},
    {"busy: closes connection", 2},
    {"busy: answers QID:", 2},
    {"nothing ticked", 2},
    {"silent at Connect", 1},
    {"silent version inquiry", 1},
    {"silent upload", 2},
    {"silent re-inquiry", 2},
    {"answer before the body", 2},
    {"vanishes before Execute", 2},
    {"body still going out", 2},
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
    case Fault::AnswerEarly:
    case Fault::Vanishes:
        return {End::VerUpErr};
    case Fault::NeverBack:
    case Fault::UploadUnanswered:
    case Fault::SilentUpload:
    case Fault::BodyCutShort:
        return {End::UpdateNG};
    case Fault::SilentReinquiry:
        // The re-inquiry sent while the camera restarts is held; with 1 ms reset-wait ticks
        // the file's deadline usually comes long before the 10 s bound lets the run ask
        // again (UpdateNG), but a first tick that comes after the 20 ms restart, or a file
        // the network version check decides, finds the camera back.
        return {End::UpdateNG, End::Success};
    case Fault::WrongNetworkVersion:
        return {End::UpdateErr};
    case Fault::ModelAnswerCrLf:
    case Fault::VersionWrongPrefix:
        return {End::InquiryFailed};
    case Fault::Unreachable:
    case Fault::SilentModel:
    case Fault::SilentVersion:
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
    int fleet = 0;  // cameras updated together by the fleet's driver; 0: one at a time through the window
};

struct RunRecord {
    int run = 0;
    Fault fault = Fault::None;
    int model = 0;
    End end = End::Unknown;
    QStringList messages;
};

constexpr int kRunBoundMs = 30000;                         // a run through the window
constexpr int kRoundBoundMs = 60000;                       // a fleet round: a silent inquiry, then the runs
constexpr int kConnectWaitMs = kInquiryTimeoutMs + 5000;   // Connect outlasts a silent camera
constexpr int kLateBytesWaitMs = 100;                      // how long after its end a run is listened to
// The fleet's upload watchdog gives up after 300 ticks, about a second; ticks that come late
// on a busy machine stretch it, so an unanswered upload is answered only after 6 s.
constexpr int kFleetWatchdogTickMs = 3;
constexpr int kFleetUnansweredMs = 6000;

enum Folder { SampleFolder, HeaderlessFolder, BigFolder, FolderCount };

Folder folderFor(Fault fault)
{
    if (fault == Fault::WrongNetworkVersion)
        return HeaderlessFolder;
    return fault == Fault::AnswerEarly || fault == Fault::BodyCutShort ? BigFolder : SampleFolder;
}

// Faults that end a run at the upload watchdog: its ticks are shortened for them.
bool needsShortWatchdog(Fault fault)
{
    return fault == Fault::UploadUnanswered || fault == Fault::SilentUpload || fault == Fault::BodyCutShort;
}

// Faults the inquiry meets.
SimFaults inquiryFaults(Fault fault, std::mt19937& rng)
{
    SimFaults faults;
    faults.modelAnswerCrLf = fault == Fault::ModelAnswerCrLf;
    faults.versionWrongPrefix = fault == Fault::VersionWrongPrefix;
    faults.versionShort = fault == Fault::VersionShort;
    faults.silentModel = fault == Fault::SilentModel;
    faults.silentVersion = fault == Fault::SilentVersion;
    if (fault == Fault::SlowAnswers) {
        faults.modelDelayMs = std::uniform_int_distribution<int>(20, 150)(rng);
        faults.versionDelayMs = std::uniform_int_distribution<int>(20, 60)(rng);
        faults.uploadDelayMs = std::uniform_int_distribution<int>(100, 400)(rng);
    }
    return faults;
}

// Faults the update meets, added to the inquiry's (credentials are the caller's). An
// unanswered upload is answered after `unansweredMs`, well past the shortened watchdog.
void applyUpdateFault(Fault fault, CameraSim& sim, SimFaults& faults, int unansweredMs, std::mt19937& rng)
{
    switch (fault) {
    case Fault::NoMarker:
        faults.upload = SimUploadFault::Refuse;
        break;
    case Fault::Http500:
        faults.upload = SimUploadFault::ServerError;
        break;
    case Fault::DropMidUpload:
        faults.upload = SimUploadFault::DropConnection;
        faults.dropAfterBodyBytes = std::uniform_int_distribution<std::size_t>(0, 400)(rng);
        break;
    case Fault::NeverBack:
        faults.upload = SimUploadFault::NeverReturn;
        break;
    case Fault::UploadUnanswered:
        faults.uploadDelayMs = unansweredMs;
        break;
    case Fault::BusyClosesConnection:
        sim.setBusyMode(SimBusyMode::CloseConnection);
        break;
    case Fault::BusyAnswersQid:
        sim.setBusyMode(SimBusyMode::QidAnswer);
        break;
    case Fault::SilentUpload:
        faults.silentUpload = true;
        break;
    case Fault::SilentReinquiry:
        sim.setBusyMode(SimBusyMode::Silent);
        break;
    case Fault::AnswerEarly:
        faults.upload = SimUploadFault::AnswerEarly;
        break;
    case Fault::BodyCutShort:
        // The 32 MB file would take half a minute; the watchdog ends the run long before.
        faults.uploadReadBytesPerSecond = 1 << 20;
        break;
    case Fault::Vanishes:
        sim.stop();
        break;
    default:
        break;
    }
    sim.setFaults(faults);
}

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
    bool writeBigFolder();
    Fault drawFault();
    int drawModel(Fault fault);
    std::set<int> drawTicks(Fault fault, int model, const vup_file_info& files);
    RunRecord runWindow(int run);
    End runOnce(Fault fault, int model, QStringList* messages);
    std::vector<RunRecord> runRound(int firstRun, int cameras);
    bool connectFresh();
    void settle();
    bool waitQuiet(CameraSim& sim);
    void markEnd(const CameraSim& sim, qint64* bytes);
    void checkLateBytes(const RunRecord& r, const CameraSim& sim, qint64 bytesAtEnd);
    QString checkClean();
    void count(const RunRecord& r);
    bool waitFor(const std::function<bool()>& condition, int ms) { return QTest::qWaitFor(condition, ms); }
    template <typename T>
    T* child(const char* name) { return m_window->findChild<T*>(QLatin1String(name)); }
    int closedPort();
    int report(qint64 elapsedMs);

    Options m_options;
    std::mt19937 m_rng;
    CameraSim m_sim;
    std::vector<std::unique_ptr<CameraSim>> m_fleet;
    std::vector<int> m_ports;  // of m_sim, or of each fleet camera: a camera that vanished comes back there
    QTemporaryDir m_dir;
    // The sample folder, the same files without the line that makes the camera take their
    // version, and the sample folder with a 32 MB servo file.
    std::array<QString, FolderCount> m_folders;
    std::array<FirmwareFolder, FolderCount> m_plans;  // the fleet's reading of each
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Operator> m_operator;
    bool m_shortWatchdog = false;  // upload watchdog ticks shortened too
    qint64 m_bytesAtEnd = -1;      // what the window's camera had received when the end showed
    QElapsedTimer m_endClock;      // since the last end

    std::array<int, int(Fault::Count)> m_faultCount{};
    std::array<int, int(End::Count)> m_endCount{};
    std::vector<RunRecord> m_mismatches;
    std::vector<QString> m_unclean;
    std::vector<QString> m_lateBytes;
    std::vector<QString> m_disturbed;
    int m_faultFreeBesideFaults = 0;
    int m_hangs = 0;
    int m_runsDone = 0;
    int m_progressDialogs = 0;
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
    m_folders = {m_dir.filePath(QStringLiteral("fw")), m_dir.filePath(QStringLiteral("fw-headerless")),
                 m_dir.filePath(QStringLiteral("fw-big"))};
    SampleOptions headerless;
    headerless.withHeader = false;
    std::string error;
    if (!writeSampleFolder(m_folders[SampleFolder].toStdString(), {}, &error)
        || !writeSampleFolder(m_folders[HeaderlessFolder].toStdString(), headerless, &error)
        || !writeSampleFolder(m_folders[BigFolder].toStdString(), {}, &error) || !writeBigFolder()) {
        std::fprintf(stderr, "soak: cannot write the sample folders: %s\n", error.c_str());
        return false;
    }
    const int cameras = std::max(1, m_options.fleet);
    for (int i = 0; i < m_options.fleet; ++i)
        m_fleet.push_back(std::make_unique<CameraSim>());
    for (int i = 0; i < cameras; ++i) {
        CameraSim& sim = m_options.fleet ? *m_fleet[std::size_t(i)] : m_sim;
        sim.setCredentials(kUser.toStdString(), kPassword.toStdString());
        sim.setRestartTime(std::chrono::milliseconds(20));
        // The log is cleared after every run; raw bodies are not needed at all.
        sim.setRecordRawBodies(false);
        sim.setKeepUploadContent(false);
        m_ports.push_back(sim.start());
        if (m_ports.back() <= 0) {
            std::fprintf(stderr, "soak: the simulated camera cannot listen on 127.0.0.1\n");
            return false;
        }
    }
    for (const QString& password : {kPassword, kWrongPassword}) {
        g_log.secrets << password << basicCredential(kUser, password);
    }
    g_log.secrets << kUser;
    if (m_options.fleet) {
        QString error;
        for (int f = 0; f < FolderCount; ++f) {
            if (!m_plans[std::size_t(f)].open(m_folders[std::size_t(f)], &error)) {
                std::fprintf(stderr, "soak: cannot read %s: %s\n", qPrintable(m_folders[std::size_t(f)]), qPrintable(error));
                return false;
            }
        }
        return true;
    }
    m_operator = std::make_unique<Operator>();
    m_operator->user = kUser;
    m_operator->onMessage = [this](const QString&) {
        if (m_bytesAtEnd < 0)
            markEnd(m_sim, &m_bytesAtEnd);
    };
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

// The servo CPU file that the models from TK300 on share, made bigger than the
// connection's buffers: 32 MB after its first line.
bool Soak::writeBigFolder()
{
    for (const SampleFile& f : sampleFirmwareFiles(CAM_MODELID_QV_TK300)) {
        if (f.component != SIM_SERVO_CPU)
            continue;
        QFile file(QDir(m_folders[BigFolder]).filePath(QString::fromStdString(f.fileName)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write(QByteArray::fromStdString(simFirmwareHeader(simComponentName(f.component), f.version)));
        const QByteArray chunk(1 << 20, 'k');
        for (int i = 0; i < 32; ++i)
            file.write(chunk);
        return file.flush();
    }
    return false;
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
    // among the models whose EEPROM files wait five minutes. The 32 MB file is the servo
    // file of the models from TK300 on.
    if (fault == Fault::WrongNetworkVersion)
        return std::uniform_int_distribution<int>(CAM_MODELID_QV_TK10, CAM_MODELID_QV_TKD7_H)(m_rng);
    if (fault == Fault::NeverBack || folderFor(fault) == BigFolder)
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

// The components sent: indices in kComponents of files the model has.
std::set<int> Soak::drawTicks(Fault fault, int model, const vup_file_info& files)
{
    const int networkCpu = 1;
    const int servoCpu = 2;
    const int camEeprom = 7;
    if (fault == Fault::NeverBack)
        return {camEeprom};
    if (folderFor(fault) == BigFolder)
        return {servoCpu};
    if (fault == Fault::NothingTicked)
        return {};
    std::vector<int> withFile;
    for (int i = 0; i < kComponentCount; ++i) {
        if (!(files.*kComponents[std::size_t(i)].field).FileName.isEmpty())
            withFile.push_back(i);
    }
    std::shuffle(withFile.begin(), withFile.end(), m_rng);
    std::set<int> ticked;
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
    return ticked;
}

void Soak::markEnd(const CameraSim& sim, qint64* bytes)
{
    *bytes = qint64(sim.bytesReceived());
    m_endClock.start();
}

// ---- One run through the window ----

RunRecord Soak::runWindow(int run)
{
    RunRecord r;
    r.run = run;
    r.fault = drawFault();
    r.model = drawModel(r.fault);
    g_fault = kFaults[std::size_t(r.fault)].name;
    m_bytesAtEnd = -1;
    r.end = runOnce(r.fault, r.model, &r.messages);

    settle();
    // Each run starts from a quiet camera: a delayed answer of this run would otherwise
    // land in the next one (an upload the tool gave up on is still taken, and restarts it).
    if (!waitQuiet(m_sim))
        m_unclean.push_back(QStringLiteral("run %1: the camera still holds a request").arg(run));
    if (!m_sim.isRunning() && m_sim.start(m_ports[0]) != m_ports[0])
        m_unclean.push_back(QStringLiteral("run %1: the camera cannot listen on its port again").arg(run));
    checkLateBytes(r, m_sim, m_bytesAtEnd);
    m_sim.finishRestartNow();
    m_sim.clearLog();
    const QString left = checkClean();
    if (!left.isEmpty())
        m_unclean.push_back(QStringLiteral("run %1 (%2): %3").arg(run).arg(QLatin1String(g_fault.load()), left));
    return r;
}

End Soak::runOnce(Fault fault, int model, QStringList* messages)
{
    Operator& op = *m_operator;
    op.clear();
    op.password = fault == Fault::WrongCredentials ? kWrongPassword : kPassword;
    m_shortWatchdog = needsShortWatchdog(fault);
    op.folder = m_folders[folderFor(fault)];

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
    bound.start(kRunBoundMs);

    auto finish = [&](End end) {
        *messages = op.texts();
        bound.stop();
        closer.stop();
        if (overran)
            return End::Hang;
        return end;
    };

    if (!connectFresh())
        return finish(End::Hang);

    SimFaults faults = inquiryFaults(fault, m_rng);
    m_sim.setFaults(faults);
    const QString address = fault == Fault::Unreachable ? QStringLiteral("127.0.0.1:%1").arg(closedPort())
                                                         : QString::fromStdString(m_sim.address());
    child<QLineEdit>("IPAddressWriteSpace")->setText(address);

    const qint64 err1 = g_log.cameraErr1, err2 = g_log.cameraErr2, ended = g_log.cameraEnd;
    child<QPushButton>("IPAddressButton")->click();
    if (!waitFor([&] { return g_log.cameraErr1 != err1 || g_log.cameraErr2 != err2 || g_log.cameraEnd != ended; },
                 kConnectWaitMs))
        return finish(End::Hang);
    if (g_log.cameraErr2 != err2) {
        markEnd(m_sim, &m_bytesAtEnd);  // the window clears without a message
        return finish(End::InquirySilent);
    }
    if (g_log.cameraErr1 != err1) {
        // The box runs its own loop; the operator closes it.
        waitFor([&] { return !op.texts().isEmpty(); }, 2000);
        return finish(op.texts().isEmpty() ? End::Unknown : endOfMessage(op.texts().last()));
    }

    child<QToolButton>("VerUpFileButton")->click();
    if (!op.texts().isEmpty())
        return finish(endOfMessage(op.texts().last()));
    const std::set<int> ticked = drawTicks(fault, model, mw_VupFileInfo);
    for (int i = 0; i < kComponentCount; ++i)
        child<QCheckBox>(kComponents[std::size_t(i)].checkBox)->setChecked(ticked.count(i) > 0);
    // Longer than the run's 300 watchdog ticks, shortened to 1 ms each.
    applyUpdateFault(fault, m_sim, faults, 1500, m_rng);

    const int dialogsBefore = op.progressDialogs;
    child<QPushButton>("VersionUp_Button")->click();
    m_progressDialogs += op.progressDialogs - dialogsBefore;
    if (op.texts().isEmpty())
        return finish(End::Unknown);
    return finish(endOfMessage(op.texts().last()));
}

// ---- One round of the fleet ----

std::vector<RunRecord> Soak::runRound(int firstRun, int cameras)
{
    std::vector<RunRecord> records(static_cast<std::size_t>(cameras));
    std::vector<SimFaults> faults;
    QStringList addresses;
    for (int i = 0; i < cameras; ++i) {
        RunRecord& r = records[std::size_t(i)];
        CameraSim& sim = *m_fleet[std::size_t(i)];
        r.run = firstRun + i;
        r.fault = drawFault();
        r.model = drawModel(r.fault);
        sim.setModel(r.model);
        sim.setBusyMode(SimBusyMode::HttpError);
        faults.push_back(inquiryFaults(r.fault, m_rng));
        sim.setFaults(faults.back());
        addresses << (r.fault == Fault::Unreachable ? QStringLiteral("127.0.0.1:%1").arg(closedPort())
                                                     : QString::fromStdString(sim.address()));
    }
    g_fault = "fleet round";

    FleetDriver driver;
    driver.setTickIntervals(kFleetWatchdogTickMs, 1);
    std::vector<qint64> bytesAtEnd(static_cast<std::size_t>(cameras), -1);
    QObject::connect(&driver, &FleetDriver::statusChanged, [&](const CameraStatus& s) {
        const int i = int(addresses.indexOf(s.address));
        if (s.phase == CameraStatus::Phase::Ended && i >= 0 && bytesAtEnd[std::size_t(i)] < 0)
            markEnd(*m_fleet[std::size_t(i)], &bytesAtEnd[std::size_t(i)]);
    });
    // Past the bound every camera is stopped; one that had not ended counts as hung.
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&] { driver.stopNow(); });
    bound.start(kRoundBoundMs);
    driver.inquire(addresses, cameras);
    waitFor([&] { return driver.inquiriesFinished(); }, kRoundBoundMs + 5000);

    // The window's ticks, drawn among the components whose version the camera reports (the
    // fleet can check no other after the run); a camera with nothing ticked is asked for a
    // component its model has no file for.
    std::vector<PlanEntry> entries;
    for (int i = 0; i < cameras; ++i) {
        const RunRecord& r = records[std::size_t(i)];
        FirmwareFolder& folder = m_plans[folderFor(r.fault)];
        PlanEntry entry;
        entry.scan = driver.scans()[std::size_t(i)];
        vup_file_info files = folder.model(r.model).set;
        for (int c = 0; c < kComponentCount; ++c) {
            if (entry.scan.ok && cameraVersion(entry.scan.camera, c).isEmpty())
                (files.*kComponents[std::size_t(c)].field).FileName.clear();
        }
        PlanChoice choice;
        choice.all = true;
        for (int c : drawTicks(r.fault, r.model, files))
            choice.only.insert(c);
        for (int c = 0; r.fault == Fault::NothingTicked && choice.only.isEmpty() && c < kComponentCount; ++c) {
            if ((folder.model(r.model).set.*kComponents[std::size_t(c)].field).FileName.isEmpty())
                choice.only.insert(c);
        }
        if (r.fault == Fault::WrongCredentials)
            faults[std::size_t(i)].rejectCredentials = true;
        applyUpdateFault(r.fault, *m_fleet[std::size_t(i)], faults[std::size_t(i)], kFleetUnansweredMs, m_rng);
        if (entry.scan.ok)
            entry.plan = planCamera(folder, entry.scan.camera, choice);
        entries.push_back(entry);
    }
    const QString credential = basicCredential(kUser, kPassword);
    UpdateOptions options;
    options.parallel = cameras;
    driver.update(entries, std::vector<QString>(entries.size(), credential), options);
    waitFor([&] { return driver.updatesFinished(); }, kRoundBoundMs + 5000);
    bound.stop();

    // Each camera's end as the window would show it: an unreachable camera by the reason
    // its inquiry failed, every other by the window's text for its end.
    bool anyFault = false;
    for (const RunRecord& r : records)
        anyFault = anyFault || r.fault != Fault::None;
    for (int i = 0; i < cameras; ++i) {
        RunRecord& r = records[std::size_t(i)];
        const CameraReport& report = driver.reports()[std::size_t(i)];
        const QString& why = entries[std::size_t(i)].scan.error;
        if (!driver.updatesFinished() || report.end == FleetEnd::Stopped)
            r.end = End::Hang;
        // Where the fleet has nothing to send, the window's Execute would say "Start Err".
        else if (report.end == FleetEnd::NothingToSend)
            r.end = End::StartErr;
        else if (report.end != FleetEnd::Unreachable)
            r.end = endOfMessage(report.message);
        else
            r.end = why == QLatin1String("not a camera of this family") ? End::InquiryFailed
                : why == QLatin1String("unknown model")                ? End::FolderRefused
                                                                        : End::InquirySilent;
        r.messages << fleetEndName(report.end) + QLatin1Char(' ') + (report.message.isEmpty() ? why : report.message);
        if (r.fault == Fault::None && anyFault) {
            ++m_faultFreeBesideFaults;
            if (!(report.end == FleetEnd::Completed && report.verified))
                m_disturbed.push_back(QStringLiteral("run %1: %2").arg(r.run).arg(r.messages.join(QString())));
        }
    }

    settle();
    for (int i = 0; i < cameras; ++i) {
        CameraSim& sim = *m_fleet[std::size_t(i)];
        if (!waitQuiet(sim))
            m_unclean.push_back(QStringLiteral("run %1: the camera still holds a request").arg(firstRun + i));
        if (!sim.isRunning() && sim.start(m_ports[std::size_t(i)]) != m_ports[std::size_t(i)])
            m_unclean.push_back(QStringLiteral("run %1: the camera cannot listen on its port again").arg(firstRun + i));
        checkLateBytes(records[std::size_t(i)], sim, bytesAtEnd[std::size_t(i)]);
        sim.finishRestartNow();
        sim.clearLog();
    }
    if (const auto left = driver.findChildren<QObject*>(); !left.isEmpty())
        m_unclean.push_back(QStringLiteral("round from run %1: the driver still holds %2 objects").arg(firstRun).arg(left.size()));
    return records;
}

// ---- After each run ----

void Soak::settle()
{
    // What the event loop would release anyway once the nested loops have returned.
    QTest::qWait(5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// False when the camera still holds a request open or has not answered one.
bool Soak::waitQuiet(CameraSim& sim)
{
    return waitFor([&sim] {
        const std::vector<SimRequest> log = sim.requests();
        return sim.heldRequests() == 0
            && std::none_of(log.begin(), log.end(), [](const SimRequest& r) { return r.status == -1 && !r.held; });
    }, kFleetUnansweredMs + 4000);
}

// Nothing the tool sends may reach the camera once the run's end has shown.
void Soak::checkLateBytes(const RunRecord& r, const CameraSim& sim, qint64 bytesAtEnd)
{
    if (bytesAtEnd < 0)
        return;
    QTest::qWait(int(std::max<qint64>(0, kLateBytesWaitMs - m_endClock.elapsed())));
    const qint64 late = qint64(sim.bytesReceived()) - bytesAtEnd;
    if (late != 0)
        m_lateBytes.push_back(QStringLiteral("run %1 (%2): %3 bytes").arg(r.run).arg(QLatin1String(kFaults[std::size_t(r.fault)].name)).arg(late));
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

void Soak::count(const RunRecord& r)
{
    ++m_faultCount[std::size_t(r.fault)];
    ++m_endCount[std::size_t(r.end)];
    m_runsDone = r.run;
    if (r.end == End::Hang)
        ++m_hangs;
    if (!expectedEnds(r.fault, r.model).count(r.end) || r.messages.size() > 1)
        m_mismatches.push_back(r);
}

int Soak::exec()
{
    if (!setUp())
        return 2;
    QElapsedTimer clock;
    clock.start();
    settle();
    m_rssStart = residentKiB();
    if (m_options.fleet)
        std::printf("Soak: %d camera runs, seed %u, fleets of %d simulated cameras\n", m_options.runs, m_options.seed,
                    m_options.fleet);
    else
        std::printf("Soak: %d runs, seed %u, simulated camera at %s\n", m_options.runs, m_options.seed,
                    m_sim.address().c_str());
    m_heapStart = heapInUseKiB();
    std::printf("  run %4d  VmRSS %7ld KiB  heap in use %7ld KiB  (start)\n", 0, m_rssStart, m_heapStart);
    std::fflush(stdout);

    while (m_runsDone < m_options.runs) {
        const int before = m_runsDone;
        g_run = before + 1;
        const std::vector<RunRecord> records = m_options.fleet
            ? runRound(before + 1, std::min(m_options.fleet, m_options.runs - before))
            : std::vector<RunRecord>{runWindow(before + 1)};
        for (const RunRecord& r : records)
            count(r);
        if (before < m_options.warmup && m_runsDone >= m_options.warmup) {
            m_rssWarm = residentKiB();
            m_heapWarm = heapInUseKiB();
        }
        if (m_runsDone / 25 != before / 25 || m_runsDone == m_options.runs) {
            std::printf("  run %4d  VmRSS %7ld KiB  heap in use %7ld KiB  (%lld s)\n", m_runsDone, residentKiB(),
                        heapInUseKiB(), clock.elapsed() / 1000);
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
    std::printf("\nSoak report: %d %sruns in %.1f s, seed %u\n", m_runsDone, m_options.fleet ? "camera " : "",
                double(elapsedMs) / 1000.0, m_options.seed);
    if (m_options.fleet)
        std::printf("Fleet: %d simulated cameras a round, updated together by the fleet's driver\n", m_options.fleet);
    std::printf("Faults drawn:\n");
    for (int i = 0; i < int(Fault::Count); ++i)
        std::printf("  %-26s %4d\n", kFaults[std::size_t(i)].name, m_faultCount[std::size_t(i)]);
    std::printf("Ends:\n");
    for (int i = 0; i < int(End::Count); ++i)
        std::printf("  %-28s %4d\n", kEndNames[std::size_t(i)], m_endCount[std::size_t(i)]);
    if (!m_options.fleet)
        std::printf("Progress dialogs run: %d\n", m_progressDialogs);

    std::printf("Ends other than the fault calls for: %zu\n", m_mismatches.size());
    for (std::size_t i = 0; i < m_mismatches.size() && i < 10; ++i) {
        const RunRecord& r = m_mismatches[i];
        std::printf("  run %d, fault %s, model %s: %s; messages: %s\n", r.run, kFaults[std::size_t(r.fault)].name,
                    qPrintable(modelIdName(r.model)), kEndNames[std::size_t(r.end)],
                    qPrintable(r.messages.join(QStringLiteral(" | "))));
    }
    std::printf("Hangs (a %s's %d s bound expired): %d\n", m_options.fleet ? "round" : "run",
                (m_options.fleet ? kRoundBoundMs : kRunBoundMs) / 1000, m_hangs);
    std::printf("Crashes: none; the process survived every run (a crash ends the process with a report)\n");
    std::printf("Runs leaving something behind: %zu\n", m_unclean.size());
    for (std::size_t i = 0; i < m_unclean.size() && i < 10; ++i)
        std::printf("  %s\n", qPrintable(m_unclean[i]));
    std::printf("Runs whose camera received bytes after the end showed (%d ms later): %zu\n", kLateBytesWaitMs,
                m_lateBytes.size());
    for (std::size_t i = 0; i < m_lateBytes.size() && i < 10; ++i)
        std::printf("  %s\n", qPrintable(m_lateBytes[i]));
    if (m_options.fleet) {
        std::printf("Fault-free cameras in a round with faulty ones: %d, not completed and verified: %zu\n",
                    m_faultFreeBesideFaults, m_disturbed.size());
        for (std::size_t i = 0; i < m_disturbed.size() && i < 10; ++i)
            std::printf("  %s\n", qPrintable(m_disturbed[i]));
    }
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
    if (!m_lateBytes.empty())
        failures << QStringLiteral("bytes after the end");
    if (!m_disturbed.empty())
        failures << QStringLiteral("faulty cameras disturbed others");
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
        else if (a == QLatin1String("--fleet"))
            options->fleet = value.toInt(&ok);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "usage: kelvora-soak [--runs N] [--seed S] [--warmup N] [--growth-bound-kib K] [--fleet N]\n");
            return false;
        }
        ++i;
    }
    return options->runs > 0 && options->warmup >= 0 && options->fleet >= 0;
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
