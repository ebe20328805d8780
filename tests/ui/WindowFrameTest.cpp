// The frames of the boxes: a caption and a close box, nothing to minimise or maximise, wide
// enough for the caption; a title bar of their own where Qt's would offer more.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPicture>
#include <functional>

#include <gtest/gtest.h>

#include "output/gui/ReportPreview.h"
#include "output/gui/SystemPrinter.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/windowframe.h"
#include "tests/support/ModalAnswer.h"
#include "tests/support/ScriptedDialogs.h"

namespace pelmora::test {
namespace {

using platform::TitleBar;

// The title bar's buttons a window asks for: exactly a close box.
void expectCloseBoxOnly(Qt::WindowFlags flags, const char* what) {
    EXPECT_TRUE(flags & Qt::WindowTitleHint) << what;
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint) << what;
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint) << what;  // else Qt adds buttons of its own
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowContextHelpButtonHint))
        << what;
}

// The width of a caption in the bold title font.
int captionText(const QString& caption) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    f.setBold(true);
    return QFontMetrics(f).horizontalAdvance(caption);
}

TEST(WindowFrames, MessageBoxesHaveACloseBoxOnlyAndRoomForTheirCaption) {
    struct Case {
        const char* what;
        std::function<void()> open;
        QString caption;
    } cases[] = {
        {"notice", [] { platform::qtDialogs().notice("The list is empty."); }, "Pelmora"},
        {"error box", [] { platform::qtDialogs().errorBox("x"); }, "Pelmora"},
        {"warning",
         [] {
             platform::qtDialogs().messageDlgEx("Pelmora: File /X.PML not found.",
                                                platform::MsgDlgType::Warning, platform::mbAbort, 0,
                                                0);
         },
         "Warning"},
    };
    for (const Case& c : cases) {
        Qt::WindowFlags flags;
        int width = 0;
        QString caption;
        const auto answer = whenModalShown<QDialog>([&](QDialog* box) {
            flags = box->windowFlags();
            width = box->width();
            caption = box->windowTitle();
            box->close();
        });
        c.open();
        ASSERT_TRUE(answer->done()) << c.what;
        EXPECT_EQ(caption, c.caption);
        expectCloseBoxOnly(flags, c.what);
        // The caption beside a window manager's icon and up to three buttons of some 20 pixels.
        EXPECT_GE(width, captionText(c.caption) + 100) << c.what;
    }
}

TEST(WindowFrames, TheReportWindowsHaveACloseBoxOnlyWhichCancelsAProgressWindowsRun) {
    output::TQRProgressWindow progress;
    progress.open("Creating report...", "Preparing report");
    expectCloseBoxOnly(progress.windowFlags(), "progress window");
    EXPECT_GE(progress.width(), captionText("Creating report...") + 100);
    EXPECT_TRUE(progress.step());
    static_cast<QWidget&>(progress).close();  // what the close box does
    EXPECT_FALSE(progress.step());

    ScriptedDialogs dialogs;
    output::TQRPreview preview({}, {}, "Pelmora Report", dialogs, output::systemPrintBackend());
    expectCloseBoxOnly(preview.windowFlags(), "preview");
}

TEST(WindowFrames, ABoxThatIsMinimisedAnywayComesBack) {
    QDialog box;
    platform::useDialogFrame(&box, TitleBar::WindowSystem);
    box.show();
    box.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    EXPECT_FALSE(box.isMinimized());
    EXPECT_TRUE(box.isVisible());
}

TEST(WindowFrames, ADrawnTitleBarShowsTheCaptionAndClosesTheBox) {
    QDialog box;
    platform::useDialogFrame(&box, TitleBar::Drawn);
    box.setWindowTitle("Pelmora");
    box.resize(platform::captionMinimumWidth(&box, TitleBar::Drawn), 80);
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
    box.open();
    auto* bar = box.findChild<QWidget*>("TitleBar");
    auto* closeBox = box.findChild<QAbstractButton*>("CloseBox");
    ASSERT_TRUE(bar && closeBox);
    // Above the contents, across the box, with room for the caption beside the close box.
    EXPECT_LE(bar->geometry().bottom(), box.contentsRect().top());
    EXPECT_GE(bar->width(), box.width() - 4);
    EXPECT_GE(closeBox->geometry().left(), captionText("Pelmora"));
    EXPECT_LE(closeBox->geometry().right(), bar->width());
    closeBox->click();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace pelmora::test
