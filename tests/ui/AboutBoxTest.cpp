// The About box: its contents, the registry step of its creation, and closing it with Enter.
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "platform/ioerror.h"
#include "platform/registry.h"
#include "tests/support/ModalAnswer.h"
#include "tests/ui/ShellFixture.h"
#include "ui/AboutBox.h"

namespace pelmora::test {
namespace {

// A store that records what it was asked to write, or fails as a broken one would.
class RecordingRegistry : public platform::Registry {
  public:
    explicit RecordingRegistry(bool fails = false) : m_fails(fails) {}
    bool WriteRegistryEntries(std::string_view program, std::string_view maker,
                              std::string_view product, std::string_view version) override {
        if (m_fails) throw platform::PelmoraError("Failed to create key X");
        calls.push_back(std::string(program) + "|" + std::string(maker) + "|" +
                        std::string(product) + "|" + std::string(version));
        return false;
    }
    std::vector<std::string> calls;

  private:
    bool m_fails;
};

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
    RecordingRegistry registry;
    services.registry = &registry;
    ui::TAboutBox box(services);
    EXPECT_EQ(registry.calls,
              (std::vector<std::string>{services.programPath + "|Quillon|Pelmora|2.0"}));
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
    RecordingRegistry registry(true);
    services.registry = &registry;
    ui::TAboutBox box(services);
    EXPECT_EQ(dialogs.errors(), (std::vector<std::string>{"Failed to create key X"}));
    EXPECT_EQ(box.Version->text(), "Version 2.0");
}

TEST_F(AboutBox, HelpAboutShowsItModallyAndEnterClosesIt) {
    ui::TForm1& f = createForm();
    ui::TAboutBox box(services, &f);
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
