#include "cli/fleet/progressview.h"

#include "cli/fleet/terminalprompt.h"
#include "common/displaytext.h"
#include "common/writeall.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {

const char kClearToLineEnd[] = "\x1b[K";
const char kClearBelow[] = "\x1b[J";

QString percentText(int percent, int step)
{
    return percent < 0 ? QString() : QStringLiteral(" %1%").arg(percent / step * step);
}

// A status as the view shows it: "file 2/3", the file's name and the state ("uploading
// 40%"); only the state while no file is in hand.
struct StatusParts {
    QString file;
    QString name;
    QString state;
};

StatusParts statusParts(const CameraStatus& s, int step)
{
    const QString file = QStringLiteral("file %1/%2").arg(s.fileNumber).arg(s.fileCount);
    const QString name = displaySafe(s.fileName);
    switch (s.phase) {
    case CameraStatus::Phase::Waiting: return {{}, {}, QStringLiteral("waiting")};
    case CameraStatus::Phase::Asking: return {{}, {}, QStringLiteral("asking the camera")};
    case CameraStatus::Phase::Uploading: return {file, name, QStringLiteral("uploading") + percentText(s.percent, step)};
    case CameraStatus::Phase::Restarting:
        return {file, name, QStringLiteral("waiting for restart") + percentText(s.percent, step)};
    case CameraStatus::Phase::CheckingNetwork: return {file, name, QStringLiteral("checking the network version")};
    case CameraStatus::Phase::Verifying: return {{}, {}, QStringLiteral("verifying")};
    case CameraStatus::Phase::Ended: break;
    }
    if (s.end == FleetEnd::UpToDate)
        return {{}, {}, QStringLiteral("up to date")};
    if (s.end == FleetEnd::Completed)
        return {{}, {}, s.verified ? QStringLiteral("completed, verified") : QStringLiteral("completed, NOT verified")};
    // A camera's own words (why it was not reached) may hold anything.
    return {{}, {}, s.message.isEmpty() ? fleetEndName(s.end) : fleetEndName(s.end) + QStringLiteral(": ") + displaySafe(s.message)};
}

// A live line's file name gives way to this many columns ("qv_se…20.spt") before anything
// else is shortened, the address to this many ("…0.2.105:8080").
constexpr int kShortestName = 12;
constexpr int kShortestAddress = 12;

// A live line in `width` columns. The state and its percentage are never cut; what gives
// way, each only as far as it must and only once the one before is spent: the file name
// (its start and end kept), the address's padding, the address (its end kept: the cameras
// of a fleet differ in the last numbers and the port); then the file name goes, then the
// "file 2/3", and the address shrinks to an ellipsis. A screen narrower than the state
// alone gets a longer line. `address` is the shown one, `padded` the columns it fills.
QString fitted(const QString& address, int padded, const StatusParts& p, int width)
{
    const int addressColumns = displayWidth(address);
    const int padding = qMax(0, padded - addressColumns);
    const int state = displayWidth(p.state);
    const bool file = !p.file.isEmpty();
    const int fileColumns = file ? displayWidth(p.file) + 1 : 0;  // "file 2/3 "
    const int name = displayWidth(p.name);
    const int shortestName = qMin(name, kShortestName);
    const auto line = [&](const QString& shown, int blanks, bool withFile, const QString* withName) {
        QString text = shown + QString(blanks, QLatin1Char(' ')) + QStringLiteral("  ");
        if (withFile)
            text += p.file + QLatin1Char(' ') + (withName ? *withName + QLatin1Char(' ') : QString());
        return text + p.state;
    };
    // With the file name: whole or down to its shortest, then the padding.
    const int rest = 2 + fileColumns + (file ? 1 : 0) + state;
    const int nameRoom = width - addressColumns - padding - rest;
    if (nameRoom >= shortestName) {
        const QString shown = elidedText(p.name, nameRoom);
        return line(address, padding, file, &shown);
    }
    const QString shortName = elidedText(p.name, shortestName);
    if (width - addressColumns - rest - shortestName >= 0)
        return line(address, width - addressColumns - rest - shortestName, file, &shortName);
    // The address gives way; with each part gone it may take back some room.
    const auto shortened = [&](int room, bool withFile, const QString* withName) {
        const QString shown = elidedText(address, qMax(1, room), false);
        return line(shown, qBound(0, room - addressColumns, padding), withFile, withName);
    };
    const int withShortName = width - rest - shortestName;
    if (withShortName >= qMin(addressColumns, kShortestAddress))
        return shortened(withShortName, file, &shortName);
    const int withCount = width - 2 - fileColumns - state;
    if (file && withCount >= qMin(addressColumns, kShortestAddress))
        return shortened(withCount, true, nullptr);
    return shortened(width - 2 - state, false, nullptr);
}

} // namespace

