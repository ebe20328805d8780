// Qt's own file dialogs behind the Dialogs seam: title, filters, default extension, preset name
// and folder, and the chosen path handed back as bytes.
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <functional>

#include <gtest/gtest.h>

#include "platform/gui/dialogs.h"
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

void whenDialogShown(std::function<void(QFileDialog*)> act, bool* seen) {
    QTimer::singleShot(0, [act, seen] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (d == nullptr) return;
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
    whenDialogShown(
        [&](QFileDialog* d) {
            EXPECT_EQ(d->windowTitle(), "Save Directory List");
            filters = d->nameFilters();
            EXPECT_EQ(d->selectedNameFilter(), "Pelmora Files (*.PML)");
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

TEST(FileDialogs, CancellingGivesNothing) {
    TempTree tree;
    bool seen = false;
    whenDialogShown([](QFileDialog* d) { d->reject(); }, &seen);
    EXPECT_FALSE(
        platform::qtDialogs().openFileName(listDialog(tree.root(), "Open Directory List")));
    EXPECT_TRUE(seen);
}

TEST(FileDialogs, OpenAcceptsANameThatDoesNotExist) {
    TempTree tree;
    bool seen = false;
    whenDialogShown(
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
