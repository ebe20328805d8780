// pelmora-report holds the report engine without its windows: it paints with Qt's GUI library
// but loads neither Qt Widgets nor Qt's printer support (which loads the widgets), so that it
// starts where no desktop is installed.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

TEST(ReportProgram, LoadsNoWidgetsAndNoPrinterSupport) {
    const QString program = QCoreApplication::applicationDirPath() + "/../bin/pelmora-report";
    ASSERT_TRUE(QFile::exists(program)) << "build pelmora-report first";
    const QString ldd = QStandardPaths::findExecutable("ldd");
    ASSERT_FALSE(ldd.isEmpty()) << "ldd is not installed";
    QProcess p;
    p.start(ldd, {program});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString libraries = QString::fromLocal8Bit(p.readAllStandardOutput());
    // The listing is the program's: it needs Qt's GUI library to paint the pages.
    ASSERT_TRUE(libraries.contains("libQt6Gui.so")) << libraries.toStdString();
    for (const char* library : {"libQt6Widgets.so", "libQt6PrintSupport.so"})
        EXPECT_FALSE(libraries.contains(QLatin1String(library)))
            << "pelmora-report loads " << library << ":\n"
            << libraries.toStdString();
}

}  // namespace
