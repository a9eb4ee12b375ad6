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

} // namespace

QString statusText(const CameraStatus& s, int step)
{
    const QString file = QStringLiteral("file %1/%2 %3").arg(s.fileNumber).arg(s.fileCount).arg(displaySafe(s.fileName));
    switch (s.phase) {
    case CameraStatus::Phase::Waiting: return QStringLiteral("waiting");
    case CameraStatus::Phase::Asking: return QStringLiteral("asking the camera");
    case CameraStatus::Phase::Uploading: return file + QStringLiteral(" uploading") + percentText(s.percent, step);
    case CameraStatus::Phase::Restarting:
        return file + QStringLiteral(" waiting for restart") + percentText(s.percent, step);
    case CameraStatus::Phase::CheckingNetwork: return file + QStringLiteral(" checking the network version");
    case CameraStatus::Phase::Verifying: return QStringLiteral("verifying");
    case CameraStatus::Phase::Ended: break;
    }
    if (s.end == FleetEnd::UpToDate)
        return QStringLiteral("up to date");
    if (s.end == FleetEnd::Completed)
        return s.verified ? QStringLiteral("completed, verified") : QStringLiteral("completed, NOT verified");
    // A camera's own words (why it was not reached) may hold anything.
    return s.message.isEmpty() ? fleetEndName(s.end) : fleetEndName(s.end) + QStringLiteral(": ") + displaySafe(s.message);
}

ProgressView::ProgressView(Writer writer, bool terminal)
    : m_writer(std::move(writer))
    , m_terminal(terminal)
{
}

ProgressView ProgressView::forDescriptor(int fd)
{
    ProgressView view(
        [fd](const QByteArray& bytes) { kelvora::writeAll(fd, bytes); },
        ::isatty(fd) == 1);
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
    return address.leftJustified(m_addressWidth) + QStringLiteral("  ") + statusText(status, step);
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
        m_liveText.remove(status.address);
        redraw({line(status, 1)});
        return;
    }
    if (!m_liveText.contains(status.address))
        m_liveOrder << status.address;
    m_liveText.insert(status.address, line(status, 1));
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
    m_liveText.clear();
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
        live << m_liveText.value(address).left(width);
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
