#include "fleet/reporthtml.h"

#include "common/displaytext.h"
#include "fleet/fleetpolicy.h"
#include "launch/componentversions.h"

#include <QLocale>

#include <algorithm>
#include <array>

namespace {

// Text from outside as the page writes it: control characters visible, then every character
// markup gives a meaning escaped, both quotes too, so that the same text is safe in an
// attribute as in an element.
QString esc(const QString& text)
{
    return displaySafe(text).toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

QString orDash(const QString& html)
{
    return html.isEmpty() ? QStringLiteral("&#8212;") : html;
}

// The four ways a customer reads a camera's end, each with its colour. The timeline and the
// counts also write the end's name, so the page reads the same printed in grey.
enum class Outcome { Done, Failed, NotUpdated, Stopped };

Outcome outcomeOf(const CameraReport& r)
{
    if (cameraDone(r))
        return Outcome::Done;
    if (cameraFailed(r))
        return Outcome::Failed;
    if (r.end == FleetEnd::Stopped || r.end == FleetEnd::NotStarted || r.end == FleetEnd::Pending)
        return Outcome::Stopped;
    return Outcome::NotUpdated;
}

struct OutcomeStyle {
    const char* cssClass;
    const char* colour;
    const char* legend;
};

constexpr std::array<OutcomeStyle, 4> kOutcomes{{
    {"done", "#1b7a3a", "done (updated and verified, or up to date)"},
    {"failed", "#c0262d", "failed during its update"},
    {"not-updated", "#b86e00", "not updated (unreachable, or refused before sending)"},
    {"stopped", "#6b6b6b", "stopped, held back or not ended"},
}};

const OutcomeStyle& styleOf(Outcome outcome)
{
    return kOutcomes[std::size_t(outcome)];
}

int gravity(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done: return 0;
    case Outcome::Stopped: return 1;
    case Outcome::NotUpdated: return 2;
    case Outcome::Failed: return 3;
    }
    return 0;
}

QString whenText(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC") : QString();
}

QString durationText(double seconds)
{
    if (seconds < 0)
        return {};
    if (seconds < 60)
        return QString::number(seconds, 'f', seconds < 10 ? 1 : 0) + QStringLiteral(" s");
    const qint64 whole = qint64(seconds + 0.5);
    if (whole < 3600)
        return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(whole / 3600).arg(whole / 60 % 60, 2, 10, QLatin1Char('0'));
}

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return from.isValid() && to.isValid() ? double(from.msecsTo(to)) / 1000 : -1;
}

QString bytesText(qint64 size)
{
    return size < 0 ? QString() : QLocale::c().toString(size) + QStringLiteral(" bytes");
}

QString sumsText(const QString& sums)
{
    if (sums == u"checked")
        return QStringLiteral("checked: every file sent matched the folder's SHA256SUMS");
    if (sums == u"none")
        return QStringLiteral("none: the folder had no SHA256SUMS; the files were not checked against one");
    if (sums == u"unreadable")
        return QStringLiteral("unreadable: the folder's SHA256SUMS could not be read; no file was sent");
    return QStringLiteral("not recorded (a report of an older version)");
}

QString choiceText(const PlanChoice& choice)
{
    QString text = choice.all ? QStringLiteral("every component with a file")
                              : QStringLiteral("the components whose versions differ from the folder's");
    if (!choice.only.isEmpty()) {
        QList<int> keys(choice.only.begin(), choice.only.end());
        std::sort(keys.begin(), keys.end());
        QStringList names;
        for (int c : keys)
            names << componentKey(c);
        text += QStringLiteral(", only ") + names.join(QStringLiteral(", "));
    }
    return text;
}