QString statusText(const CameraStatus& s, int step)
{
    const StatusParts p = statusParts(s, step);
    return p.file.isEmpty() ? p.state : p.file + QLatin1Char(' ') + p.name + QLatin1Char(' ') + p.state;
}

ProgressView::ProgressView(Writer writer, bool terminal)
    : m_writer(std::move(writer))
    , m_terminal(terminal)
{
}

ProgressView ProgressView::forDescriptor(int fd, Writer writer)
{
    if (!writer)
        writer = [fd](const QByteArray& bytes) { kelvora::writeAll(fd, bytes); };
    ProgressView view(std::move(writer), ::isatty(fd) == 1);
    view.m_fd = fd;
    return view;
}

void ProgressView::setScreenSize(int columns, int rows)
{
    m_columns = columns;
    m_rows = rows;
}

int ProgressView::columns() const
{
    winsize size{};
    if (m_columns > 0)
        return m_columns;
    return m_fd >= 0 && ::ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

int ProgressView::rows() const
{
    winsize size{};
    if (m_rows > 0)
        return m_rows;
    return m_fd >= 0 && ::ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 ? size.ws_row : 24;
}

QString ProgressView::line(const CameraStatus& status, int step) const
{
    const QString address = displaySafe(status.address);
    if (!m_terminal)
        return address + QLatin1Char(' ') + statusText(status, step);
    return address + QString(qMax(0, m_addressWidth - displayWidth(address)), QLatin1Char(' ')) + QStringLiteral("  ")
        + statusText(status, step);
}

void ProgressView::update(const CameraStatus& status)
{
    if (status.phase == CameraStatus::Phase::Waiting)
        return;
    if (!m_terminal) {
        const QString text = line(status, 10);
        QString& last = m_printed[status.address];
        if (text != last) {
            last = text;
            m_writer((text + QLatin1Char('\n')).toUtf8());
        }
        return;
    }
    if (status.phase == CameraStatus::Phase::Ended) {
        m_liveOrder.removeAll(status.address);
        m_live.remove(status.address);
        redraw({line(status, 1)});
        return;
    }
    if (!m_live.contains(status.address))
        m_liveOrder << status.address;
    m_live.insert(status.address, status);
    redraw({});
}

void ProgressView::print(const QString& line)
{
    const QString text = displaySafe(line);
    if (m_terminal)
        redraw({text});
    else
        m_writer((text + QLatin1Char('\n')).toUtf8());
}

void ProgressView::finish()
{
    m_drawn.clear();
    m_liveOrder.clear();
    m_live.clear();
}

void ProgressView::redraw(const QStringList& above)
{
    // A live line as wide as the screen would wrap on some terminals, and the next redraw
    // would go up one line too few.
    const int width = qMax(2, columns()) - 1;
    const int room = qMax(1, rows() - 2);
    QStringList live;
    for (const QString& address : std::as_const(m_liveOrder)) {
        if (live.size() == room && m_liveOrder.size() > room) {
            live << QStringLiteral("... and %1 more at work").arg(m_liveOrder.size() - room);
            break;
        }
        const CameraStatus& status = m_live[address];
        live << fitted(displaySafe(status.address), m_addressWidth, statusParts(status, 1), width);
    }
    if (above.isEmpty() && live == m_drawn)
        return;

    QByteArray frame("\r");
    if (!m_drawn.isEmpty())
        frame += "\x1b[" + QByteArray::number(m_drawn.size()) + 'A';
    // Lines above the live ones are written once and may wrap.
    for (const QString& text : above)
        frame += text.toUtf8() + kClearToLineEnd + '\n';
    for (const QString& text : std::as_const(live))
        frame += text.toUtf8() + kClearToLineEnd + '\n';
    frame += kClearBelow;
    m_drawn = live;
    m_writer(frame);
}
