#include "ui/ListFocus.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>

namespace pelmora::ui {

namespace {

QModelIndex keyboardRow(const QAbstractItemView* view) {
    const QModelIndex current = view->currentIndex();
    if (current.isValid() || view->model() == nullptr || view->model()->rowCount() == 0)
        return current;
    return view->model()->index(0, 0);
}

class KeyboardPopup final : public QObject {
  public:
    explicit KeyboardPopup(QAbstractItemView* view) : QObject(view), m_view(view) {}

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress: {
                const auto* key = static_cast<QKeyEvent*>(event);
                if (key->key() != Qt::Key_F10 ||
                    (key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier)
                    return false;
                popup();
                return true;
            }
            case QEvent::ContextMenu:
                // The Menu key; a right click reaches the viewport, not the view.
                if (static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Keyboard)
                    return false;
                popup();
                return true;
            default:
                return false;
        }
    }

  private:
    void popup() {
        if (const QModelIndex row = keyboardRow(m_view); row.isValid()) m_view->scrollTo(row);
        // Just below the start of the row, so that the menu leaves the row it acts on in view.
        const QRect r = keyboardRowRect(m_view);
        emit m_view->customContextMenuRequested(QPoint(r.left() + r.height(), r.bottom() + 1));
    }

    QAbstractItemView* m_view;
};

}  // namespace

QRect keyboardRowRect(const QAbstractItemView* view) {
    if (const QModelIndex row = keyboardRow(view); row.isValid()) return view->visualRect(row);
    const int height = std::max(view->fontMetrics().height(), 16);
    return QRect(0, 0, view->viewport()->width(), height);
}

void drawFocusRectangle(QAbstractItemView* view) {
    if (!view->hasFocus()) return;
    const QRect r = keyboardRowRect(view).adjusted(0, 0, -1, -1);
    if (r.width() < 1 || r.height() < 1) return;
    QPainter painter(view->viewport());
    // White XOR inverts what lies beneath: black dots on white, light dots on the navy highlight.
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(Qt::white);
    // Every other pixel along the outline, as the classic focus rectangle.
    for (int x = r.left(); x <= r.right(); x += 2) {
        painter.drawPoint(x, r.top());
        painter.drawPoint(x, r.bottom());
    }
    for (int y = r.top() + 2; y < r.bottom(); y += 2) {
        painter.drawPoint(r.left(), y);
        painter.drawPoint(r.right(), y);
    }
}

void openPopupFromKeyboard(QAbstractItemView* view) {
    view->installEventFilter(new KeyboardPopup(view));
}

}  // namespace pelmora::ui
