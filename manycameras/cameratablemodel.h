#ifndef KELVORA_MANYCAMERAS_CAMERATABLEMODEL_H
#define KELVORA_MANYCAMERAS_CAMERATABLEMODEL_H

// The many-camera window's table: one row per target, filled in as the engine tells what it
// found and did (fleet/: each camera's answer, its plan, its run's status, its end). The
// rows hold only what a person is shown and the tick of each camera; every decision (what
// a camera is sent, how its run ends) is the engine's. Camera-supplied text is made safe
// for display here, once. Widget-free: the window's view draws it, tests read it.

#include "fleet/camerastatus.h"
#include "fleet/fleetreport.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

#include <vector>

class CameraTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        AddressColumn = 0,  // with the camera's tick
        ModelColumn,
        FirstVersionColumn,  // the nine versions, in component order
        StateColumn = FirstVersionColumn + 9,
        ProgressColumn,
        ColumnCount,
    };
    enum Role {
        ProgressRole = Qt::UserRole + 1,  // 0..100, -1 when there is nothing to show
        AnsweredRole,                     // false for a target that did not answer
        SortRole,                         // what a column sorts by (addresses by number)
    };
    // Where a row stands, for the counts under the table.
    enum class Standing { Asking, Unanswered, Answered, Planned, Waiting, Working, Succeeded, Failed, NotStarted };

    explicit CameraTableModel(QObject* parent = nullptr);

    // Every row anew, one per address, each being asked.
    void setTargets(const QStringList& addresses);
    int rowOf(const QString& address) const { return m_index.value(address, -1); }
    QString addressAt(int row) const;

    void setScan(const ScanResult& scan);
    // A plan from a folder; the camera is ticked when it has something to send.
    void setPlan(const PlanEntry& entry);
    void clearPlans();
    void setStatus(const CameraStatus& status);
    void setEnded(const CameraReport& report);

    bool isTicked(int row) const;
    void setTicked(int row, bool ticked);
    void tickAll(bool ticked);  // every camera with something to send, or none
    QStringList tickedAddresses() const;  // table order

    Standing standing(int row) const;
    QString stateText(int row) const;
    int progress(int row) const;
    // Counts per standing among the rows of an update, and the update's overall percent.
    QHash<Standing, int> counts() const;
    int overallProgress() const;
    // Addresses whose cameras hold a file now: posted, or writing and restarting.
    QStringList holdingFile() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void ticksChanged();

private:
    struct Row {
        QString address;
        Standing standing = Standing::Asking;
        QString model;
        QStringList versions;  // nine, "" where none
        QString state;
        bool sendable = false;  // the plan has files to send
        bool ticked = false;
        bool inUpdate = false;
        int progress = -1;
        CameraStatus::Phase phase = CameraStatus::Phase::Waiting;
        quint64 sortKey = 0;  // IPv4 addresses in numeric order, with the port
    };

    void changed(int row, int firstColumn, int lastColumn);

    std::vector<Row> m_list;
    QHash<QString, int> m_index;  // row by address
};

// The rows a person asked to see: those holding the filter's text in any column, and the
// unanswered only unless they are hidden. Sorts by each column's SortRole.
class CameraFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit CameraFilterModel(QObject* parent = nullptr);
    void setHideUnanswered(bool hide);
    void setText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool m_hideUnanswered = false;
    QString m_text;
};

#endif
