// The About box: its contents, the registry step of its creation, and closing it with Enter.
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "platform/ioerror.h"
#include "tests/support/ModalAnswer.h"
#include "tests/ui/ShellFixture.h"
#include "ui/AboutBox.h"

namespace pelmora::test {
namespace {

std::vector<std::string> g_registryCalls;

bool recordRegistry(std::string_view, std::string_view maker, std::string_view product,
                    std::string_view version) {
    g_registryCalls.push_back(std::string(maker) + "|" + std::string(product) + "|" +
                              std::string(version));
    return false;
}

bool failingRegistry(std::string_view, std::string_view, std::string_view, std::string_view) {
    throw platform::PelmoraError("Failed to create key X");
}

// Presses `key` in the modal window once it is shown.
std::unique_ptr<ModalAnswer> pressInModalWhenShown(int key, bool* seen) {
    return whenModalShown<QWidget>([key, seen](QWidget* modal) {
        *seen = true;
        QWidget* target = modal->focusWidget() != nullptr ? modal->focusWidget() : modal;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    });
}

using AboutBox = ShellTest;

TEST_F(AboutBox, ShowsNameVersionAndPictureAndRecordsTheProgram) {
    g_registryCalls.clear();
    ui::TAboutBox box(services, &recordRegistry);
    EXPECT_EQ(g_registryCalls, (std::vector<std::string>{"Quillon|Pelmora|2.0"}));
    EXPECT_TRUE(dialogs.calls().empty());  // the result is ignored
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.windowTitle(), "Pelmora");
    EXPECT_EQ(box.ClientArea->size(), QSize(360, 218));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    EXPECT_EQ(box.Caption->text(), "Pelmora");  // its own title bar, without buttons
    EXPECT_TRUE(box.Caption->findChildren<QWidget*>().isEmpty());
    EXPECT_EQ(box.Caption->geometry().bottom() + 1, box.ClientArea->y());
    EXPECT_EQ(box.ProductName->text(), "Pelmora");
    EXPECT_EQ(box.ProductName->pos(), QPoint(170, 10));
    EXPECT_EQ(box.ProductName->font().pixelSize(), 19);
    EXPECT_TRUE(box.ProductName->font().bold());
    EXPECT_EQ(box.ProductName->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
    EXPECT_EQ(box.Version->text(), "Version 2.0");
    EXPECT_EQ(box.Version->pos(), QPoint(170, 34));
    EXPECT_EQ(box.Version->font().pixelSize(), 11);
    EXPECT_EQ(box.Version->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
    EXPECT_EQ(box.Image1->geometry(), QRect(8, 10, 147, 200));
    EXPECT_EQ(box.Image1->pixmap().size(), QSize(147, 200));
    EXPECT_EQ(box.OKButton->geometry(), QRect(222, 183, 57, 27));
    EXPECT_EQ(box.OKButton->text(), "OK");
    EXPECT_TRUE(box.OKButton->isDefault());
    const Qt::WindowFlags flags = box.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinMaxButtonsHint);
    EXPECT_TRUE(flags & Qt::FramelessWindowHint);  // so no window manager adds buttons
}

TEST_F(AboutBox, AnErrorWhileRecordingIsShownAndTheBoxIsStillCreated) {
    ui::TAboutBox box(services, &failingRegistry);
    EXPECT_EQ(dialogs.errors(), (std::vector<std::string>{"Failed to create key X"}));
    EXPECT_EQ(box.Version->text(), "Version 2.0");
}

TEST_F(AboutBox, HelpAboutShowsItModallyAndEnterClosesIt) {
    ui::TForm1& f = createForm();
    ui::TAboutBox box(services, nullptr, &f);
    f.setAboutBox(&box);
    bool seen = false;
    const auto answer = pressInModalWhenShown(Qt::Key_Return, &seen);
    f.About1->trigger();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST_F(AboutBox, EscapeDoesNotCloseIt) {
    ui::TAboutBox box(services);
    bool seen = false;
    const auto answer = whenModalShown<QWidget>([&](QWidget* modal) {
        seen = true;
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(modal, &esc);
        EXPECT_TRUE(box.isVisible());
        box.OKButton->click();
    });
    EXPECT_EQ(box.exec(), QDialog::Accepted);
    EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace pelmora::test
