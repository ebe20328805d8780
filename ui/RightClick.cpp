#include "ui/RightClick.h"

#include <QAbstractItemView>
#include <QMouseEvent>

namespace pelmora::ui {

namespace {

class RightClickFilter final : public QObject {
  public:
    using QObject::QObject;

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                return static_cast<QMouseEvent*>(event)->button() == Qt::RightButton;
            case QEvent::MouseMove:
                return (static_cast<QMouseEvent*>(event)->buttons() & Qt::RightButton) != 0;
            default:
                return false;
        }
    }
};

}  // namespace

void keepSelectionOnRightClick(QAbstractItemView* view) {
    view->viewport()->installEventFilter(new RightClickFilter(view));
}

}  // namespace pelmora::ui
