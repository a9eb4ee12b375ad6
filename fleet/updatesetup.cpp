#include "fleet/updatesetup.h"

#include "fleet/fleetpolicy.h"
#include "fleet/targets.h"
#include "launch/credentials.h"
#include "update/firmwarefiles.h"
#include "update/updatelock.h"

#include <QDir>
#include <QRegularExpression>

#include <sys/resource.h>

#include <algorithm>
#include <limits>

Credentials credentialsFromEnvironment(const QProcessEnvironment& environment)
{
    return {environment.value(QStringLiteral("KELVORA_USER")), environment.value(QStringLiteral("KELVORA_PASSWORD")),
            QStringLiteral("environment")};
}

bool camerasOf(const QStringList& targets, const QStringList& excludes, QStringList* addresses, QString* why)
{
    const TargetList parsed = parseTargets(targets);
    if (!parsed.error.isEmpty()) {
        *why = parsed.error;
        return false;
    }
    QList<TargetPattern> excluded;
    if (!parseTargetPatterns(excludes, &excluded, why))
        return false;
    *addresses = withoutMatching(parsed.addresses, excluded);
    if (addresses->isEmpty()) {
        *why = QStringLiteral("every target is excluded");
        return false;
    }
    return true;
}

QStringList targetItems(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

std::vector<CameraCredential> credentialsFor(const std::vector<PlanEntry>& entries, const CredentialsFile& file,
                                             const Credentials& common)
{
    const QString basic = common.complete() ? basicCredential(common.user, common.password) : QString();
    std::vector<CameraCredential> credentials;
    for (const PlanEntry& entry : entries) {
        if (entry.carriedOver || !entry.scan.ok || !entry.plan.valid)
            credentials.emplace_back();
        else if (const CredentialEntry* e = file.find(entry.scan.address))
            credentials.push_back({basicCredential(e->user, e->password), QStringLiteral("file line %1").arg(e->line)});
        else
            credentials.push_back({basic, common.source});
    }
    return credentials;
}

QStringList secretsOf(const CredentialsFile& file, const Credentials& common)
{
    QStringList secrets = file.secrets();
    if (common.complete())
        secrets << common.password << basicCredential(common.user, common.password);
    return secrets;
}

bool needsCommonCredentials(const QStringList& addresses, const std::optional<FleetReport>& earlier,
                            const CredentialsFile& file)
{
    return std::any_of(addresses.begin(), addresses.end(), [&](const QString& address) {
        const bool done = earlier
            && std::any_of(earlier->cameras.begin(), earlier->cameras.end(),
                           [&](const CameraReport& r) { return r.address == address && resumeSkips(r); });
        return !done && !file.find(address);
    });
}

QStringList resumeRefusals(const FleetReport& earlier, FirmwareFolder& folder, const PlanChoice* choiceGiven)
{
    return resumeChanges(earlier, folder.path(), folder.listSha256(), choiceGiven, [&folder](const QString& fileName) {
        QString error;
        const auto copy = folder.copy(fileName, &error);
        return copy ? QString::fromLatin1(copy->sha256().toHex()) : QString();
    });
}

qint64 raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max() : qint64(limit.rlim_cur);
}

QString reportsFolder(const QProcessEnvironment& environment)
{
    const QString folder = kelvoraStateFolder(environment);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("reports"));
}

QString reportFileName(const QDateTime& startedUtc)
{
    return QStringLiteral("update-%1.json").arg(startedUtc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")));
}

QString planSummary(const PlanEntry& entry)
{
    if (entry.carriedOver)
        return QStringLiteral("done before: %1").arg(fleetEndName(entry.earlier.end));
    if (!entry.scan.ok)
        return entry.scan.error;
    const CameraPlan& plan = entry.plan;
    if (plan.valid) {
        QStringList files;
        for (const PlannedFile& f : plan.files) {
            files << QStringLiteral("%1 %2 -> %3")
                         .arg(componentKey(f.component), f.cameraVersion.isEmpty() ? QStringLiteral("?") : f.cameraVersion,
                              f.version);
        }
        return QStringLiteral("%1: %2")
            .arg(files.size() == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(files.size()),
                 files.join(QStringLiteral(", ")));
    }
    switch (plan.end) {
    case FleetEnd::UpToDate: return QStringLiteral("up to date");
    case FleetEnd::NoSection: {
        const QString model = fleetModelName(entry.scan.camera.ModelID);
        return model.isEmpty() ? QStringLiteral("unknown model") : QStringLiteral("no section for %1").arg(model);
    }
    case FleetEnd::VersionsRefused: return QStringLiteral("versions refused");
    case FleetEnd::SumRefused: return QStringLiteral("file refused by SHA256SUMS: %1").arg(plan.refusedFile);
    case FleetEnd::FileEmpty: return QStringLiteral("empty file: %1").arg(plan.refusedFile);
    case FleetEnd::FileUnreadable: return QStringLiteral("unreadable file: %1").arg(plan.refusedFile);
    case FleetEnd::NothingToSend: return QStringLiteral("nothing to send");
    case FleetEnd::NoUploadOrder: return QStringLiteral("no upload order");
    default: return plan.reason;
    }
}
