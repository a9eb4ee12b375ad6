#include "manycameras/cameratablemodel.h"

#include "common/displaytext.h"
#include "fleet/targets.h"
#include "fleet/updatesetup.h"

#include <QColor>

#include <array>

namespace {

constexpr std::array<const char*, 9> kVersionHeads{
    {"CAM", "NET", "SERVO", "IF-CPU", "FRONT", "BACK", "LENS", "CAM-EEP", "IF-EEP"}};

// IPv4 addresses sort by number ("127.0.0.10" after "127.0.0.9"), then by port; names after.
quint64 sortKeyOf(const QString& address)
{
    HostAndPort hp;
    QString error;
    if (!parseHostAndPort(address, &hp, &error) || !hp.isIPv4)
        return ~quint64(0);
    return (quint64(hp.ipv4) << 16) | quint64(hp.port);
}

QString endText(const CameraReport& report)
{
    switch (report.end) {
    case FleetEnd::Completed:
        return report.verified ? QStringLiteral("completed and verified")
                               : QStringLiteral("completed, not verified");
    case FleetEnd::UpToDate: return QStringLiteral("up to date");
    case FleetEnd::NotStarted: return QStringLiteral("not started");
    case FleetEnd::Stopped: return QStringLiteral("stopped");
    default: break;
    }
    QString text = fleetEndName(report.end);
    if (!report.message.isEmpty())
        text += QStringLiteral(": ") + report.message;
    if (!report.reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(report.reason);
    return text;
}

bool succeeded(const CameraReport& report)
{
    return (report.end == FleetEnd::Completed && report.verified) || report.end == FleetEnd::UpToDate;
}

} // namespace

CameraTableModel::CameraTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void CameraTableModel::setTargets(const QStringList& addresses)
{
    beginResetModel();
    m_list.clear();
    m_index.clear();
    for (const QString& address : addresses) {
        Row row;
        row.address = address;
        row.state = QStringLiteral("asking");
        row.sortKey = sortKeyOf(address);
        m_index.insert(address, int(m_list.size()));
        m_list.push_back(row);
    }
    endResetModel();
    emit ticksChanged();
}

QString CameraTableModel::addressAt(int row) const
{
    return row >= 0 && row < int(m_list.size()) ? m_list[std::size_t(row)].address : QString();
}

void CameraTableModel::changed(int row, int firstColumn, int lastColumn)
{
    emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}

void CameraTableModel::setScan(const ScanResult& scan)
{
    const int r = rowOf(scan.address);
    if (r < 0)
        return;
    Row& row = m_list[std::size_t(r)];
    row.standing = scan.ok ? Standing::Answered : Standing::Unanswered;
    row.model = scan.ok ? displaySafe(fleetModelName(scan.camera.ModelID)) : QString();
    row.versions.clear();
    if (scan.ok) {
        for (const QString& v : versionList(scan.camera))
            row.versions << displaySafe(v);
    }
    row.state = scan.ok ? QStringLiteral("answered") : displaySafe(scan.error);
    row.sendable = false;
    changed(r, AddressColumn, ProgressColumn);
}

void CameraTableModel::setPlan(const PlanEntry& entry)
{
    const QString address = entry.carriedOver ? entry.earlier.address : entry.scan.address;
    const int r = rowOf(address);
    if (r < 0)
        return;
    Row& row = m_list[std::size_t(r)];
    if (entry.carriedOver) {
        row.standing = Standing::Succeeded;
        row.model = displaySafe(fleetModelName(entry.earlier.model));
    } else if (entry.scan.ok) {
        row.standing = Standing::Planned;
    }
    row.state = displaySafe(planSummary(entry));
    const bool wasTicked = row.ticked;
    row.sendable = !entry.carriedOver && entry.scan.ok && entry.plan.valid;
    row.ticked = row.sendable;
    changed(r, AddressColumn, ProgressColumn);
    if (wasTicked != row.ticked)
        emit ticksChanged();
}

void CameraTableModel::clearPlans()
{
    for (int r = 0; r < int(m_list.size()); ++r) {
        Row& row = m_list[std::size_t(r)];
        if (row.standing == Standing::Planned) {
            row.standing = Standing::Answered;
            row.state = QStringLiteral("answered");
        }
        row.sendable = false;
        row.ticked = false;
        row.inUpdate = false;
        row.progress = -1;
    }
    if (!m_list.empty())
        emit dataChanged(index(0, 0), index(int(m_list.size()) - 1, ColumnCount - 1));
    emit ticksChanged();
}

void CameraTableModel::setStatus(const CameraStatus& status)
{
    const int r = rowOf(status.address);
    if (r < 0)
        return;
    Row& row = m_list[std::size_t(r)];
    row.inUpdate = true;
    row.phase = status.phase;
    const int n = qMax(1, status.fileCount);
    const int file = qBound(1, status.fileNumber, n);
    const double p = status.percent < 0 ? 0.0 : status.percent / 100.0;
    const QString files = QStringLiteral("file %1/%2").arg(file).arg(n);
    const QString percent = status.percent < 0 ? QString() : QStringLiteral(" %1%").arg(status.percent);
    // A file's share of the bar: its upload the first third, the camera's restart the rest.
    switch (status.phase) {
    case CameraStatus::Phase::Waiting:
        row.standing = Standing::Waiting;
        row.state = QStringLiteral("waiting");
        row.progress = 0;
        break;
    case CameraStatus::Phase::Asking:
        row.standing = Standing::Working;
        row.state = QStringLiteral("asking");
        row.progress = 0;
        break;
    case CameraStatus::Phase::Uploading:
        row.standing = Standing::Working;
        row.state = files + QStringLiteral(" uploading") + percent;
        row.progress = int(100 * ((file - 1) + p / 3) / n);
        break;
    case CameraStatus::Phase::Restarting:
        row.standing = Standing::Working;
        row.state = files + QStringLiteral(" waiting for restart") + percent;
        row.progress = int(100 * ((file - 1) + 1.0 / 3 + 2 * p / 3) / n);
        break;
    case CameraStatus::Phase::CheckingNetwork:
        row.standing = Standing::Working;
        row.state = files + QStringLiteral(" checking the network version");
        row.progress = int(100 * double(file) / n);
        break;
    case CameraStatus::Phase::Verifying:
        row.standing = Standing::Working;
        row.state = QStringLiteral("verifying");
        row.progress = 100;
        break;
    case CameraStatus::Phase::Ended:
        // The end itself comes with the camera's report (setEnded).
        row.progress = 100;
        break;
    }
    changed(r, StateColumn, ProgressColumn);
}

void CameraTableModel::setEnded(const CameraReport& report)
{
    const int r = rowOf(report.address);
    if (r < 0)
        return;
    Row& row = m_list[std::size_t(r)];
    row.inUpdate = true;
    row.phase = CameraStatus::Phase::Ended;
    row.standing = succeeded(report)                   ? Standing::Succeeded
        : report.end == FleetEnd::NotStarted              ? Standing::NotStarted
                                                          : Standing::Failed;
    row.state = displaySafe(endText(report));
    row.progress = 100;
    if (!report.after.isEmpty()) {
        row.versions.clear();
        for (const QString& v : report.after)
            row.versions << displaySafe(v);
    }
    changed(r, AddressColumn, ProgressColumn);
}

bool CameraTableModel::isTicked(int row) const
{
    return row >= 0 && row < int(m_list.size()) && m_list[std::size_t(row)].ticked;
}

void CameraTableModel::setTicked(int row, bool ticked)
{
    if (row < 0 || row >= int(m_list.size()))
        return;
    Row& r = m_list[std::size_t(row)];
    // Only a camera with something to send can be updated: a tick elsewhere would mean nothing.
    const bool value = ticked && r.sendable;
    if (r.ticked == value)
        return;
    r.ticked = value;
    changed(row, AddressColumn, AddressColumn);
    emit ticksChanged();
}

void CameraTableModel::tickAll(bool ticked)
{
    for (int r = 0; r < int(m_list.size()); ++r)
        m_list[std::size_t(r)].ticked = ticked && m_list[std::size_t(r)].sendable;
    if (!m_list.empty())
        emit dataChanged(index(0, AddressColumn), index(int(m_list.size()) - 1, AddressColumn));
    emit ticksChanged();
}

QStringList CameraTableModel::tickedAddresses() const
{
    QStringList addresses;
    for (const Row& row : m_list) {
        if (row.ticked)
            addresses << row.address;
    }
    return addresses;
}

CameraTableModel::Standing CameraTableModel::standing(int row) const
{
    return m_list[std::size_t(row)].standing;
}

QString CameraTableModel::stateText(int row) const
{
    return m_list[std::size_t(row)].state;
}

int CameraTableModel::progress(int row) const
{
    return m_list[std::size_t(row)].progress;
}

QHash<CameraTableModel::Standing, int> CameraTableModel::counts() const
{
    QHash<Standing, int> counts;
    for (const Row& row : m_list) {
        if (row.inUpdate)
            ++counts[row.standing];
    }
    return counts;
}

int CameraTableModel::overallProgress() const
{
    int sum = 0;
    int rows = 0;
    for (const Row& row : m_list) {
        if (!row.inUpdate)
            continue;
        sum += qMax(0, row.progress);
        ++rows;
    }
    return rows == 0 ? 0 : sum / rows;
}

QStringList CameraTableModel::holdingFile() const
{
    QStringList addresses;
    for (const Row& row : m_list) {
        if (row.phase == CameraStatus::Phase::Uploading || row.phase == CameraStatus::Phase::Restarting
            || row.phase == CameraStatus::Phase::CheckingNetwork)
            addresses << row.address;
    }
    return addresses;
}

int CameraTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_list.size());
}

int CameraTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CameraTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_list.size()))
        return {};
    const Row& row = m_list[std::size_t(index.row())];
    const int column = index.column();
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == SortRole) {
        if (column == AddressColumn)
            return role == SortRole ? QVariant(row.sortKey) : QVariant(row.address);
        if (column == ModelColumn)
            return row.model;
        if (column >= FirstVersionColumn && column < StateColumn)
            return row.versions.value(column - FirstVersionColumn);
        if (column == StateColumn)
            return row.state;
        if (column == ProgressColumn)
            return role == Qt::DisplayRole ? (row.progress < 0 ? QVariant() : QVariant(QStringLiteral("%1%").arg(row.progress)))
                                           : QVariant(row.progress);
    }
    if (role == Qt::CheckStateRole && column == AddressColumn)
        return row.ticked ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::ForegroundRole && row.standing == Standing::Unanswered)
        return QColor(Qt::gray);
    if (role == ProgressRole)
        return row.progress;
    if (role == AnsweredRole)
        return row.standing != Standing::Unanswered;
    return {};
}

bool CameraTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != AddressColumn || role != Qt::CheckStateRole)
        return false;
    const bool before = isTicked(index.row());
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return before != isTicked(index.row()) || value.toInt() != Qt::Checked;
}

Qt::ItemFlags CameraTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == AddressColumn && m_list[std::size_t(index.row())].sendable)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant CameraTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == AddressColumn)
        return QStringLiteral("Address");
    if (section == ModelColumn)
        return QStringLiteral("Model");
    if (section >= FirstVersionColumn && section < StateColumn)
        return QLatin1String(kVersionHeads[std::size_t(section - FirstVersionColumn)]);
    if (section == StateColumn)
        return QStringLiteral("State");
    if (section == ProgressColumn)
        return QStringLiteral("Progress");
    return {};
}

CameraFilterModel::CameraFilterModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(CameraTableModel::SortRole);
    setDynamicSortFilter(true);
}

void CameraFilterModel::setHideUnanswered(bool hide)
{
    m_hideUnanswered = hide;
    invalidateFilter();
}

void CameraFilterModel::setText(const QString& text)
{
    m_text = text.trimmed();
    invalidateFilter();
}

bool CameraFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QAbstractItemModel* model = sourceModel();
    if (m_hideUnanswered && !model->index(sourceRow, 0, sourceParent).data(CameraTableModel::AnsweredRole).toBool())
        return false;
    if (m_text.isEmpty())
        return true;
    for (int c = 0; c < model->columnCount(sourceParent); ++c) {
        if (model->index(sourceRow, c, sourceParent).data().toString().contains(m_text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
