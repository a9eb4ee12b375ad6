#include "cli/fleet/fleetoutput.h"

#include "common/displaytext.h"
#include "launch/componentversions.h"

#include <array>

namespace {

// Column heads of the nine versions in the scan table, in component order.
constexpr std::array<const char*, kComponentCount> kVersionHeads{
    {"CAM", "NET", "SERVO", "IF-CPU", "FRONT", "BACK", "LENS", "CAM-EEP", "IF-EEP"}};

// Rows padded to their columns' widths, two blanks apart. A row shorter than the head
// ends in free text: its last cell sets no column's width. Cells come from cameras, the
// folder and report files: made safe first, so the widths are those shown.
QString formatTable(QList<QStringList> rows)
{
    for (QStringList& row : rows) {
        for (QString& cell : row)
            cell = displaySafe(cell);
    }
    const qsizetype columns = rows.isEmpty() ? 0 : rows.first().size();
    QList<qsizetype> widths(columns, 0);
    for (const QStringList& row : rows) {
        const qsizetype counted = row.size() < columns ? row.size() - 1 : row.size();
        for (qsizetype i = 0; i < counted; ++i)
            widths[i] = qMax(widths[i], row[i].size());
    }
    QString out;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                line += QStringLiteral("  ");
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i]) : row[i];
        }
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString textOr(const QString& text, const char* absent)
{
    return text.isEmpty() ? QLatin1String(absent) : text;
}

// The end as a person reads it: "up to date" rather than the name scripts see.
QString endText(FleetEnd end)
{
    return end == FleetEnd::UpToDate ? QStringLiteral("up to date") : fleetEndName(end);
}

} // namespace

QString scanTable(const std::vector<ScanResult>& results)
{
    QList<QStringList> rows;
    QStringList head{QStringLiteral("ADDRESS"), QStringLiteral("MODEL")};
    for (const char* h : kVersionHeads)
        head << QLatin1String(h);
    rows << head;
    for (const ScanResult& r : results) {
        if (!r.ok) {
            rows << QStringList{r.address, r.error};
            continue;
        }
        QStringList row{r.address, fleetModelName(r.camera.ModelID)};
        for (int i = 0; i < kComponentCount; ++i)
            row << textOr(cameraVersion(r.camera, i), "-");
        rows << row;
    }
    return formatTable(rows);
}

QString planTable(const std::vector<PlanEntry>& entries)
{
    QString out;
    for (const PlanEntry& e : entries) {
        if (!e.scan.ok) {
            out += QStringLiteral("%1  unreachable: %2\n").arg(displaySafe(e.scan.address), displaySafe(e.scan.error));
            continue;
        }
        const CameraPlan& p = e.plan;
        QString head = displaySafe(e.scan.address) + QStringLiteral("  ") + textOr(fleetModelName(e.scan.camera.ModelID), "unknown model");
        if (!p.section.isEmpty())
            head += QStringLiteral("  [%1]").arg(displaySafe(p.section));
        if (!p.valid) {
            out += head + QStringLiteral("  %1: %2").arg(endText(p.end), displaySafe(p.reason))
                + (p.message.isEmpty() ? QStringLiteral("\n") : QStringLiteral(" (%1)\n").arg(displaySafe(p.message)));
            continue;
        }
        out += head + QStringLiteral("  versions accepted, %1 to send\n")
                          .arg(p.files.size() == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(p.files.size()));
        QList<QStringList> rows{{QString(), QString(), QString(), QString(), QString(), QString()}};
        for (std::size_t k = 0; k < p.files.size(); ++k) {
            const PlannedFile& f = p.files[k];
            rows << QStringList{QStringLiteral("   %1.").arg(k + 1), componentKey(f.component), f.fileName, f.version,
                                QStringLiteral("(camera %1)").arg(textOr(f.cameraVersion, "-")),
                                QStringLiteral("vupno %1").arg(f.vupno)};
        }
        const QString table = formatTable(rows);
        out += table.mid(table.indexOf(QLatin1Char('\n')) + 1);
    }
    return out;
}

QString summaryTable(const std::vector<CameraReport>& reports)
{
    QList<QStringList> rows{{QStringLiteral("ADDRESS"), QStringLiteral("MODEL"), QStringLiteral("END"),
                             QStringLiteral("VERIFIED"), QStringLiteral("FILES"), QStringLiteral("CREDENTIALS"),
                             QStringLiteral("MESSAGE")}};
    for (const CameraReport& r : reports) {
        int verified = 0;
        for (const ReportedFile& f : r.files)
            verified += f.result == FileResult::Verified ? 1 : 0;
        rows << QStringList{r.address, textOr(fleetModelName(r.model), "-"), endText(r.end),
                            r.verified ? QStringLiteral("yes") : r.files.empty() ? QStringLiteral("-") : QStringLiteral("no"),
                            r.files.empty() ? QStringLiteral("-") : QStringLiteral("%1/%2").arg(verified).arg(r.files.size()),
                            textOr(r.credentialSource, "-"),
                            r.reason.isEmpty() ? r.message
                            : r.message.isEmpty() ? r.reason
                                                  : QStringLiteral("%1 (%2)").arg(r.message, r.reason)};
    }
    return formatTable(rows);
}

QString runHeader(const RunInfo& run)
{
    const auto time = [](const QDateTime& t) { return t.isValid() ? utcText(t) : QStringLiteral("-"); };
    return QStringLiteral("%1 %2, folder %3\nstarted %4, ended %5\n")
        .arg(displaySafe(textOr(run.tool, "kelvora-fleet")), displaySafe(textOr(run.version, "?")),
             displaySafe(textOr(run.folder, "-")), time(run.started),
             run.ended.isValid() ? utcText(run.ended) : QStringLiteral("- (not ended: interrupted, or still going)"));
}

QString historyTable(const std::vector<FleetReport>& reports)
{
    QList<QStringList> rows{{QStringLiteral("WHEN"), QStringLiteral("ADDRESS"), QStringLiteral("MODEL"),
                             QStringLiteral("END"), QStringLiteral("VERIFIED"), QStringLiteral("SENT")}};
    for (const FleetReport& report : reports) {
        for (const CameraReport& r : report.cameras) {
            QStringList sent;
            for (const ReportedFile& f : r.files) {
                if (f.result != FileResult::NotSent)
                    sent << QStringLiteral("%1 %2 (%3)").arg(f.fileName, f.version, fileResultName(f.result));
            }
            const QDateTime when = r.started.isValid() ? r.started : report.run.started;
            rows << QStringList{when.isValid() ? utcText(when) : QStringLiteral("-"), r.address,
                                textOr(fleetModelName(r.model), "-"), endText(r.end),
                                r.verified ? QStringLiteral("yes") : r.files.empty() ? QStringLiteral("-") : QStringLiteral("no"),
                                sent.isEmpty() ? QStringLiteral("-") : sent.join(QStringLiteral(", "))};
        }
    }
    return formatTable(rows);
}
