#include "ui/ListBox.h"

#include <QStyledItemDelegate>

#include "platform/ioerror.h"
#include "ui/ListFocus.h"
#include "ui/RightClick.h"

namespace pelmora::ui {

namespace {

// Rows of kRowHeight pixels, whatever the font says, without the style's own focus frame: the
// list draws its focus rectangle itself, the same as the directory list's.
class FixedRowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(ListBox::kRowHeight);
        return s;
    }

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
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
    openPopupFromKeyboard(this);
}

void ListBox::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    drawFocusRectangle(this);
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