const char kStyle[] = R"(
:root { color-scheme: light; }
* { box-sizing: border-box; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; font-size: 10pt; color: #1a1a1a;
       background: #fff; line-height: 1.35; margin: 1.5em auto; max-width: 1100px; padding: 0 1em; }
h1 { font-size: 1.6em; margin: 0 0 0.2em; }
h2 { font-size: 1.2em; margin: 1.4em 0 0.5em; border-bottom: 1px solid #999; padding-bottom: 0.15em; }
p.sub { margin: 0; color: #444; }
table { border-collapse: collapse; }
th, td { text-align: left; vertical-align: top; padding: 0.25em 0.5em; }
table.facts th { font-weight: normal; color: #444; white-space: nowrap; padding-left: 0; }
table.counts { min-width: 40%; }
table.counts td, table.counts th { border-bottom: 1px solid #ccc; }
table.counts td.n, table.counts th.n { text-align: right; }
table.cameras { width: 100%; }
table.cameras > thead th { border-bottom: 2px solid #555; }
tbody.camera-group { border-bottom: 1px solid #aaa; }
tr.camera-files > td { padding-top: 0; }
table.versions td, table.versions th { padding: 0 0.6em 0 0; font-size: 0.92em; }
table.versions th { font-weight: normal; color: #444; }
table.files { width: 100%; font-size: 0.88em; }
table.files th { font-weight: normal; color: #444; border-bottom: 1px solid #ccc; }
table.files td { border-bottom: 1px dotted #ccc; }
.addr { font-weight: bold; word-break: break-all; }
.muted, .model { color: #555; }
.path, .msg, .reason, .name { word-break: break-all; }
.hash { font-family: "DejaVu Sans Mono", "Liberation Mono", monospace; font-size: 0.9em; word-break: break-all; }
.end { font-weight: bold; border-left: 0.5em solid; padding-left: 0.3em; }
.end.done { border-color: #1b7a3a; } .end.failed { border-color: #c0262d; }
.end.not-updated { border-color: #b86e00; } .end.stopped { border-color: #6b6b6b; }
.swatch { display: inline-block; width: 0.9em; height: 0.9em; margin-right: 0.4em; vertical-align: -0.1em; }
.tag { display: inline-block; border: 1px solid #777; border-radius: 0.3em; padding: 0 0.3em; font-size: 0.85em; }
svg.timeline { width: 100%; height: auto; display: block; }
footer { margin-top: 2em; color: #555; font-size: 0.85em; }
@page { size: A4; margin: 14mm 12mm 16mm 12mm; }
@media print {
  body { font-size: 8.5pt; margin: 0; max-width: none; padding: 0; }
  h2 { break-after: avoid; page-break-after: avoid; }
  thead { display: table-header-group; }
  tr, tbody.camera-group, svg.timeline g.bar { break-inside: avoid; page-break-inside: avoid; }
}
)";

// ---- the run and the counts ----

QString factRow(const char* name, const QString& html)
{
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(QLatin1String(name), orDash(html));
}

QString runSection(const RunInfo& run)
{
    QString out = QStringLiteral("<section id=\"run\">\n<h2>The run</h2>\n<table class=\"facts\"><tbody>\n");
    out += factRow("Tool", esc((run.tool + QLatin1Char(' ') + run.version).trimmed()));
    out += QStringLiteral("<tr><th>Firmware folder</th><td class=\"path\">%1</td></tr>\n").arg(orDash(esc(run.folder)));
    out += QStringLiteral("<tr><th>List file SHA-256</th><td class=\"hash\">%1</td></tr>\n").arg(orDash(esc(run.listSha256)));
    out += factRow("SHA256SUMS", esc(sumsText(run.sums)));
    out += factRow("Components", esc(choiceText(run.choice)));
    if (run.parallel > 0) {
        QString at = QString::number(run.parallel);
        if (run.canary > 0)
            at += QStringLiteral("; the first %1 with files to send first, alone").arg(run.canary);
        if (run.maxFailures > 0)
            at += QStringLiteral("; no camera started after %1 had failed").arg(run.maxFailures);
        out += factRow("Cameras at once", esc(at));
    }
    out += factRow("Started", esc(whenText(run.started)));
    out += factRow("Ended", run.ended.isValid() ? esc(whenText(run.ended))
                                                : QStringLiteral("not ended: written while the update went on, or it was interrupted"));
    out += factRow("Duration", esc(durationText(secondsBetween(run.started, run.ended))));
    return out + QStringLiteral("</tbody></table>\n</section>\n");
}

QString countsSection(const std::vector<CameraReport>& cameras)
{
    QString out = QStringLiteral("<section id=\"counts\">\n<h2>Outcome</h2>\n<table class=\"counts\">\n"
                                 "<thead><tr><th>End</th><th class=\"n\">Cameras</th></tr></thead>\n<tbody>\n");
    for (int e = int(FleetEnd::Completed); e <= int(FleetEnd::Pending); ++e) {
        const FleetEnd end = FleetEnd(e);
        int count = 0;
        // An end that reads two ways (completed, verified or not) takes the graver colour.
        Outcome shown = Outcome::Done;
        for (const CameraReport& r : cameras) {
            if (r.end != end)
                continue;
            ++count;
            const Outcome o = outcomeOf(r);
            if (gravity(o) > gravity(shown))
                shown = o;
        }
        if (count == 0)
            continue;
        const OutcomeStyle& style = styleOf(shown);
        out += QStringLiteral("<tr class=\"count\" data-end=\"%1\"><td><span class=\"swatch\" style=\"background:%2\"></span>%1</td>"
                              "<td class=\"n\">%3</td></tr>\n")
                   .arg(fleetEndName(end), QLatin1String(style.colour))
                   .arg(count);
    }
    int completed = 0;
    int verified = 0;
    for (const CameraReport& r : cameras) {
        completed += r.end == FleetEnd::Completed ? 1 : 0;
        verified += r.end == FleetEnd::Completed && r.verified ? 1 : 0;
    }
    out += QStringLiteral("</tbody>\n<tfoot><tr><th>All cameras</th><th class=\"n\" id=\"total\">%1</th></tr></tfoot>\n</table>\n")
               .arg(cameras.size());
    if (completed > 0)
        out += QStringLiteral("<p>%1 of %2 completed camera%3 reported the folder's versions when asked again afterwards.</p>\n")
                   .arg(QString::number(verified), QString::number(completed), completed == 1 ? QString() : QStringLiteral("s"));
    return out + QStringLiteral("</section>\n");
}

// ---- the timeline ----

constexpr double kWidth = 760;
constexpr double kLabel = 150;  // the address column
constexpr double kEndColumn = 170;
constexpr double kPlot = kWidth - kLabel - kEndColumn;
constexpr double kTop = 22;
constexpr double kRow = 18;
constexpr double kBar = 12;

QString num(double value)
{
    return QString::number(value, 'f', 1);
}

QString rect(const char* cssClass, double x, double y, double w, double h, const QString& paint)
{
    return QStringLiteral("<rect class=\"%1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\" %6/>")
        .arg(QLatin1String(cssClass), num(x), num(y), num(std::max(w, 0.8)), num(h), paint);
}

QString timelineSection(const FleetReport& report)
{
    // The run's span: from the first camera's start (or the run's) to the last end.
    QDateTime first = report.run.started;
    QDateTime last = report.run.ended;
    for (const CameraReport& r : report.cameras) {
        if (r.started.isValid() && (!first.isValid() || r.started < first))
            first = r.started;
        if (r.ended.isValid() && (!last.isValid() || r.ended > last))
            last = r.ended;
    }
    const double span = std::max(1.0, secondsBetween(first, last));
    const auto xOf = [&](double seconds) { return kLabel + std::clamp(seconds, 0.0, span) / span * kPlot; };
    const auto xAt = [&](const QDateTime& t) { return xOf(secondsBetween(first, t)); };

    const double legendTop = kTop + double(report.cameras.size()) * kRow + 14;
    const double height = legendTop + 3 * 16 + 8;
    QString out = QStringLiteral("<section id=\"timeline\">\n<h2>Timeline</h2>\n");
    if (!first.isValid()) {
        out += QStringLiteral("<p>No camera's run was recorded.</p>\n");
    }
    out += QStringLiteral("<svg class=\"timeline\" viewBox=\"0 0 %1 %2\" role=\"img\" aria-label=\"One bar per camera from its "
                          "start to its end: uploads, restart waits and verification\" font-family=\"DejaVu Sans, Arial, "
                          "sans-serif\" font-size=\"10\">\n")
               .arg(num(kWidth), num(height));

    // The time axis: a few ticks, in UTC.
    for (int k = 0; k <= 4 && first.isValid(); ++k) {
        const double seconds = span * k / 4;
        const double x = xOf(seconds);
        const QString label = first.addMSecs(qint64(seconds * 1000)).toUTC().toString(QStringLiteral("HH:mm:ss"));
        out += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" stroke=\"#bbb\" stroke-width=\"0.5\"/>"
                              "<text x=\"%1\" y=\"%4\" text-anchor=\"%5\" fill=\"#444\">%6</text>\n")
                   .arg(num(x), num(kTop - 4), num(legendTop - 12), num(kTop - 8),
                        k == 0 ? QStringLiteral("start") : k == 4 ? QStringLiteral("end") : QStringLiteral("middle"),
                        label + (k == 4 ? QStringLiteral(" UTC") : QString()));
    }

    for (std::size_t i = 0; i < report.cameras.size(); ++i) {
        const CameraReport& r = report.cameras[i];
        const OutcomeStyle& style = styleOf(outcomeOf(r));
        const QString colour = QLatin1String(style.colour);
        const double y = kTop + double(i) * kRow;
        const double barY = y + (kRow - kBar) / 2;
        const QString address = esc(r.address);
        out += QStringLiteral("<g class=\"bar\" data-address=\"%1\" data-end=\"%2\"><title>%1: %2</title>\n")
                   .arg(address, fleetEndName(r.end));
        out += QStringLiteral("<text class=\"label\" x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>\n")
                   .arg(num(kLabel - 6), num(barY + kBar - 2), elidedText(displaySafe(r.address), 24).toHtmlEscaped());
        QString endLabel = fleetEndName(r.end);
        if (r.end == FleetEnd::Completed)
            endLabel += r.verified ? QStringLiteral(", verified") : QStringLiteral(", not verified");
        if (r.started.isValid()) {
            const QDateTime until = r.ended.isValid() ? r.ended : last;
            const double x0 = xAt(r.started);
            const double x1 = xAt(until);
            out += rect("span", x0, barY + kBar / 2 - 0.75, x1 - x0, 1.5, QStringLiteral("fill=\"#777\""));
            // Each file of this run: its upload, then the camera's restart wait, one after the
            // other from the camera's start, never past the run's end (times measured apart
            // from the camera's start and end need not add up to the millisecond). A file the
            // camera never took was under way until the run ended.
            double t = secondsBetween(first, r.started);
            const double runEnd = secondsBetween(first, r.verificationStarted.isValid() ? r.verificationStarted : until);
            for (const ReportedFile& f : r.files) {
                if (f.earlier || f.result == FileResult::NotSent)
                    continue;
                if (t >= runEnd)
                    break;
                const double upload = std::min(f.uploadSeconds >= 0 ? f.uploadSeconds : runEnd - t, runEnd - t);
                out += rect("upload", xOf(t), barY, xOf(t + upload) - xOf(t), kBar, QStringLiteral("fill=\"%1\"").arg(colour));
                t += upload;
                if (f.restartSeconds >= 0 && t < runEnd) {
                    const double restart = std::min(f.restartSeconds, runEnd - t);
                    out += rect("restart", xOf(t), barY + 2, xOf(t + restart) - xOf(t), kBar - 4,
                                QStringLiteral("fill=\"%1\" fill-opacity=\"0.45\"").arg(colour));
                    t += restart;
                }
            }
            if (r.verificationStarted.isValid()) {
                const double v0 = xAt(r.verificationStarted);
                out += rect("verification", v0, barY + 1, xAt(until) - v0, kBar - 2,
                            QStringLiteral("fill=\"#fff\" stroke=\"%1\" stroke-width=\"1.2\"").arg(colour));
            }
        } else {
            endLabel += QStringLiteral(" (no run)");
        }
        out += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" fill=\"%3\"/>"
                              "<text class=\"end\" x=\"%4\" y=\"%5\" fill=\"#222\">%6</text>\n</g>\n")
                   .arg(num(kWidth - kEndColumn + 4), num(barY + 1), colour, num(kWidth - kEndColumn + 18), num(barY + kBar - 2),
                        endLabel);
    }

    // The legend: the outcome colours, and the three kinds of segment (which read apart in
    // grey too: solid, pale, outlined).
    double x = 4;
    for (const OutcomeStyle& s : kOutcomes) {
        out += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" fill=\"%3\"/>"
                              "<text x=\"%4\" y=\"%5\">%6</text>\n")
                   .arg(num(x), num(legendTop), QLatin1String(s.colour), num(x + 14), num(legendTop + 9),
                        QString::fromUtf8(s.cssClass).replace(QLatin1Char('-'), QLatin1Char(' ')));
        x += 110;
    }
    const double y2 = legendTop + 18;
    out += QStringLiteral("<rect x=\"4\" y=\"%1\" width=\"22\" height=\"10\" fill=\"#555\"/><text x=\"30\" y=\"%2\">upload</text>\n"
                          "<rect x=\"120\" y=\"%3\" width=\"22\" height=\"6\" fill=\"#555\" fill-opacity=\"0.45\"/>"
                          "<text x=\"146\" y=\"%2\">restart wait</text>\n"
                          "<rect x=\"250\" y=\"%4\" width=\"22\" height=\"8\" fill=\"#fff\" stroke=\"#555\" stroke-width=\"1.2\"/>"
                          "<text x=\"276\" y=\"%2\">verification (asked again)</text>\n"
                          "<rect x=\"430\" y=\"%5\" width=\"22\" height=\"1.5\" fill=\"#777\"/>"
                          "<text x=\"456\" y=\"%2\">start to end</text>\n")
               .arg(num(y2), num(y2 + 9), num(y2 + 2), num(y2 + 1), num(y2 + 4.25));
    out += QStringLiteral("<text x=\"4\" y=\"%1\" fill=\"#444\">Each bar ends with the camera's end; times in UTC.</text>\n")
               .arg(num(y2 + 27));
    return out + QStringLiteral("</svg>\n</section>\n");
}

// ---- the cameras ----

QString versionsCell(const CameraReport& r)
{
    if (r.before.isEmpty() && r.after.isEmpty())
        return QStringLiteral("<span class=\"muted\">not known</span>");
    QList<bool> sent(kComponentCount, false);
    for (const ReportedFile& f : r.files) {
        if (f.component >= 0 && f.component < kComponentCount)
            sent[f.component] = true;
    }
    QString rows;
    int others = 0;
    for (int c = 0; c < kComponentCount; ++c) {
        const QString before = r.before.value(c);
        const QString after = r.after.value(c);
        const bool changed = !r.after.isEmpty() && before != after;
        if (!sent[c] && !changed) {
            others += before.isEmpty() && after.isEmpty() ? 0 : 1;
            continue;
        }
        rows += QStringLiteral("<tr><th>%1</th><td>%2</td><td>&#8594;</td><td>%3</td></tr>")
                    .arg(componentKey(c), orDash(esc(before)),
                         r.after.isEmpty() ? QStringLiteral("<span class=\"muted\">not asked again</span>") : orDash(esc(after)));
    }
    QString out;
    if (!rows.isEmpty())
        out = QStringLiteral("<table class=\"versions\"><tbody>%1</tbody></table>").arg(rows);
    if (others > 0) {
        out += QStringLiteral("<div class=\"muted\">%1 other component%2 %3</div>")
                   .arg(others)
                   .arg(others == 1 ? QString() : QStringLiteral("s"))
                   .arg(r.after.isEmpty() ? QStringLiteral("not sent") : QStringLiteral("unchanged"));
    }
    return out;
}

QString outcomeCell(const CameraReport& r)
{
    const OutcomeStyle& style = styleOf(outcomeOf(r));
    QString out = QStringLiteral("<div class=\"end %1\">%2</div>").arg(QLatin1String(style.cssClass), fleetEndName(r.end));
    if (r.end == FleetEnd::Completed)
        out += r.verified ? QStringLiteral("<div>versions verified</div>") : QStringLiteral("<div>versions NOT verified</div>");
    if (!r.message.isEmpty())
        out += QStringLiteral("<div class=\"msg\">%1</div>").arg(esc(r.message));
    if (!r.reason.isEmpty())
        out += QStringLiteral("<div class=\"reason\">%1</div>").arg(esc(r.reason));
    if (r.started.isValid()) {
        out += QStringLiteral("<div class=\"muted\">%1 to %2 (%3)</div>")
                   .arg(esc(whenText(r.started)), r.ended.isValid() ? esc(whenText(r.ended)) : QStringLiteral("not ended"),
                        esc(durationText(secondsBetween(r.started, r.ended))));
    }
    if (r.verificationStarted.isValid())
        out += QStringLiteral("<div class=\"muted\">asked again at %1</div>").arg(esc(whenText(r.verificationStarted)));
    return out;
}

QString filesRow(const CameraReport& r)
{
    QString rows;
    for (const ReportedFile& f : r.files) {
        QString result = fileResultName(f.result);
        if (f.earlier)
            result += QStringLiteral(" <span class=\"tag\">earlier run</span>");
        rows += QStringLiteral("<tr class=\"file\"><td>%1</td><td class=\"name\">%2</td><td>%3</td><td>%4</td><td>%5</td>"
                               "<td>%6</td><td>%7</td><td class=\"hash\">%8</td></tr>\n")
                    .arg(componentKey(f.component), orDash(esc(f.fileName)), orDash(esc(f.version)), result,
                         orDash(esc(bytesText(f.size))), orDash(esc(durationText(f.uploadSeconds))),
                         orDash(esc(durationText(f.restartSeconds))), orDash(esc(f.sha256)));
    }
    return QStringLiteral("<tr class=\"camera-files\"><td colspan=\"3\"><table class=\"files\">\n"
                          "<thead><tr><th>Component</th><th>File</th><th>Version</th><th>Result</th><th>Size</th>"
                          "<th>Upload</th><th>Restart</th><th>SHA-256</th></tr></thead>\n<tbody>\n%1</tbody></table></td></tr>\n")
        .arg(rows);
}

QString camerasSection(const std::vector<CameraReport>& cameras)
{
    QString out = QStringLiteral("<section id=\"cameras\">\n<h2>Cameras</h2>\n<table class=\"cameras\">\n"
                                 "<thead><tr><th style=\"width:24%\">Camera</th><th style=\"width:38%\">End</th>"
                                 "<th>Versions before and after</th></tr></thead>\n");
    for (const CameraReport& r : cameras) {
        QString camera = QStringLiteral("<div class=\"addr\">%1</div>").arg(esc(r.address));
        camera += QStringLiteral("<div class=\"model\">%1</div>").arg(orDash(esc(fleetModelName(r.model))));
        if (r.canary)
            camera += QStringLiteral(" <span class=\"tag\">canary</span>");
        if (r.carriedOver)
            camera += QStringLiteral(" <span class=\"tag\">as the earlier report left it</span>");
        out += QStringLiteral("<tbody class=\"camera-group\">\n<tr class=\"camera\" data-address=\"%1\" data-end=\"%2\">"
                              "<td>%3</td><td>%4</td><td>%5</td></tr>\n")
                   .arg(esc(r.address), fleetEndName(r.end), camera, outcomeCell(r), versionsCell(r));
        if (!r.files.empty())
            out += filesRow(r);
        out += QStringLiteral("</tbody>\n");
    }
    return out + QStringLiteral("</table>\n</section>\n");
}

} // namespace

QByteArray reportHtml(const FleetReport& report)
{
    const QString day = report.run.started.isValid() ? report.run.started.toUTC().toString(QStringLiteral("yyyy-MM-dd")) : QString();
    QString page = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n"
                                  "<title>Firmware update report%1</title>\n<style>")
                       .arg(day.isEmpty() ? QString() : QStringLiteral(", ") + day);
    page += QLatin1String(kStyle);
    page += QStringLiteral("</style>\n</head>\n<body>\n<header>\n<h1>Firmware update report</h1>\n");
    // In one go: a folder's "%4" is never taken for a place of the text.
    page += QStringLiteral("<p class=\"sub\">%1 camera%2 from <span class=\"path\">%3</span>%4</p>\n</header>\n")
                .arg(QString::number(report.cameras.size()), report.cameras.size() == 1 ? QString() : QStringLiteral("s"),
                     orDash(esc(report.run.folder)),
                     report.run.started.isValid() ? QStringLiteral(", ") + esc(whenText(report.run.started)) : QString());
    page += runSection(report.run);
    page += countsSection(report.cameras);
    page += timelineSection(report);
    page += camerasSection(report.cameras);
    page += QStringLiteral("<footer>Times are UTC. A file's upload runs from its post to the camera's answer taking it; its "
                           "restart from then until the camera answered again. Text from the cameras and the folder is shown "
                           "as it came, control characters written as \\x1b.</footer>\n</body>\n</html>\n");
    return page.toUtf8();
}
