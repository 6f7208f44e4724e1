#pragma once
// Read-only table model over the rows of a result set, as they were when it
// was last loaded: the grids bound to a list query.

#include "db/dataset.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

namespace ui {

class DatasetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;  // field name in the result set
        QString title;
        Qt::Alignment titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    };

    explicit DatasetModel(QList<Column> columns, QObject* parent = nullptr);

    // Reads every row of `rows` (from its first to its end) and stands it on
    // its first row again. A column whose field is absent shows empty cells.
    void load(db::Dataset& rows);
    void clearRows();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<Column> columns_;
    QList<QStringList> rows_;
};

} // namespace ui
