#include "manycameras/sitesession.h"

#include "fleet/cameralog.h"
#include "fleet/fleetdriver.h"
#include "fleet/fleetpolicy.h"
#include "fleet/history.h"
#include "kelvora/version.h"
#include "update/updatelock.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <map>

namespace {

// Locks taken in one turn of the event loop: a lock file each, on whatever disk holds them.
constexpr int kLocksPerTurn = 32;

QString plural(qsizetype n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// A folder of the user's own, as the history's and the logs' are.
bool makePrivateFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The trace folder beside a report: "update-....json" keeps its cameras' logs in "update-....logs".
QString logFolderOf(const QString& reportPath)
{
    QString base = reportPath;
    if (base.endsWith(QLatin1String(".json")))
        base.chop(5);
    return base + QStringLiteral(".logs");
}

} // namespace

SiteSession::SiteSession(const QProcessEnvironment& environment, QObject* parent)
    : QObject(parent)
    , m_environment(environment)
{
}

SiteSession::~SiteSession() = default;

void SiteSession::setStage(Stage stage)
{
    if (m_stage == stage)
        return;
    m_stage = stage;
    emit stageChanged(stage);
}

void SiteSession::setTickIntervals(int watchdogMs, int resetWaitMs)
{
    m_watchdogTickMs = watchdogMs;
    m_resetWaitTickMs = resetWaitMs;
}

bool SiteSession::scan(const QString& targets, const QString& excludes, int parallel, QString* why)
{
    if (m_stage != Stage::Idle) {
        *why = QStringLiteral("wait until the cameras being asked or updated are done");
        return false;
    }
    const QStringList items = targetItems(targets);
    if (items.isEmpty()) {
        *why = QStringLiteral("no target: type addresses, HOST:PORT, ranges such as 192.0.2.0/24, or @FILE");
        return false;
    }
    QStringList addresses;
    if (!camerasOf(items, targetItems(excludes), &addresses, why))
        return false;

    m_plans.clear();
    m_model.setTargets(addresses);
    m_scanner = std::make_unique<FleetDriver>();
    FleetDriver* driver = m_scanner.get();
    connect(driver, &FleetDriver::cameraAnswered, this, [this, driver](int index) {
        const ScanResult& scan = driver->scans()[std::size_t(index)];
        m_model.setScan(scan);
        if (m_folder && scan.ok)
            planOne(scan);
    });
    connect(driver, &FleetDriver::inquiryAnswered, this, &SiteSession::scanProgress);
    connect(driver, &FleetDriver::inquiriesDone, this, [this] {
        setStage(Stage::Idle);
        emit scanDone();
    });
    setStage(Stage::Scanning);
    driver->inquire(addresses, parallelWithin(qBound(1, parallel, kMaxParallel), raiseOpenFileLimit(), 0));
    return true;
}

FirmwareFolder* SiteSession::folderFor(const QString& path, QString* why)
{
    auto folder = std::make_unique<FirmwareFolder>();
    QString error;
    if (!folder->open(path, &error)) {
        *why = QStringLiteral("the firmware folder \"%1\" %2").arg(path, error);
        return nullptr;
    }
    m_resumeFolder = std::move(folder);
    return m_resumeFolder.get();
}

bool SiteSession::openFolder(const QString& path, QString* why)
{
    if (m_stage == Stage::Asking || m_stage == Stage::Confirming || m_stage == Stage::Updating) {
        *why = QStringLiteral("the folder cannot change while cameras are being updated");
        return false;
    }
    if (!folderFor(path, why))
        return false;
    m_folder = std::move(m_resumeFolder);
    planAll();
    return true;
}

QString SiteSession::folderPath() const
{
    return m_folder ? m_folder->path() : QString();
}

void SiteSession::setChoice(const PlanChoice& choice)
{
    m_choice = choice;
    if (m_folder && m_stage != Stage::Updating && m_stage != Stage::Asking && m_stage != Stage::Confirming)
        planAll();
}

void SiteSession::planOne(const ScanResult& scan)
{
    PlanEntry entry;
    entry.scan = scan;
    entry.plan = planCamera(*m_folder, scan.camera, m_choice);
    m_model.setPlan(entry);
    // Held so that every camera's plan shares the one copy of each file it judged.
    m_plans[scan.address] = std::move(entry.plan);
}

void SiteSession::planAll()
{
    m_plans.clear();
    m_model.clearPlans();
    if (!m_scanner || !m_folder)
        return;
    for (const ScanResult& scan : m_scanner->scans()) {
        const int row = m_model.rowOf(scan.address);
        if (scan.ok && row >= 0 && m_model.standing(row) != CameraTableModel::Standing::Asking)
            planOne(scan);
    }
}

bool SiteSession::setCredentialsFile(const QString& path, QString* why)
{
    if (path.isEmpty()) {
        m_credentialsFile = CredentialsFile();
        return true;
    }
    CredentialsFile file;
    if (!readCredentialsFile(path, &file, why))
        return false;
    m_credentialsFile = file;
    return true;
}

bool SiteSession::needsCredentials() const
{
    return needsCommonCredentials(m_model.tickedAddresses(), std::nullopt, m_credentialsFile);
}

bool SiteSession::needsCredentialsToResume(const FleetReport& earlier) const
{
    QStringList addresses;
    for (const CameraReport& c : earlier.cameras)
        addresses << c.address;
    return needsCommonCredentials(addresses, earlier, m_credentialsFile);
}

bool SiteSession::update(const Credentials& common, const UpdateOptions& options, QString* why)
{
    if (m_stage != Stage::Idle) {
        *why = QStringLiteral("wait until the cameras being asked are done");
        return false;
    }
    if (!m_folder) {
        *why = QStringLiteral("choose a firmware folder first");
        return false;
    }
    FleetUpdateSettings settings;
    settings.addresses = m_model.tickedAddresses();
    if (settings.addresses.isEmpty()) {
        *why = QStringLiteral("no camera is ticked");
        return false;
    }
    const QString folder = reportsFolder(m_environment);
    if (folder.isEmpty() || !makePrivateFolder(folder)) {
        *why = folder.isEmpty() ? QStringLiteral("neither XDG_STATE_HOME nor HOME says where reports are kept")
                                : QStringLiteral("cannot make the report folder \"%1\"").arg(folder);
        return false;
    }
    settings.reportPath = QDir(folder).filePath(reportFileName(QDateTime::currentDateTimeUtc()));
    settings.choice = m_choice;
    settings.options = options;
    settings.options.logDir = logFolderOf(settings.reportPath);
    settings.options.appendLogs = false;
    m_resumeFolder.reset();
    return startUpdate(std::move(settings), common, why);
}

bool SiteSession::readResumable(const QString& path, FleetReport* report, QString* why)
{
    QString error;
    if (!readReport(path, report, &error)) {
        *why = QStringLiteral("the report \"%1\": %2").arg(path, error);
        return false;
    }
    if (report->run.folder.isEmpty()) {
        *why = QStringLiteral("the report \"%1\" is not one of an update (it names no folder)").arg(path);
        return false;
    }
    return true;
}

bool SiteSession::resume(const QString& reportPath, const Credentials& common, QString* why)
{
    if (m_stage != Stage::Idle) {
        *why = QStringLiteral("wait until the cameras being asked are done");
        return false;
    }
    FleetReport earlier;
    if (!readResumable(reportPath, &earlier, why))
        return false;
    FirmwareFolder* folder = folderFor(earlier.run.folder, why);
    if (!folder)
        return false;
    // A resume judges the report's cameras by the folder they were updated from, or not at all.
    const QStringList changes = resumeRefusals(earlier, *folder, nullptr);
    if (!changes.isEmpty()) {
        *why = QStringLiteral("cannot resume from \"%1\": %2; nothing was sent (start a new update instead)")
                   .arg(reportPath, changes.join(QStringLiteral("; ")));
        m_resumeFolder.reset();
        return false;
    }
    FleetUpdateSettings settings;
    for (const CameraReport& c : earlier.cameras)
        settings.addresses << c.address;
    settings.choice = earlier.run.choice;
    settings.options.parallel = earlier.run.parallel > 0 ? earlier.run.parallel : kUpdateParallel;
    settings.options.canary = earlier.run.canary;
    settings.options.maxFailures = earlier.run.maxFailures;
    settings.options.logDir = logFolderOf(reportPath);
    settings.options.appendLogs = true;
    settings.reportPath = reportPath;
    settings.earlier = earlier;
    m_scanner.reset();
    m_plans.clear();
    m_model.setTargets(settings.addresses);
    return startUpdate(std::move(settings), common, why);
}

bool SiteSession::startUpdate(FleetUpdateSettings settings, const Credentials& common, QString* why)
{
    FirmwareFolder* folder = m_resumeFolder ? m_resumeFolder.get() : m_folder.get();
    const int cameras = int(settings.addresses.size());
    const qint64 openFiles = raiseOpenFileLimit();
    // Each camera's lock holds a descriptor for the whole update.
    settings.options.parallel = parallelWithin(settings.options.parallel, openFiles, cameras + 1);
    settings.inquiries = parallelWithin(kScanParallel, openFiles, cameras + 1);
    settings.options.secrets = secretsOf(m_credentialsFile, common);
    settings.lockFolder = updateLockFolder(m_environment);
    settings.historyPath = historyPath(m_environment);
    settings.run.tool = QStringLiteral("kelvora");
    settings.run.version = QStringLiteral(KELVORA_VERSION);
    if (!makePrivateFolder(settings.options.logDir)) {
        *why = QStringLiteral("cannot write logs into \"%1\"").arg(settings.options.logDir);
        return false;
    }
    m_common = common;
    m_reportPath = settings.reportPath;
    m_logFolder = settings.options.logDir;

    auto update = std::make_unique<FleetUpdate>(std::move(settings), folder);
    FleetDriver& driver = update->driver();
    driver.setTickIntervals(m_watchdogTickMs, m_resetWaitTickMs);
    connect(update.get(), &FleetUpdate::askedAll, this, &SiteSession::asked, Qt::QueuedConnection);
    connect(update.get(), &FleetUpdate::finished, this, &SiteSession::ended, Qt::QueuedConnection);
    connect(update.get(), &FleetUpdate::recordFailed, this, [this](const QString& failure) {
        emit notice(QStringLiteral("cannot write the report \"%1\": %2; no further camera starts").arg(m_reportPath, failure));
    });
    connect(&driver, &FleetDriver::statusChanged, this, [this](const CameraStatus& s) { m_model.setStatus(s); });
    connect(&driver, &FleetDriver::cameraEnded, this, [this, &driver](int index) {
        m_model.setEnded(driver.reports()[std::size_t(index)]);
    });
    connect(&driver, &FleetDriver::canaryDone, this, [this](bool passed) {
        emit notice(passed ? QStringLiteral("The canary passed; the other cameras start.")
                           : QStringLiteral("The canary did not pass; no other camera starts."));
    });
    connect(&driver, &FleetDriver::budgetSpent, this, [this](int failures) {
        emit notice(QStringLiteral("%1 failed; no further camera starts.").arg(plural(failures, "camera has", "cameras have")));
    });
    connect(&driver, &FleetDriver::cameraAnswered, this, [this, &driver](int index) {
        m_model.setScan(driver.scans()[std::size_t(index)]);
    });
    m_update = std::move(update);
    m_lastReport.reset();
    m_clock.start();
    setStage(Stage::Asking);
    takeLocks();
    return true;
}

void SiteSession::takeLocks()
{
    // Nothing is asked of a camera another process is updating, nor written over its report;
    // hundreds of locks are taken a part a turn, the window answering in between.
    QString error;
    switch (m_update->lockSome(kLocksPerTurn, &error)) {
    case UpdateRecord::Step::More:
        QTimer::singleShot(0, m_update.get(), [this] { takeLocks(); });
        return;
    case UpdateRecord::Step::Refused:
        refuse(error + QStringLiteral("; nothing was sent"));
        return;
    case UpdateRecord::Step::Done:
        break;
    }
    if (!m_update->begin(&error)) {
        refuse(QStringLiteral("cannot write the report \"%1\": %2").arg(m_reportPath, error));
        return;
    }
    // The cameras are asked from the next turn.
    QTimer::singleShot(0, m_update.get(), [this] {
        m_update->ask();
        if (m_update->askingDone())
            QTimer::singleShot(0, this, &SiteSession::asked);
    });
}

void SiteSession::refuse(const QString& why)
{
    // Dropped once the call that found the refusal has returned; whatever it holds goes with it.
    m_update.release()->deleteLater();
    m_resumeFolder.reset();
    setStage(Stage::Idle);
    emit refused(why);
}

void SiteSession::asked()
{
    if (!m_update || m_stage != Stage::Asking)
        return;
    const std::vector<PlanEntry>& entries = m_update->plan();
    for (const PlanEntry& entry : entries)
        m_model.setPlan(entry);
    m_credentials = credentialsFor(entries, m_credentialsFile, m_common);

    // A file no camera may be sent goes to none: nothing starts.
    const QStringList refusals = m_update->folderRefusals();
    if (!refusals.isEmpty()) {
        m_lastReport = m_update->report();
        refuse(refusals.join(QLatin1Char('\n'))
               + QStringLiteral("\nNothing was sent: every file to send must be readable, not empty, and vouched for "
                                "by the folder's SHA256SUMS when it has one."));
        return;
    }
    if (m_update->driver().stopping() || m_update->runs() == 0) {
        if (!m_update->driver().stopping())
            emit notice(QStringLiteral("Nothing to send: no ticked camera needs a file now."));
        confirm(false);
        return;
    }
    int files = 0;
    int upToDate = 0;
    int other = 0;
    for (const PlanEntry& entry : entries) {
        if (!entry.carriedOver && entry.scan.ok && entry.plan.valid)
            files += int(entry.plan.files.size());
        else if (entry.carriedOver || (entry.scan.ok && entry.plan.end == FleetEnd::UpToDate))
            ++upToDate;
        else
            ++other;
    }
    QString question = QStringLiteral("Send %1 to %2?").arg(plural(files, "file", "files"),
                                                             plural(m_update->runs(), "camera", "cameras"));
    if (upToDate > 0)
        question += QStringLiteral(" %1 up to date and %2 left alone.")
                        .arg(upToDate == 1 ? QStringLiteral("1 is") : QStringLiteral("%1 are").arg(upToDate),
                             QLatin1String(upToDate == 1 ? "is" : "are"));
    if (other > 0)
        question += QStringLiteral(" %1 cannot be updated (see the table).").arg(plural(other, "camera", "cameras"));
    setStage(Stage::Confirming);
    emit confirmationDue(question);
}

void SiteSession::confirm(bool go)
{
    if (!m_update || (m_stage != Stage::Confirming && m_stage != Stage::Asking))
        return;
    if (!go)
        m_update->cancel();
    setStage(Stage::Updating);
    m_update->start(m_credentials);
}

void SiteSession::stop()
{
    if (m_stage == Stage::Scanning && m_scanner)
        m_scanner->stopStarting();
    else if (m_stage == Stage::Confirming)
        confirm(false);
    else if (m_update)
        m_update->driver().stopStarting();
}

void SiteSession::stopNow()
{
    if (m_update)
        m_update->driver().stopNow();
}

bool SiteSession::stopping() const
{
    return m_update && m_update->driver().stopping();
}

void SiteSession::ended()
{
    if (!m_update)
        return;
    const UpdateRecord::Outcome outcome = m_update->finish(&m_releasing);
    m_lastReport = m_update->report();
    const bool stopped = m_update->driver().stopping();
    // Dropped once its own signal has returned; its locks go with it.
    m_update.release()->deleteLater();
    m_resumeFolder.reset();

    std::map<QString, int> ends;
    for (const CameraReport& c : m_lastReport->cameras) {
        const QString name = c.end == FleetEnd::Completed && c.verified ? QStringLiteral("completed and verified")
                                                                        : fleetEndName(c.end);
        ++ends[name];
    }
    QStringList parts;
    for (const auto& [name, count] : ends)
        parts << QStringLiteral("%1 %2").arg(count).arg(name);
    QString summary = (stopped ? QStringLiteral("Stopped: ") : QStringLiteral("Done: ")) + parts.join(QStringLiteral(", "))
        + QStringLiteral(".");
    if (outcome.reportWritten)
        summary += QStringLiteral(" Report: %1").arg(m_reportPath);
    else
        summary += QStringLiteral(" The report \"%1\" could not be written: %2.").arg(m_reportPath, outcome.reportError);
    if (!outcome.historyWritten)
        summary += QStringLiteral(" The update could not be added to the history: %1.").arg(outcome.historyError);
    releaseLocks(summary);
}

void SiteSession::releaseLocks(const QString& summary)
{
    // A lock file is unlinked as it is let go: hundreds of them, a part a turn. The update is
    // over once the last is gone, so that another may take them at once.
    const std::size_t keep = m_releasing.size() > std::size_t(kLocksPerTurn) ? m_releasing.size() - kLocksPerTurn : 0;
    m_releasing.resize(keep);
    if (!m_releasing.empty()) {
        QTimer::singleShot(0, this, [this, summary] { releaseLocks(summary); });
        return;
    }
    setStage(Stage::Idle);
    emit updateFinished(summary);
}

QString SiteSession::traceFile(const QString& address) const
{
    if (m_logFolder.isEmpty())
        return {};
    return QDir(m_logFolder).filePath(cameraLogFileName(address));
}

FleetReport SiteSession::report() const
{
    if (m_update)
        return m_update->report();
    return m_lastReport ? *m_lastReport : FleetReport();
}
