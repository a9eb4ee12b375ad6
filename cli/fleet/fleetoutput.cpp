#include "cli/fleet/fleetoutput.h"

#include "launch/componentversions.h"

#include <array>

namespace {

// Column heads of the nine versions in the scan table, in component order.
constexpr std::array<const char*, kComponentCount> kVersionHeads{
    {"CAM", "NET", "SERVO", "IF-CPU", "FRONT", "BACK", "LENS", "CAM-EEP", "IF-EEP"}};

// Rows padded to their columns' widths, two blanks apart. A row shorter than the head
// ends in free text: its last cell sets no column's width.
QString formatTable(const QList<QStringList>& rows)
{
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
            out += QStringLiteral("%1  unreachable: %2\n").arg(e.scan.address, e.scan.error);
            continue;
        }
        const CameraPlan& p = e.plan;
        QString head = e.scan.address + QStringLiteral("  ") + textOr(fleetModelName(e.scan.camera.ModelID), "unknown model");
        if (!p.section.isEmpty())
            head += QStringLiteral("  [%1]").arg(p.section);
        if (!p.valid) {
            out += head + QStringLiteral("  %1: %2 (%3)\n").arg(fleetEndName(p.end), p.reason, p.message);
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
                             QStringLiteral("VERIFIED"), QStringLiteral("FILES"), QStringLiteral("MESSAGE")}};
    for (const CameraReport& r : reports) {
        int verified = 0;
        for (const ReportedFile& f : r.files)
            verified += f.result == FileResult::Verified ? 1 : 0;
        rows << QStringList{r.address, textOr(fleetModelName(r.model), "-"), fleetEndName(r.end),
                            r.verified ? QStringLiteral("yes") : QStringLiteral("no"),
                            r.files.empty() ? QStringLiteral("-") : QStringLiteral("%1/%2").arg(verified).arg(r.files.size()),
                            r.reason.isEmpty() ? r.message
                            : r.message.isEmpty() ? r.reason
                                                  : QStringLiteral("%1 (%2)").arg(r.message, r.reason)};
    }
    return formatTable(rows);
}
