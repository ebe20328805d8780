// The keyboard in the two lists: where the focus is shows as a focus rectangle on the current
// row, and the Menu key and Shift+F10 open the list's popup menu at that row.
#include <QContextMenuEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>

#include "tests/ui/ShellFixture.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"

namespace pelmora::test {
namespace {

class ListKeyboard : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        createForm();
        for (const char* e : {"/a", "/b", "/c"}) form->watchedList().add(e);
    }

    // The watched list with row 2 current, highlighted or not.
    void makeWatchedRowCurrent(bool highlighted) {
        const QModelIndex row = form->ListBox1->model()->index(2, 0);
        form->ListBox1->selectionModel()->setCurrentIndex(
            row, highlighted ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Clear);
    }

    // The list's rows as drawn with the focus in the list and elsewhere.
    std::pair<QImage, QImage> drawnWithAndWithoutFocus(QAbstractItemView* view) {
        view->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        EXPECT_TRUE(view->hasFocus());
        QImage focused = view->viewport()->grab().toImage();
        form->StatsButton->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        return {focused, view->viewport()->grab().toImage()};
    }

    QAbstractItemView* directories() { return form->DirectoryListBox1; }
    QAbstractItemView* watched() { return form->ListBox1; }
};

// Pixels of `area` whose colour the focus changes from one end of the scale to the other (the
// rectangle inverts them), and pixels outside `area` that change at all.
struct Changes {
    int strongInside = 0;
    int outside = 0;
};
Changes changes(const QImage& a, const QImage& b, const QRect& area) {
    Changes c;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            if (p == q) continue;
            if (!area.contains(x, y))
                ++c.outside;
            else if (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                         std::abs(p.blue() - q.blue()) >
                     300)
                ++c.strongInside;
        }
    return c;
}

TEST_F(ListKeyboard, TheFocusShowsAsARectangleOnTheCurrentRow) {
    struct Case {
        const char* what;
        bool watchedList;
        bool highlighted;
    } cases[] = {
        {"directory list, current directory", false, true},
        {"watched list, highlighted row", true, true},
        {"watched list, row not highlighted", true, false},
    };
    struct RestorePalette {
        QPalette saved = QApplication::palette();
        ~RestorePalette() { QApplication::setPalette(saved); }
    } restore;
    // The desktop's theme, light or dark, changes nothing of it.
    for (const QPalette& theme : {restore.saved, QPalette(QColor(0x35, 0x35, 0x35))}) {
        QApplication::setPalette(theme);
        form.reset();
        createForm();
        for (const char* e : {"/a", "/b", "/c"}) form->watchedList().add(e);
        for (const Case& c : cases) {
            QAbstractItemView* view = c.watchedList ? watched() : directories();
            if (c.watchedList) makeWatchedRowCurrent(c.highlighted);
            const QRect row = view->visualRect(view->currentIndex());
            ASSERT_TRUE(row.isValid()) << c.what;
            const auto [focused, unfocused] = drawnWithAndWithoutFocus(view);
            const Changes seen = changes(focused, unfocused, row);
            // A dotted outline: every other pixel of the row's edge, at least.
            EXPECT_GE(seen.strongInside, row.width() / 2) << c.what;
            EXPECT_EQ(seen.outside, 0) << c.what;
        }
    }
}

TEST_F(ListKeyboard, AnEmptyWatchedListShowsTheFocusWhereItsFirstRowWouldBe) {
    form->watchedList().clear();
    const auto [focused, unfocused] = drawnWithAndWithoutFocus(watched());
    const Changes seen = changes(focused, unfocused, QRect(0, 0, focused.width(), 16));
    EXPECT_GE(seen.strongInside, focused.width() / 2);
    EXPECT_EQ(seen.outside, 0);
}

TEST_F(ListKeyboard, MenuKeyAndShiftF10OpenThePopupAtTheCurrentRow) {
    struct Case {
        const char* what;
        bool watchedList;
        bool menuKey;  // else Shift+F10
    } cases[] = {
        {"directory list, Menu key", false, true},
        {"directory list, Shift+F10", false, false},
        {"watched list, Menu key", true, true},
        {"watched list, Shift+F10", true, false},
    };
    for (const Case& c : cases) {
        QAbstractItemView* view = c.watchedList ? watched() : directories();
        QMenu* popup = c.watchedList ? form->ListPopup : form->DirectoryPopup;
        if (c.watchedList) makeWatchedRowCurrent(true);
        view->setFocus(Qt::TabFocusReason);
        const QRect row = view->visualRect(view->currentIndex());
        ASSERT_GT(row.top(), 0) << c.what;  // not the first row, where a stray (0,0) would be
        if (c.menuKey) {
            // Qt turns the Menu key into this event, at a place of its own choosing.
            QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                      view->mapToGlobal(QPoint(1, 1)));
            QApplication::sendEvent(view, &menuKey);
        } else {
            QKeyEvent f10(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
            QApplication::sendEvent(view, &f10);
        }
        ASSERT_TRUE(popup->isVisible()) << c.what;
        const QRect rowOnScreen(view->viewport()->mapToGlobal(row.topLeft()), row.size());
        EXPECT_GE(popup->pos().y(), rowOnScreen.top()) << c.what;
        EXPECT_LE(popup->pos().y(), rowOnScreen.bottom() + 2) << c.what;
        EXPECT_GE(popup->pos().x(), rowOnScreen.left()) << c.what;
        EXPECT_LT(popup->pos().x(), rowOnScreen.right()) << c.what;
        popup->hide();
    }
}

TEST_F(ListKeyboard, F10WithoutShiftOpensNoPopup) {
    directories()->setFocus(Qt::TabFocusReason);
    QKeyEvent f10(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
    QApplication::sendEvent(directories(), &f10);
    EXPECT_FALSE(form->DirectoryPopup->isVisible());
}

}  // namespace
}  // namespace pelmora::test
