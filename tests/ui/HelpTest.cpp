// The help file beside the program and the help window's commands.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include "platform/gui/helpviewer.h"

namespace pelmora::test {
namespace {

// The help file as shipped, from the source tree.
const std::string kHelpFile = std::string(PELMORA_SOURCE_DIR) + "/resources/Pelmora.hlp";

std::vector<platform::HelpTopic> shippedTopics() {
    QFile f(QString::fromStdString(kHelpFile));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return platform::parseHelpText(QString::fromUtf8(f.readAll()));
}

QWidget* helpWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "HelpWindow" && w->isVisible()) return w;
    return nullptr;
}

TEST(HelpFile, EveryHelpContextOfTheWindowLeadsToATopic) {
    const std::vector<platform::HelpTopic> topics = shippedTopics();
    ASSERT_FALSE(topics.empty());
    for (int context : {1, 3, 10, 11, 15}) {
        int found = 0;
        for (const platform::HelpTopic& t : topics)
            if (t.context == context) {
                ++found;
                EXPECT_FALSE(t.title.isEmpty());
                EXPECT_FALSE(t.keywords.isEmpty());
                EXPECT_GT(t.html.size(), 200) << context;
            }
        EXPECT_EQ(found, 1) << context;
    }
}

TEST(HelpFile, ATopicWrittenInsideACommentIsNotATopic) {
    const auto topics = platform::parseHelpText(
        "<!-- e.g. <topic id=\"..\" keywords=\"a;b\">HTML</topic> -->\n"
        "<topic id=\"x\"><p>body<!-- <topic id=\"y\">y</topic> --></p></topic>\n"
        "<!-- unterminated <topic id=\"z\">z</topic>");
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0].id, "x");
    EXPECT_EQ(topics[0].html, "<p>body</p>");
}

TEST(HelpFile, TheContentsLinkOnlyToExistingTopics) {
    const std::vector<platform::HelpTopic> topics = shippedTopics();
    QStringList ids;
    const platform::HelpTopic* contents = nullptr;
    for (const platform::HelpTopic& t : topics) {
        ids << t.id;
        if (t.id == "contents") contents = &t;
    }
    ASSERT_NE(contents, nullptr);
    const QRegularExpression link(QStringLiteral("href=\"([^\"]+)\""));
    int links = 0;
    for (auto it = link.globalMatch(contents->html); it.hasNext(); ++links)
        EXPECT_TRUE(ids.contains(it.next().captured(1)));
    EXPECT_GE(links, 5);
}

TEST(HelpFile, TopicsAreReadWithTheirAttributesInAnyOrder) {
    const auto topics = platform::parseHelpText(
        "junk <topic title=\"T\" context=\"7\" id=\"x\" keywords=\"a; b ;\">\n<p>body</p>\n"
        "</topic> more junk <topic id=\"y\">second</topic>");
    ASSERT_EQ(topics.size(), 2u);
    EXPECT_EQ(topics[0].id, "x");
    EXPECT_EQ(topics[0].context, 7);
    EXPECT_EQ(topics[0].title, "T");
    EXPECT_EQ(topics[0].keywords, QStringList({"a", "b"}));
    EXPECT_EQ(topics[0].html, "<p>body</p>");
    EXPECT_EQ(topics[1].context, 0);
    EXPECT_EQ(topics[1].html, "second");
}

TEST(HelpWindow, ShowsTopicsContentsAndSearchAndClosesOnQuit) {
    platform::HelpViewer& v = platform::qtHelpViewer();
    ASSERT_TRUE(v.winHelp(nullptr, kHelpFile, platform::HELP_CONTEXT, 11));
    QWidget* w = helpWindow();
    ASSERT_NE(w, nullptr);
    auto* topic = w->findChild<QTextBrowser*>("Topic");
    ASSERT_NE(topic, nullptr);
    EXPECT_TRUE(topic->toPlainText().contains("Cluster Overhead"));

    ASSERT_TRUE(v.winHelp(nullptr, kHelpFile, platform::HELP_FINDER, 0));
    EXPECT_TRUE(topic->toPlainText().contains("The watched list"));

    ASSERT_TRUE(v.winHelp(nullptr, kHelpFile, platform::HELP_PARTIALKEY, 0));
    auto* search = w->findChild<QLineEdit*>("KeywordSearch");
    ASSERT_NE(search, nullptr);
    EXPECT_TRUE(search->text().isEmpty());

    EXPECT_FALSE(v.winHelp(nullptr, kHelpFile, 99, 0));
    ASSERT_TRUE(v.winHelp(nullptr, kHelpFile, platform::HELP_QUIT, 0));
    QApplication::processEvents();
    EXPECT_EQ(helpWindow(), nullptr);
}

void pressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

TEST(HelpWindow, EnterInTheSearchFieldOpensTheHighlightedKeywordsTopic) {
    platform::HelpViewer& v = platform::qtHelpViewer();
    ASSERT_TRUE(v.winHelp(nullptr, kHelpFile, platform::HELP_PARTIALKEY, 0));
    QWidget* w = helpWindow();
    ASSERT_NE(w, nullptr);
    auto* search = w->findChild<QLineEdit*>("KeywordSearch");
    auto* index = w->findChild<QListWidget*>("KeywordIndex");
    auto* topic = w->findChild<QTextBrowser*>("Topic");
    ASSERT_TRUE(search && index && topic);

    // Every keyword of the shipped file's index opens a topic with text.
    ASSERT_GE(index->count(), 30);
    for (int row = 0; row < index->count(); ++row) {
        index->setCurrentRow(row);
        topic->clear();
        pressKey(search, Qt::Key_Return);
        EXPECT_GT(topic->toPlainText().size(), 150) << index->item(row)->text().toStdString();
    }

    // Typing narrows the index, the arrow keys move the highlight from the field.
    search->setText("d");
    ASSERT_GE(index->count(), 2);
    EXPECT_EQ(index->currentRow(), 0);
    pressKey(search, Qt::Key_Down);
    ASSERT_EQ(index->currentRow(), 1);
    pressKey(search, Qt::Key_Return);
    EXPECT_EQ(index->currentItem()->text(), "delete");
    EXPECT_EQ(w->windowTitle(), "Pelmora Help - The watched list");
    v.winHelp(nullptr, kHelpFile, platform::HELP_QUIT, 0);
    QApplication::processEvents();
}

TEST(HelpWindow, AContextWithoutTopicSaysSo) {
    platform::HelpViewer& v = platform::qtHelpViewer();
    ASSERT_TRUE(v.winHelp(nullptr, kHelpFile, platform::HELP_CONTEXT, 0));
    QWidget* w = helpWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->findChild<QTextBrowser*>("Topic")->toPlainText().contains("No help topic"));
    v.winHelp(nullptr, kHelpFile, platform::HELP_QUIT, 0);
}

}  // namespace
}  // namespace pelmora::test
