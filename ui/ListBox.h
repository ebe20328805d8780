// ListBox1: the watched list as a sorted list box with extended multi-selection and a
// current item. The WatchedList it shows is the only store of the entries; rows show the
// entries' bytes decoded for the screen.
#pragma once

#include <QListView>

#include "list/watchedlist.h"
#include "ui/WatchedListModel.h"

namespace pelmora::ui {

// A right click opens the popup menu only: it moves neither the highlighting nor the current
// item. The Menu key and Shift+F10 open it at the current item, which shows a focus rectangle
// while the list has the focus.
class ListBox : public QListView {
    Q_OBJECT
  public:
    explicit ListBox(list::WatchedList& list, QWidget* parent = nullptr);

    list::WatchedList& list() { return m_list; }

    // The list-box operations beside those of WatchedList.
    bool isSelected(int index) const;  // raises "List index out of bounds" outside the list
    int selectionCount() const;
    int currentIndex() const;  // -1 only for an empty list

    static constexpr int kRowHeight = 16;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    list::WatchedList& m_list;
    WatchedListModel* m_model;
};

}  // namespace pelmora::ui
