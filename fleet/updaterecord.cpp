#include "fleet/updaterecord.h"

#include "fleet/history.h"
#include "fleet/reportjournal.h"

#include <QHash>

namespace {

// Named, at most this many, in a refusal; the rest counted.
constexpr int kNamedInRefusal = 10;

QString holderText(const UpdateLock& lock)
{
    return lock.holderPid() > 0 ? QStringLiteral("process %1").arg(lock.holderPid()) : QStringLiteral("a process");
}

} // namespace

struct UpdateRecord::Taking {
    std::vector<UpdateLock> locks;
    QStringList held;
    QString failure;
    int next = 0;
    int more = 0;
};

UpdateRecord::UpdateRecord(const QString& lockFolder, const QString& reportPath, const QString& historyPath, QObject* parent)
    : QObject(parent)
    , m_lockFolder(lockFolder)
    , m_reportPath(reportPath)
    , m_historyPath(historyPath)
{
}

UpdateRecord::~UpdateRecord() = default;

bool UpdateRecord::lock(const QStringList& cameras, QString* refusal)
{
    Step step = Step::More;
    while (step == Step::More)
        step = lockSome(cameras, int(cameras.size()), refusal);
    return step == Step::Done;
}

UpdateRecord::Step UpdateRecord::lockSome(const QStringList& cameras, int count, QString* refusal)
{
    if (!m_taking) {
        m_taking = std::make_unique<Taking>();
        if (!m_reportPath.isEmpty()) {
            UpdateLock report = UpdateLock::report(m_lockFolder, m_reportPath);
            if (report.outcome() == UpdateLock::Outcome::Held)
                m_taking->held << QStringLiteral("the report \"%1\" (%2)").arg(m_reportPath, holderText(report));
            else if (!report.held())
                m_taking->failure = report.error();
            m_taking->locks.push_back(std::move(report));
        }
    }
    Taking& t = *m_taking;
    for (int taken = 0; t.failure.isEmpty() && t.next < cameras.size() && taken < count; ++taken) {
        const QString& camera = cameras[t.next++];
        UpdateLock lock = UpdateLock::camera(m_lockFolder, camera);
        if (lock.outcome() == UpdateLock::Outcome::Held) {
            if (t.held.size() < kNamedInRefusal)
                t.held << QStringLiteral("%1 (%2)").arg(camera, holderText(lock));
            else
                ++t.more;
        } else if (!lock.held()) {
            t.failure = lock.error();
        }
        t.locks.push_back(std::move(lock));
    }
    if (t.failure.isEmpty() && t.next < cameras.size())
        return Step::More;
    // Every lock or none: a refusal lets go of those taken so far.
    const std::unique_ptr<Taking> done = std::move(m_taking);
    if (!done->failure.isEmpty()) {
        *refusal = QStringLiteral("cannot take the update's locks: %1").arg(done->failure);
        return Step::Refused;
    }
    if (!done->held.isEmpty()) {
        if (done->more > 0)
            done->held << QStringLiteral("and %1 more").arg(done->more);
        *refusal = QStringLiteral("being updated by another Kelvora process: %1").arg(done->held.join(QStringLiteral(", ")));
        return Step::Refused;
    }
    m_locks = std::move(done->locks);
    return Step::Done;
}

bool UpdateRecord::begin(Source source, QString* error)
{
    if (m_reportPath.isEmpty())
        return true;
    m_journal = std::make_unique<ReportJournal>(m_reportPath, std::move(source));
    if (!m_journal->writeNow(error))
        return false;
    connect(m_journal.get(), &ReportJournal::writeFailed, this, [this](const QString& why) {
        if (m_failed.isEmpty())
            m_failed = why;
        emit writeFailed(why);
    });
    return true;
}

void UpdateRecord::changed()
{
    if (m_journal)
        m_journal->schedule();
}

UpdateRecord::Outcome UpdateRecord::finish(const FleetReport& report, std::vector<UpdateLock>* locks)
{
    Outcome outcome;
    if (m_journal) {
        QString error;
        // The last write holds the whole report; one that failed before it is still told.
        if (!m_journal->writeNow(&error)) {
            outcome.reportWritten = false;
            outcome.reportError = error;
        } else if (!m_failed.isEmpty()) {
            outcome.reportWritten = false;
            outcome.reportError = m_failed + QStringLiteral(" (while cameras were at work; the last write succeeded)");
        }
    }
    if (!m_historyPath.isEmpty()) {
        QString error;
        outcome.historyWritten = appendHistory(m_historyPath, report, &error);
        outcome.historyError = error;
    }
    m_journal.reset();
    if (locks)
        *locks = std::move(m_locks);
    m_locks.clear();
    return outcome;
}
