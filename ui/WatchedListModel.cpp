#include "ui/WatchedListModel.h"

#include "platform/qt/displayname.h"

namespace pelmora::ui {

WatchedListModel::WatchedListModel(list::WatchedList& list, QObject* parent)
    : QAbstractListModel(parent), m_list(list) {
    m_list.onInserted = [this](int i) {
        beginInsertRows({}, i, i);
        endInsertRows();
    };
    m_list.onRemoved = [this](int i) {
        beginRemoveRows({}, i, i);
        endRemoveRows();
    };
    m_list.onReset = [this] {
        beginResetModel();
        endResetModel();
    };
}

int WatchedListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_list.count();
}

QVariant WatchedListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_list.count()) return {};
    // Decoded when shown, never stored: the list's bytes are the only copy of the entries.
    const std::string_view e = m_list.at(index.row());
    return platform::displayName(e);
}

}  // namespace pelmora::ui
