// The real Qt boxes: captions, icons, the fixed button order, Enter, Escape and the close box.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <functional>

#include <gtest/gtest.h>

#include "platform/gui/dialogs.h"
#include "platform/gui/qtdialogs_p.h"
#include "tests/support/ModalAnswer.h"

namespace pelmora::test {
namespace {

using platform::MsgDlgType;
using platform::qtDialogs;

struct Seen {
    bool shown = false;
    QString title;
    QStringList buttons;
    QString text;
    bool hasIcon = false;
    bool fixedSize = false;  // minimum and maximum size are its size
};

// Once the next modal box runs, records what it shows and then does `act` to it.
std::unique_ptr<ModalAnswer> whenShown(Seen& seen, std::function<void(QWidget*)> act) {
    return whenModalShown<QWidget>([&seen, act](QWidget* box) {
        seen.shown = true;
        seen.title = box->windowTitle();
        for (auto* b : box->findChildren<QPushButton*>()) seen.buttons << b->text();
        if (auto* m = box->findChild<QLabel*>("Message")) seen.text = m->text();
        seen.hasIcon = box->findChild<QLabel*>("Icon") != nullptr;
        seen.fixedSize = box->minimumSize() == box->size() && box->maximumSize() == box->size();
        act(box);
    });
}

void press(QWidget* box, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = box->focusWidget() != nullptr ? box->focusWidget() : box;
    QKeyEvent e(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &e);
}

TEST(MessageBoxes, ButtonsStandInTheFixedOrderWithTheirCaptions) {
    Seen seen;
    const auto answer = whenShown(seen, [](QWidget* box) { press(box, Qt::Key_Escape); });
    const int r = qtDialogs().messageDlg(
        "Save?", MsgDlgType::Confirmation,
        platform::mbCancel | platform::mbNo | platform::mbYes | platform::mbAll, 0);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, "Confirm");
    EXPECT_EQ(seen.buttons, QStringList({"&Yes", "&No", "Cancel", "&All"}));
    EXPECT_EQ(seen.text, "Save?");
    EXPECT_TRUE(seen.hasIcon);
    EXPECT_TRUE(seen.fixedSize);
    EXPECT_EQ(r, platform::mrCancel);  // Escape presses Cancel when it is shown
}

TEST(MessageBoxes, EnterPressesOkElseYesAndEscapeCancelElseNoElseOk) {
    struct Case {
        unsigned buttons;
        int key;
        int expected;
    } cases[] = {
        {platform::mbOK | platform::mbCancel, Qt::Key_Return, platform::mrOk},
        {platform::mbYes | platform::mbNo, Qt::Key_Return, platform::mrYes},
        {platform::mbRetry | platform::mbCancel, Qt::Key_Return, platform::mrRetry},
        {platform::mbYes | platform::mbNo, Qt::Key_Escape, platform::mrNo},
        {platform::mbOK, Qt::Key_Escape, platform::mrOk},
    };
    for (const Case& c : cases) {
        Seen seen;
        const auto answer = whenShown(seen, [&c](QWidget* box) { press(box, c.key); });
        EXPECT_EQ(qtDialogs().messageDlg("q", MsgDlgType::Information, c.buttons, 0), c.expected)
            << c.buttons;
        EXPECT_TRUE(seen.shown);
        EXPECT_EQ(seen.title, "Information");
    }
}

TEST(MessageBoxes, TheLetterOfAButtonAnswersAloneOrWithAlt) {
    using namespace platform;
    struct Case {
        unsigned buttons;
        int key;
        Qt::KeyboardModifiers modifiers;
        int expected;
    } cases[] = {
        {mbYes | mbNo, Qt::Key_Y, Qt::NoModifier, mrYes},
        {mbYes | mbNo, Qt::Key_N, Qt::NoModifier, mrNo},
        {mbYes | mbNo | mbCancel, Qt::Key_N, Qt::AltModifier, mrNo},
        {mbAbort | mbRetry | mbIgnore, Qt::Key_R, Qt::NoModifier, mrRetry},
        {mbAbort | mbRetry | mbIgnore, Qt::Key_I, Qt::NoModifier, mrIgnore},
        {mbAbort | mbAll, Qt::Key_A, Qt::NoModifier, mrAbort},  // the first of one letter
        {mbOK | mbAll, Qt::Key_A, Qt::NoModifier, mrAll},
    };
    for (const Case& c : cases) {
        Seen seen;
        bool openAfterStray = false;
        const auto answer = whenShown(seen, [&](QWidget* box) {
            press(box, Qt::Key_X);  // no button has it
            openAfterStray = box->isVisible();
            press(box, c.key, c.modifiers);
            if (box->isVisible()) box->close();  // unanswered: fail, do not hang
        });
        EXPECT_EQ(qtDialogs().messageDlg("q", MsgDlgType::Confirmation, c.buttons, 0), c.expected)
            << c.buttons << " " << c.key;
        EXPECT_TRUE(openAfterStray);
    }
}

TEST(MessageBoxes, TheCloseBoxAnswersCancel) {
    Seen seen;
    const auto answer = whenShown(seen, [](QWidget* box) { box->close(); });
    EXPECT_EQ(
        qtDialogs().messageDlgEx("q", MsgDlgType::Information, platform::mbYes | platform::mbNo,
                                 platform::mbYes, platform::mbNo),
        platform::mrCancel);
    EXPECT_TRUE(seen.shown);
}

TEST(MessageBoxes, ABoxWithoutCancelButtonIgnoresEscape) {
    Seen seen;
    bool stillOpen = false;
    const auto answer = whenShown(seen, [&stillOpen](QWidget* box) {
        press(box, Qt::Key_Escape);
        stillOpen = box->isVisible();
        box->findChild<QPushButton*>()->click();
    });
    EXPECT_EQ(qtDialogs().messageDlgEx("Pelmora: File x not found.", MsgDlgType::Warning,
                                       platform::mbAbort, 0, 0),
              platform::mrAbort);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(seen.title, "Warning");
    EXPECT_EQ(seen.buttons, QStringList({"&Abort"}));
}

TEST(MessageBoxes, TheNoticeHasNoIconAndOneOk) {
    Seen seen;
    const auto answer = whenShown(seen, [](QWidget* box) { press(box, Qt::Key_Escape); });
    qtDialogs().notice("The list is empty.");
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, "Pelmora");
    EXPECT_EQ(seen.buttons, QStringList({"OK"}));
    EXPECT_FALSE(seen.hasIcon);
    EXPECT_EQ(seen.text, "The list is empty.");
    EXPECT_TRUE(seen.fixedSize);
}

TEST(MessageBoxes, TheErrorBoxEndsTheMessageWithAFullStop) {
    Seen seen;
    const auto answer = whenShown(seen, [](QWidget* box) { press(box, Qt::Key_Return); });
    qtDialogs().errorBox("Cannot open file /x/DEFAULT.PML");
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, "Pelmora");
    EXPECT_EQ(seen.text, "Cannot open file /x/DEFAULT.PML.");
    EXPECT_TRUE(seen.hasIcon);
    EXPECT_TRUE(seen.fixedSize);
    EXPECT_EQ(seen.buttons, QStringList({"OK"}));
}

TEST(MessageBoxes, FileDialogFiltersBecomeQtNameFilters) {
    EXPECT_EQ(platform::qtNameFilters("Pelmora Files (*.PML)|*.PML|All Files (*.*)|*.*"),
              "Pelmora Files (*.PML) (*.PML);;All Files (*.*) (*)");
    EXPECT_EQ(platform::qtNameFilters("Text|*.txt;*.TXT"), "Text (*.txt *.TXT)");
    EXPECT_EQ(platform::qtNameFilters(""), "");
}

}  // namespace
}  // namespace pelmora::test
