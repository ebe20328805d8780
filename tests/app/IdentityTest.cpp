// The program's name as the desktop sees it, and captions without a suffix.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include "app/Identity.h"

namespace pelmora::test {
namespace {

TEST(Identity, TheDesktopKnowsPelmoraAndNoDisplayNameIsPinned) {
    app::setApplicationIdentity();
    EXPECT_EQ(QGuiApplication::applicationName(), "Pelmora");
    EXPECT_EQ(QGuiApplication::desktopFileName(), "pelmora");
    // Qt appends a display name that was set to every other window's caption; one that only
    // follows the application name was never set.
    QGuiApplication::setApplicationName(QStringLiteral("Probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Probe");
    QGuiApplication::setApplicationName(QStringLiteral("Pelmora"));
}

}  // namespace
}  // namespace pelmora::test
