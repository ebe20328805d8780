// Under a dark theme the window still shows its fixed text colours on the backgrounds they were
// designed for: each text colour must stand out from the background the widget actually paints
// behind it, read from the rendered window (WCAG contrast ratio of at least 4.5).
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <map>

#include "tests/ui/ShellFixture.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"
#include "ui/AboutBox.h"

namespace pelmora::test {
namespace {

// The WCAG contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto f = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * f(c.redF()) + 0.7152 * f(c.greenF()) + 0.0722 * f(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour that covers most of `area` in `image`: what the text there is drawn on.
QColor background(const QImage& image, const QRect& area) {
    std::map<QRgb, int> counts;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) ++counts[image.pixel(x, y)];
    QRgb most = 0;
    int n = 0;
    for (const auto& [rgb, count] : counts)
        if (count > n) most = rgb, n = count;
    return QColor(most);
}

QPalette darkPalette() {
    QPalette p(QColor(0xE0, 0xE0, 0xE0), QColor(0x35, 0x35, 0x35), QColor(0x50, 0x50, 0x50),
               QColor(0x20, 0x20, 0x20), QColor(0x2A, 0x2A, 0x2A), QColor(0xE0, 0xE0, 0xE0),
               Qt::white, QColor(0x1E, 0x1E, 0x1E), QColor(0x2A, 0x2A, 0x2A));
    p.setColor(QPalette::Highlight, QColor(0x3D, 0xAE, 0xE9));
    p.setColor(QPalette::HighlightedText, Qt::black);
    return p;
}

class DarkTheme : public ShellTest {
  protected:
    void SetUp() override {
        m_saved = QApplication::palette();
        QApplication::setPalette(darkPalette());
        ShellTest::SetUp();
    }
    void TearDown() override {
        ShellTest::TearDown();
        QApplication::setPalette(m_saved);
    }

    // The text colour `w` paints with (its palette's `role`) against the background it has in
    // `shot` of `window`, within `area` of `w` (all of it when empty).
    static void expectReadable(const QImage& shot, const QWidget* window, const QWidget* w,
                               QPalette::ColorRole role, QRect area = {}) {
        if (area.isEmpty()) area = w->rect();
        const QColor text = w->palette().color(role);
        const QColor behind = background(shot, area.translated(w->mapTo(window, QPoint(0, 0))));
        EXPECT_GE(contrast(text, behind), 4.5)
            << w->objectName().toStdString() << ": " << text.name().toStdString() << " on "
            << behind.name().toStdString();
    }

  private:
    QPalette m_saved;
};

TEST_F(DarkTheme, EveryTextOfTheWindowStandsOutFromItsBackground) {
    tree.file("work/a.dat", 10);
    tree.dir("work/sub");
    volumes.flags |= platform::kFsCompressed;  // so that "(Compressed)" is shown
    ui::TForm1& f = createForm();
    f.watchedList().add(workDir);
    f.StatsButton->click();
    QApplication::processEvents();
    const QImage shot = f.grab().toImage();

    for (const QLabel* l :
         {f.FNLabel, f.FileNameLabel, f.CurrentDirectory, f.CompressedLabel, f.DirectoryLabel,
          f.TotDirsLabel, f.TotFilesLabel, f.TotSizeLabel, f.OverheadLabel}) {
        ASSERT_FALSE(l->text().isEmpty()) << l->objectName().toStdString();
        expectReadable(shot, &f, l, QPalette::WindowText);
    }
    // Inside the button's outline, which is drawn in one colour around a shaded face.
    expectReadable(shot, &f, f.StatsButton, QPalette::ButtonText,
                   f.StatsButton->rect().adjusted(3, 3, -3, -3));
    expectReadable(shot, &f, f.DriveComboBox1, QPalette::ButtonText);
    // A row of each list that is not highlighted: the root of the directory list, the entry of
    // the watched list.
    ui::TDirectoryListBox* dirs = f.DirectoryListBox1;
    ASSERT_NE(dirs->currentRow(), 0);
    expectReadable(shot, &f, dirs->viewport(), QPalette::Text, dirs->visualItemRect(dirs->item(0)));
    expectReadable(shot, &f, f.ListBox1->viewport(), QPalette::Text,
                   f.ListBox1->visualRect(f.ListBox1->model()->index(0, 0)));

    ui::TAboutBox about(services);
    const QImage aboutShot = about.grab().toImage();
    expectReadable(aboutShot, &about, about.ProductName, QPalette::WindowText);
    expectReadable(aboutShot, &about, about.Version, QPalette::WindowText);
}

}  // namespace
}  // namespace pelmora::test
