// Qt's own file dialogs behind the Dialogs seam: title, filters, default extension, preset name
// and folder, and the chosen path handed back as bytes.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/gui/dialogs.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/TempTree.h"

namespace pelmora::test {
namespace {

platform::FileDialogOptions listDialog(const std::string& dir, const std::string& title) {
    platform::FileDialogOptions o;
    o.title = title;
    o.defaultExt = "PML";
    o.filter = "Pelmora Files (*.PML)|*.PML|All Files (*.*)|*.*";
    o.initialDir = dir;
    o.overwritePrompt = true;
    return o;
}

// The filter descriptions as the dialog's filter box shows them.
QStringList shownFilters(QFileDialog* d) {
    QStringList out;
    if (auto* combo = d->findChild<QComboBox*>("fileTypeCombo"))
        for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
    return out;
}

std::unique_ptr<ModalAnswer> whenDialogShown(std::function<void(QFileDialog*)> act, bool* seen) {
    return whenModalShown<QFileDialog>([act, seen](QFileDialog* d) {
        *seen = true;
        act(d);
    });
}

TEST(FileDialogs, SaveAddsTheDefaultExtensionAndReturnsTheFullPath) {
    TempTree tree;
    platform::FileDialogOptions o = listDialog(tree.root(), "Save Directory List");
    o.fileName = "DEFAULT.PML";
    bool seen = false;
    QString preset;
    QStringList filters;
    bool nonNative = false;
    const auto answer = whenDialogShown(
        [&](QFileDialog* d) {
            EXPECT_EQ(d->windowTitle(), "Save Directory List");
            filters = shownFilters(d);
            EXPECT_EQ(d->findChild<QComboBox*>("fileTypeCombo")->currentText(),
                      "Pelmora Files (*.PML)");
            EXPECT_EQ(d->directory().absolutePath().toStdString(), tree.root());
            EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_FALSE(d->testOption(QFileDialog::DontConfirmOverwrite));
            nonNative = d->testOption(QFileDialog::DontUseNativeDialog);
            preset = d->selectedFiles().value(0);
            d->selectFile("week");
            QMetaObject::invokeMethod(d, "accept");
        },
        &seen);
    const std::optional<std::string> chosen = platform::qtDialogs().saveFileName(o);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(nonNative);
    EXPECT_EQ(filters, QStringList({"Pelmora Files (*.PML)", "All Files (*.*)"}));
    EXPECT_TRUE(preset.endsWith("/DEFAULT.PML"));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, tree.root() + "/week.PML");
}

TEST(FileDialogs, AllFilesListsNamesWithoutAFullStop) {
    TempTree tree;
    struct Case {
        int filter;
        const char* name;
        bool listed;
    } cases[] = {
        {0, "LIST.PML", true}, {0, "README", false}, {1, "README", true}, {1, "list.pml", true}};
    bool seen = false;
    const auto answer = whenDialogShown(
        [&](QFileDialog* d) {
            auto* model = d->findChild<QFileSystemModel*>("qt_filesystem_model");
            for (const Case& c : cases) {
                if (model == nullptr) break;
                d->selectNameFilter(d->nameFilters().value(c.filter));
                EXPECT_EQ(QDir::match(model->nameFilters(), c.name), c.listed)
                    << c.filter << " " << c.name;
            }
            EXPECT_NE(model, nullptr);
            d->reject();
        },
        &seen);
    platform::qtDialogs().openFileName(listDialog(tree.root(), "Open Directory List"));
    EXPECT_TRUE(seen);
}

TEST(FileDialogs, TheDetailColumnsShowTheirTextsWholeAndAllInView) {
    TempTree tree;
    tree.write("WEEKLY.PML", "/home/ada/projects\r\n");
    tree.write("EMPTY.PML", "");
    bool seen = false;
    int rows = 0;
    const auto answer = whenDialogShown(
        [&](QFileDialog* d) {
            auto* view = d->findChild<QTreeView*>("treeView");
            ASSERT_NE(view, nullptr);
            // The folder is read in the background; the rows come within moments.
            for (int i = 0; i < 200 && view->model()->rowCount(view->rootIndex()) < 2; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                QApplication::processEvents();
            }
            QApplication::processEvents();
            rows = view->model()->rowCount(view->rootIndex());
            const QHeaderView* header = view->header();
            for (int row = 0; row < rows; ++row)
                for (int column = 1; column < 4; ++column) {
                    const QString text =
                        view->model()->index(row, column, view->rootIndex()).data().toString();
                    EXPECT_LT(view->fontMetrics().horizontalAdvance(text),
                              header->sectionSize(column))
                        << text.toStdString();
                }
            EXPECT_LE(header->length(), view->viewport()->width());
            d->reject();
        },
        &seen);
    platform::qtDialogs().openFileName(listDialog(tree.root(), "Open Directory List"));
    EXPECT_TRUE(seen);
    EXPECT_EQ(rows, 2);
}

TEST(FileDialogs, CancellingGivesNothing) {
    TempTree tree;
    bool seen = false;
    const auto answer = whenDialogShown([](QFileDialog* d) { d->reject(); }, &seen);
    EXPECT_FALSE(
        platform::qtDialogs().openFileName(listDialog(tree.root(), "Open Directory List")));
    EXPECT_TRUE(seen);
}

TEST(FileDialogs, OpenAcceptsANameThatDoesNotExist) {
    TempTree tree;
    bool seen = false;
    const auto answer = whenDialogShown(
        [](QFileDialog* d) {
            EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptOpen);
            EXPECT_EQ(d->fileMode(), QFileDialog::AnyFile);
            d->selectFile("new.PML");
            QMetaObject::invokeMethod(d, "accept");
        },
        &seen);
    const auto chosen =
        platform::qtDialogs().openFileName(listDialog(tree.root(), "Open Directory List"));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, tree.root() + "/new.PML");
}

}  // namespace
}  // namespace pelmora::test
