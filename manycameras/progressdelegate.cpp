#include "manycameras/progressdelegate.h"

#include "manycameras/cameratablemodel.h"

#include <QApplication>
#include <QStyleOptionProgressBar>

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int progress = index.data(CameraTableModel::ProgressRole).toInt();
    if (progress < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = progress;
    bar.text = QStringLiteral("%1%").arg(progress);
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
}
