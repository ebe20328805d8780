// The navigator's pictures and the label's path shortening.
#include <QFontMetrics>
#include <QImage>
#include <set>

#include "NavFixture.h"

using pelmora::ui::navigatorPicture;
using pelmora::ui::NavPicture;
using pelmora::ui::ShortenPath;

namespace navtest {
namespace {

TEST(NavigatorPictures, HaveTheirSizesSixteenColoursAndTheBottomLeftColourTransparent) {
    const std::vector<std::pair<NavPicture, QSize>> all = {
        {NavPicture::OpenFolder, {16, 15}},   {NavPicture::CurrentFolder, {16, 15}},
        {NavPicture::ClosedFolder, {16, 15}}, {NavPicture::Floppy, {16, 11}},
        {NavPicture::Hard, {16, 11}},         {NavPicture::Network, {16, 11}},
        {NavPicture::CdRom, {16, 11}},        {NavPicture::Ram, {16, 11}},
    };
    std::set<qint64> distinct;
    for (const auto& [picture, size] : all) {
        const QPixmap& pixmap = navigatorPicture(picture);
        ASSERT_FALSE(pixmap.isNull()) << static_cast<int>(picture);
        EXPECT_EQ(pixmap.size(), size) << static_cast<int>(picture);
        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(qAlpha(image.pixel(0, image.height() - 1)), 0);
        std::set<QRgb> colours;
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qAlpha(p) == 0) continue;
                EXPECT_EQ(qAlpha(p), 255);
                colours.insert(p);
                ++opaque;
            }
        EXPECT_LE(colours.size(), 15u);  // plus the transparent one
        EXPECT_GT(opaque, size.width() * size.height() / 4) << static_cast<int>(picture);
        distinct.insert(image.cacheKey() == 0 ? 0
                                              : qHashBits(image.constBits(), image.sizeInBytes()));
    }
    EXPECT_EQ(distinct.size(), all.size());  // eight different pictures
}

class ShortenPathTest : public ::testing::Test {
  protected:
    int width(const QString& text) const { return QFontMetrics(font).horizontalAdvance(text); }
    QFont font = labelFont();
};

TEST_F(ShortenPathTest, ShrinksStepByStepAndStopsAtTheFirstFormThatFits) {
    const QStringList steps = {"/ALPHA/BETA/GAMMA/DELTA",
                               "/.../BETA/GAMMA/DELTA",
                               "/.../GAMMA/DELTA",
                               "/.../DELTA",
                               ".../DELTA",
                               "DELTA"};
    for (int i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(ShortenPath(steps[0], width(steps[i]), font), steps[i]);
        if (i + 1 < steps.size()) {
            EXPECT_EQ(ShortenPath(steps[0], width(steps[i]) - 1, font), steps[i + 1]);
        }
    }
    EXPECT_EQ(ShortenPath(steps[0], 0, font), "DELTA");
    EXPECT_EQ(ShortenPath(steps[0], 10000, font), steps[0]);
}

TEST_F(ShortenPathTest, RootIsNeverShortened) {
    EXPECT_EQ(ShortenPath("/", 249, font), "/");
    EXPECT_EQ(ShortenPath("/", 0, font), "/");
}

TEST_F(ShortenPathTest, ShortPathsAreKeptWhole) {
    EXPECT_EQ(ShortenPath("/a", 0, font), "a");
    EXPECT_EQ(ShortenPath("/a", 249, font), "/a");
    EXPECT_EQ(ShortenPath("/home/user", 249, font), "/home/user");
}

TEST_F(ShortenPathTest, HiddenDirectoriesAreDroppedOneAtATime) {
    const QString path = "/.hidden/.b/.cache/LONGNAME";
    const QStringList steps = {path,
                               "/.../.b/.cache/LONGNAME",
                               "/.../.cache/LONGNAME",
                               "/.../LONGNAME",
                               ".../LONGNAME",
                               "LONGNAME"};
    for (int i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(ShortenPath(path, width(steps[i]), font), steps[i]);
        if (i + 1 < steps.size()) {
            EXPECT_EQ(ShortenPath(path, width(steps[i]) - 1, font), steps[i + 1]);
        }
    }
}

TEST_F(ShortenPathTest, ShortHiddenFirstDirectoryNeverYieldsAnotherPath) {
    // Dropping ".a/" must not leave "/LONGNAME", which
    // would name a directory at the root.
    const QString path = "/.a/LONGNAME";
    const QStringList forms = {path, "/.../LONGNAME", ".../LONGNAME", "LONGNAME"};
    std::set<QString> seen;
    for (int w = 0; w <= width(path); ++w) {
        const QString text = ShortenPath(path, w, font);
        EXPECT_TRUE(forms.contains(text)) << w << " " << text.toStdString();
        seen.insert(text);
    }
    EXPECT_TRUE(seen.count(".../LONGNAME"));
    EXPECT_TRUE(seen.count("LONGNAME"));
}

TEST_F(ShortenPathTest, AlwaysEndsWithTheLastNameAndFitsWhenAnyFormCan) {
    const QString path = "/usr/share/doc/some-package-with-a-long-name/examples/configuration";
    for (int w = 0; w <= width(path); w += 7) {
        const QString text = ShortenPath(path, w, font);
        EXPECT_TRUE(text.endsWith("configuration")) << text.toStdString();
        if (text != "configuration") {
            EXPECT_LE(width(text), w) << text.toStdString();
        }
    }
}

}  // namespace
}  // namespace navtest
