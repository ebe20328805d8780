#include "ui/ListBox.h"

#include <QStyledItemDelegate>

#include "platform/displayname.h"
#include "platform/ioerror.h"
#include "ui/RightClick.h"

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

namespace {

class FixedRowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(ListBox::kRowHeight);
        return s;
    }
};

}  // namespace

ListBox::ListBox(list::WatchedList& list, QWidget* parent)
    : QListView(parent), m_list(list), m_model(new WatchedListModel(list, this)) {
    setModel(m_model);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setItemDelegate(new FixedRowDelegate(this));
    keepSelectionOnRightClick(this);
}

bool ListBox::isSelected(int index) const {
    if (index < 0 || index >= m_list.count())
        throw platform::PelmoraError("List index out of bounds");
    return selectionModel()->isRowSelected(index, {});
}

int ListBox::selectionCount() const {
    return static_cast<int>(selectionModel()->selectedRows().size());
}

int ListBox::currentIndex() const {
    if (m_list.count() == 0) return -1;
    const QModelIndex cur = QListView::currentIndex();
    return cur.isValid() ? cur.row() : 0;
}

}  // namespace pelmora::ui
