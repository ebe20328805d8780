// ListBox1 as the user meets it: rows of 16 pixels showing the entries, extended
// multi-selection with the mouse, a current item, and a right click that changes nothing.
#include <QApplication>
#include <QFile>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include "platform/ioerror.h"
#include "ui/ListBox.h"

namespace pelmora::ui {
namespace {

using Lines = std::vector<std::string>;

class ListBoxTest : public ::testing::Test {
  protected:
    ListBoxTest() : box(list) {
        box.resize(272, 279);
        box.show();
        for (const char* s : {"/e", "/b", "/d", "/a", "/c"}) list.add(s);
    }

    void click(int row, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        const QPoint at = box.visualRect(box.model()->index(row, 0)).center();
        const QPointF local(at), global(box.viewport()->mapToGlobal(at));
        QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, mods);
        QApplication::sendEvent(box.viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, mods);
        QApplication::sendEvent(box.viewport(), &release);
    }

    std::vector<int> selectedRows() const {
        std::vector<int> rows;
        for (int i = 0; i < list.count(); ++i)
            if (box.isSelected(i)) rows.push_back(i);
        return rows;
    }

    list::WatchedList list;
    ListBox box;
};

TEST_F(ListBoxTest, ShowsTheEntriesInListOrderWithRowsOf16Pixels) {
    ASSERT_EQ(box.model()->rowCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(box.model()->index(i, 0).data().toString().toStdString(), list.get(i));
        EXPECT_EQ(box.visualRect(box.model()->index(i, 0)).height(), 16);
    }
    list.remove(0);
    list.add("/0");
    EXPECT_EQ(box.model()->rowCount(), 5);
    EXPECT_EQ(box.model()->index(0, 0).data().toString(), "/0");
    list.clear();
    EXPECT_EQ(box.model()->rowCount(), 0);
}

TEST_F(ListBoxTest, DecodesNamesForTheScreenOnly) {
    const std::string latin1 = "/srv/caf\xE9";
    list.add(latin1);
    const int row = list.indexOf(latin1);
    EXPECT_EQ(box.model()->index(row, 0).data().toString(),
              QFile::decodeName(QByteArray::fromStdString(latin1)));
    EXPECT_EQ(list.get(row), latin1);
}

TEST_F(ListBoxTest, TheCurrentItemIsTheFirstUntilTheFocusMoves) {
    EXPECT_EQ(box.currentIndex(), 0);
    EXPECT_EQ(box.selectionCount(), 0);
    click(3);
    EXPECT_EQ(box.currentIndex(), 3);
    list.clear();
    EXPECT_EQ(box.currentIndex(), -1);
    list.add("/x");
    EXPECT_EQ(box.currentIndex(), 0);
}

TEST_F(ListBoxTest, ExtendedSelectionWithTheMouse) {
    click(1);
    EXPECT_EQ(selectedRows(), (std::vector<int>{1}));
    click(3, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(selectedRows(), (std::vector<int>{1, 2, 3}));
    click(2, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), (std::vector<int>{1, 3}));
    EXPECT_EQ(box.selectionCount(), 2);
    EXPECT_EQ(box.currentIndex(), 2);
    click(4);
    EXPECT_EQ(selectedRows(), (std::vector<int>{4}));
    EXPECT_EQ(box.selectionCount(), 1);
}

TEST_F(ListBoxTest, ARightClickMovesNeitherHighlightNorFocus) {
    click(1);
    click(4, Qt::RightButton);
    EXPECT_EQ(selectedRows(), (std::vector<int>{1}));
    EXPECT_EQ(box.currentIndex(), 1);
    click(2, Qt::RightButton, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), (std::vector<int>{1}));
}

TEST_F(ListBoxTest, IsSelectedOutsideTheListFails) {
    for (int bad : {-1, 5}) {
        try {
            box.isSelected(bad);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const platform::PelmoraError& e) {
            EXPECT_STREQ(e.what(), "List index out of bounds");
        }
    }
}

}  // namespace
}  // namespace pelmora::ui
