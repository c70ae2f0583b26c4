#include "acquisition/samplelistmodel.h"

#include <QLocale>

namespace tarvelo::gui {

namespace {

constexpr int kColumns = static_cast<int>(acquisition::kListColumns.size());

Qt::Alignment columnAlignment(int column) {
    const auto alignment = acquisition::kListColumns.at(column).alignment;
    return (alignment == acquisition::Alignment::Right ? Qt::AlignRight : Qt::AlignLeft) |
           Qt::AlignVCenter;
}

}  // namespace

SampleListModel::SampleListModel(acquisition::SampleList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

int SampleListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : list_.size();
}

int SampleListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant SampleListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= list_.size() || index.column() >= kColumns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdString(
            list_.cellText(index.row(), index.column(), decimalSeparator()));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columnAlignment(index.column()));
    return {};
}

QVariant SampleListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return QString::fromStdString(list_.caption(section));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columnAlignment(section));
    return {};
}

void SampleListModel::addRow(const acquisition::SampleRow& row) {
    const int at = list_.size();
    beginInsertRows({}, at, at);
    list_.addRow(row);
    endInsertRows();
}

void SampleListModel::clear() {
    beginResetModel();
    list_.clear();
    endResetModel();
}

void SampleListModel::refill(const acquisition::MeasurementMemory& memory) {
    beginResetModel();
    list_.refill(memory);
    endResetModel();
}

void SampleListModel::captionsChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
}

char SampleListModel::decimalSeparator() {
    const QString point = QLocale().decimalPoint();
    if (point.isEmpty() || point.at(0).unicode() > 0x7f)
        return '.';
    return static_cast<char>(point.at(0).unicode());
}

}  // namespace tarvelo::gui
