#ifndef KELVORA_MANYCAMERAS_PROGRESSDELEGATE_H
#define KELVORA_MANYCAMERAS_PROGRESSDELEGATE_H

// A camera's progress drawn as a bar in its table cell, from the model's ProgressRole.

#include <QStyledItemDelegate>

class ProgressDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

#endif
