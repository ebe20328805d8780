// The model behind ListBox1: one row per entry of the watched list, its bytes decoded for the
// screen.
#pragma once

#include <QAbstractListModel>

#include "list/watchedlist.h"

namespace pelmora::ui {

class WatchedListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    explicit WatchedListModel(list::WatchedList& list, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    list::WatchedList& m_list;
};

}  // namespace pelmora::ui
