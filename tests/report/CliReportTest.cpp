// pelmora-cli report, run as its own process on a real list file; the PDF is read back
// with pdftotext.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include "tests/report/ReportTestSupport.h"
#include "tests/support/TempTree.h"

using pelmora::test::TempTree;

namespace {

struct ProcessRun {
    int status = -1;
    QString out;
    QString err;
};

ProcessRun run(const QString& program, const QStringList& args, const QString& workDir) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workDir);
    p.start(program, args);
    ProcessRun r;
    if (!p.waitForFinished(120000)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString cli() {
    return QCoreApplication::applicationDirPath() + "/../bin/pelmora-cli";
}

class ReportCli : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(cli())) << "build pelmora-cli first";
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    }
    QString path(const std::string& relative) {
        return QString::fromStdString(tree.path(relative));
    }
    std::string put(const std::string& relative, long long size) {
        tree.dir(relative.substr(0, relative.rfind('/')));
        return tree.file(relative, size);
    }
    TempTree tree;
};

}  // namespace

TEST_F(ReportCli, WritesTheReportOfAListAsPdf) {
    put("data/Alpha/one", 1000);
    put("data/Alpha/two", 2000);
    put("data/Alpha/three", 2500);
    put("data/Beta/big", 1234567);
    tree.write("LIST.PML", tree.path("data/Alpha") + "\r\n" + tree.path("data/Beta") + "\r\n");
    const ProcessRun r = run(cli(), {"report", path("LIST.PML"), "-o", path("out.pdf")}, path(""));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const ProcessRun text = run("pdftotext", {"-layout", path("out.pdf"), "-"}, path(""));
    ASSERT_EQ(text.status, 0);
    const QString& pdf = text.out;
    EXPECT_TRUE(pdf.contains("File LIST.PML"));
    EXPECT_TRUE(pdf.contains("Printed "));
    EXPECT_TRUE(pdf.contains("Pelmora Report"));
    EXPECT_TRUE(pdf.contains(
        QRegularExpression("Directory\\s+Directories\\s+Files\\s+Total Size\\s+Total Overhead")));
    EXPECT_TRUE(pdf.contains(QRegularExpression(QRegularExpression::escape(path("data/Alpha")) +
                                                "\\s+0\\s+3\\s+5,500\\s+[\\d,]+\\n")))
        << pdf.toStdString();
    EXPECT_TRUE(pdf.contains(QRegularExpression(QRegularExpression::escape(path("data/Beta")) +
                                                "\\s+0\\s+1\\s+1,234,567\\s+[\\d,]+\\n")));
    EXPECT_TRUE(pdf.contains(
        QRegularExpression("Totals for 2 Directories\\s+0\\s+4\\s+1,240,067\\s+[\\d,]+\\n")));
    EXPECT_TRUE(pdf.contains("Page 1"));
    EXPECT_FALSE(pdf.contains("Page 2"));
}

TEST_F(ReportCli, FailuresExitWithStatusOneAndAMessage) {
    tree.write("LIST.PML", tree.path("x") + "\r\n");
    ProcessRun r =
        run(cli(), {"report", path("LIST.PML"), "-o", path("no/such/dir/out.pdf")}, path(""));
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.err.contains("Cannot create file")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("no/such/dir/out.pdf")));

    r = run(cli(), {"report", path("MISSING.PML"), "-o", path("out.pdf")}, path(""));
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(r.err.isEmpty());

    r = run(cli(), {"report", path("LIST.PML")}, path(""));
    EXPECT_EQ(r.status, 2);
}

TEST_F(ReportCli, ATemporaryFolderThatIsMissingDoesNotStopTheReport) {
    put("data/A/f", 100);
    tree.write("LIST.PML", tree.path("data/A") + "\r\n");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", path("missing"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(cli(), {"report", path("LIST.PML"), "-o", path("r.pdf")});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(QFile::exists(path("r.pdf")));
}

TEST_F(ReportCli, EmptyListStdoutFullDiskAndMargins) {
    // An empty list: the message, no PDF, and nothing on stderr.
    tree.write("EMPTY.PML", "");
    ProcessRun r = run(cli(), {"report", path("EMPTY.PML"), "-o", path("e.pdf")}, path(""));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "The list is empty.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(QFile::exists(path("e.pdf")));

    put("data/A/f", 100);
    tree.write("LIST.PML", tree.path("data/A") + "\r\n");
    // A report that cannot be written in full fails.
    r = run(cli(), {"report", path("LIST.PML"), "-o", "/dev/full"}, path(""));
    EXPECT_EQ(r.status, 3);

    // "-o -": the PDF on stdout; a successful report is silent, even without XDG_RUNTIME_DIR.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("LC_ALL", "C.UTF-8");
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(path("stdout.pdf"));
    p.start(cli(), {"report", path("LIST.PML"), "-o", "-"});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardError()), "");

    // No word lies within 6.35 mm (18 points) of the paper's edge.
    const ProcessRun box = run("pdftotext", {"-bbox", path("stdout.pdf"), "-"}, path(""));
    ASSERT_EQ(box.status, 0);
    const QRegularExpression page(R"re(<page width="([\d.]+)" height="([\d.]+)")re");
    const QRegularExpressionMatch size = page.match(box.out);
    ASSERT_TRUE(size.hasMatch());
    const double width = size.captured(1).toDouble(), height = size.captured(2).toDouble();
    const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)")re");
    int words = 0;
    for (auto it = word.globalMatch(box.out); it.hasNext(); ++words) {
        const QRegularExpressionMatch m = it.next();
        EXPECT_GE(m.captured(1).toDouble(), 18.0 - 0.5);
        EXPECT_GE(m.captured(2).toDouble(), 18.0 - 0.5);
        EXPECT_LE(m.captured(3).toDouble(), width - 18.0 + 0.5);
        EXPECT_LE(m.captured(4).toDouble(), height - 18.0 + 0.5);
    }
    EXPECT_GT(words, 5);
}
