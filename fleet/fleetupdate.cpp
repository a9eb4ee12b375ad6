#include "fleet/fleetupdate.h"

#include "fleet/fleetpolicy.h"

#include <QHash>

FleetUpdate::FleetUpdate(FleetUpdateSettings settings, FirmwareFolder* folder, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_folder(folder)
    , m_record(m_settings.lockFolder, m_settings.reportPath, m_settings.historyPath)
{
    RunInfo& run = m_settings.run;
    run.folder = m_folder->path();
    run.listSha256 = m_folder->listSha256();
    run.sums = sumsStateName(m_folder->sums().state);
    run.choice = m_settings.choice;
    run.choice.skipCurrent = false;
    run.choice.takenBefore.clear();
    run.parallel = m_settings.options.parallel;
    run.canary = m_settings.options.canary;
    run.maxFailures = m_settings.options.maxFailures;
    run.started = QDateTime::currentDateTimeUtc();
    if (m_settings.earlier) {
        for (const CameraReport& c : m_settings.earlier->cameras)
            m_earlier.insert(c.address, &c);
    }
    for (const QString& address : std::as_const(m_settings.addresses)) {
        if (!entryBefore(address).carriedOver)
            m_asked << address;
    }
    connect(&m_driver, &FleetDriver::inquiriesDone, this, &FleetUpdate::askedAll);
    connect(&m_driver, &FleetDriver::updatesDone, this, &FleetUpdate::finished);
    connect(&m_driver, &FleetDriver::reportChanged, &m_record, &UpdateRecord::changed);
    connect(&m_record, &UpdateRecord::writeFailed, this, [this](const QString& error) {
        // Without its record a roll-out could not be resumed safely: nothing more starts.
        m_driver.stopStarting();
        emit recordFailed(error);
    });
}

FleetUpdate::~FleetUpdate() = default;

bool FleetUpdate::lock(QString* refusal)
{
    return m_record.lock(m_asked, refusal);
}

bool FleetUpdate::begin(QString* error)
{
    return m_record.begin([this] { return report(); }, error);
}

UpdateRecord::Step FleetUpdate::lockSome(int count, QString* refusal)
{
    return m_record.lockSome(m_asked, count, refusal);
}

PlanEntry FleetUpdate::entryBefore(const QString& address) const
{
    PlanEntry entry;
    entry.scan.address = address;
    const CameraReport* before = m_earlier.value(address);
    if (!before)
        return entry;
    entry.carriedOver = resumeSkips(*before);
    if (entry.carriedOver)
        entry.earlier = *before;
    else
        entry.takenBefore = filesTakenBefore(*before);
    return entry;
}

void FleetUpdate::ask()
{
    std::vector<int> comeBack;
    for (const QString& address : std::as_const(m_asked)) {
        const CameraReport* before = m_earlier.value(address);
        comeBack.push_back(before ? comeBackSeconds(*before) : 0);
    }
    m_driver.inquire(m_asked, m_settings.inquiries, comeBack);
}

const std::vector<PlanEntry>& FleetUpdate::plan()
{
    m_entries.clear();
    m_runs = 0;
    QHash<QString, const ScanResult*> scans;
    for (const ScanResult& scan : m_driver.scans())
        scans.insert(scan.address, &scan);
    for (const QString& address : std::as_const(m_settings.addresses)) {
        PlanEntry entry = entryBefore(address);
        if (entry.carriedOver) {
            m_entries.push_back(entry);
            continue;
        }
        if (const ScanResult* scan = scans.value(address))
            entry.scan = *scan;
        PlanChoice choice = m_settings.choice;
        if (m_earlier.contains(address)) {
            // A resumed update never sends a file again that the camera already runs, nor one
            // it took before, whatever its versions say.
            choice.skipCurrent = true;
            for (const ReportedFile& f : entry.takenBefore)
                choice.takenBefore.insert(f.component);
        }
        if (entry.scan.ok)
            entry.plan = planCamera(*m_folder, entry.scan.camera, choice);
        m_runs += entry.scan.ok && entry.plan.valid ? 1 : 0;
        m_entries.push_back(entry);
    }
    return m_entries;
}

QStringList FleetUpdate::folderRefusals() const
{
    QStringList refused;
    for (const PlanEntry& entry : m_entries) {
        if (!entry.carriedOver && entry.scan.ok && planRefusesFolder(entry.plan) && !refused.contains(entry.plan.reason))
            refused << entry.plan.reason;
    }
    return refused;
}

int FleetUpdate::runs() const
{
    return m_runs;
}

void FleetUpdate::start(const std::vector<CameraCredential>& credentials)
{
    std::vector<QString> basics;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const CameraCredential given = i < credentials.size() ? credentials[i] : CameraCredential();
        if (!m_entries[i].carriedOver && m_entries[i].scan.ok && m_entries[i].plan.valid)
            m_entries[i].credentialSource = given.source;
        basics.push_back(given.basic);
    }
    m_started = true;
    // The driver holds the plans, and with them the copies to send, from here on.
    m_driver.update(std::exchange(m_entries, {}), basics, m_settings.options, m_folder->sums());
}

void FleetUpdate::cancel()
{
    m_driver.stopStarting();
}

FleetReport FleetUpdate::report() const
{
    FleetReport report;
    report.run = m_settings.run;
    if (m_started) {
        report.cameras = m_driver.reports();
        return report;
    }
    // Before the runs: every camera pending but those carried over, as the earlier report had
    // them; what a camera took before is kept in the report until this run knows better.
    for (const QString& address : std::as_const(m_settings.addresses)) {
        const PlanEntry entry = entryBefore(address);
        if (entry.carriedOver) {
            report.cameras.push_back(reportFromPlan(entry));
            continue;
        }
        CameraReport camera;
        camera.address = address;
        for (ReportedFile f : entry.takenBefore) {
            f.earlier = true;
            camera.files.push_back(f);
        }
        report.cameras.push_back(camera);
    }
    return report;
}

UpdateRecord::Outcome FleetUpdate::finish(std::vector<UpdateLock>* locks)
{
    m_settings.run.ended = QDateTime::currentDateTimeUtc();
    return m_record.finish(report(), locks);
}
