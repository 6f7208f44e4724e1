#include "ui/dataset_model.h"

namespace ui {

DatasetModel::DatasetModel(QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns))
{
}

void DatasetModel::load(db::Dataset& rows)
{
    QList<int> indexes;
    for (const auto& c : columns_)
        indexes << rows.fieldIndex(c.field);

    QList<QStringList> read;
    for (rows.first(); !rows.eof(); rows.next()) {
        QStringList cells;
        for (int i : indexes)
            cells << (i >= 0 ? rows.field(i).asString() : QString());
        read << cells;
    }
    rows.first();

    beginResetModel();
    rows_ = std::move(read);
    endResetModel();
}

void DatasetModel::clearRows()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int DatasetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int DatasetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rows_.size())
        return {};
    return rows_[index.row()].value(index.column());
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return columns_[section].title;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columns_[section].titleAlignment);
    return {};
}

Qt::ItemFlags DatasetModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace ui
