// The controls of the main window: sizes, positions, alignment, fonts, colours, hints, help
// contexts and the focus order.
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "platform/qt/fonts.h"
#include "ui/AutoSize.h"
#include "ui/ListBox.h"
#include "ui/Colours.h"
#include "ui/Navigator.h"
#include "ui/Unit1.h"
#include "ui/Artwork.h"

namespace pelmora::ui {

namespace {

void setTextColour(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::ButtonText, c);
    p.setColor(QPalette::Text, c);
    w->setPalette(p);
}

QLabel* makeLabel(QWidget* parent, const char* name, int left, int top, const QString& text,
                  const QColor& colour) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->setAutoFillBackground(false);
    l->setTextFormat(Qt::PlainText);
    l->setMargin(0);
    l->setIndent(0);
    setTextColour(l, colour);
    l->move(left, top);
    setAutoSizeText(l, text);
    return l;
}

}  // namespace

void TForm1::buildLayout() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Pelmora"));
    setWindowIcon(programIcon());
    setFont(platform::arialFont(13));
    // Black, navy and maroon text on the backgrounds they were designed for, whatever the theme.
    setPalette(classicPalette());

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(client);

    // SpeedPanel: the top strip, stretched in width.
    SpeedPanel = new QFrame(client);
    SpeedPanel->setObjectName(QStringLiteral("SpeedPanel"));
    SpeedPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SpeedPanel->setLineWidth(1);
    SpeedPanel->setFixedHeight(33);
    column->addWidget(SpeedPanel);

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    column->addLayout(middle, 1);

    // LeftPanel: keeps its width, stretches in height.
    LeftPanel = new QFrame(client);
    LeftPanel->setObjectName(QStringLiteral("LeftPanel"));
    LeftPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LeftPanel->setLineWidth(1);
    LeftPanel->setFixedWidth(270);
    middle->addWidget(LeftPanel);

    // ListBox1: all the remaining space.
    ListBox1 = new ListBox(m_watchedList, client);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setStatusTip(QStringLiteral("Right click for menu"));
    ListBox1->setProperty("helpContext", 1);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListBox1->setAccessibleName(QStringLiteral("Watched directories"));
    middle->addWidget(ListBox1, 1);

    auto* left = new QVBoxLayout(LeftPanel);
    left->setContentsMargins(0, 0, 0, 0);  // the 1-pixel edge is the frame itself
    left->setSpacing(0);

    DirectoryListBox1 = new TDirectoryListBox(m_services, LeftPanel);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setStatusTip(
        QStringLiteral("Double click to change directories.  Right click for menu"));
    DirectoryListBox1->setProperty("helpContext", 11);
    DirectoryListBox1->setAccessibleName(QStringLiteral("Directories"));
    DirectoryListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    left->addWidget(DirectoryListBox1, 1);

    // StatsPanel: keeps its height at the bottom of LeftPanel.
    StatsPanel = new QFrame(LeftPanel);
    StatsPanel->setObjectName(QStringLiteral("StatsPanel"));
    StatsPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatsPanel->setLineWidth(2);
    StatsPanel->setFixedHeight(121);
    StatsPanel->setStatusTip(QStringLiteral("Click button for current directory stats"));
    left->addWidget(StatsPanel);

    // StatusLine: one simple text over the whole width.
    StatusLine = new QStatusBar(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setFixedHeight(22);
    StatusLine->setSizeGripEnabled(true);
    StatusLine->setStatusTip(QStringLiteral("Hints appear here"));
    setStatusBar(StatusLine);

    // The top strip's controls.
    DriveComboBox1 = new TDriveComboBox(m_services, SpeedPanel);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(8, 6, 257, 22);
    DriveComboBox1->setStatusTip(QStringLiteral("Change to another drive"));
    DriveComboBox1->setAccessibleName(QStringLiteral("Drive"));

    FNLabel = makeLabel(SpeedPanel, "FNLabel", 280, 8, QStringLiteral("List Filename:"), Qt::black);
    FileNameLabel = makeLabel(SpeedPanel, "FileNameLabel", 368, 8, QString(), kNavy);

    ProgressBar1 = new QProgressBar(SpeedPanel);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(272, 8, 257, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setVisible(false);
    ProgressBar1->raise();

    // The statistics panel's labels and button.
    CurrentDirectory =
        makeLabel(StatsPanel, "CurrentDirectory", 8, 8, QStringLiteral("Current Directory"), kNavy);
    CompressedLabel = makeLabel(StatsPanel, "CompressedLabel", 120, 8, QString(), kNavy);
    DirectoryLabel = makeLabel(StatsPanel, "DirectoryLabel", 8, 24, QString(), kNavy);
    DirectoryLabel->setFixedSize(249, 17);
    TotDirsLabel = makeLabel(StatsPanel, "TotDirsLabel", 8, 40, QString(), kNavy);
    TotFilesLabel = makeLabel(StatsPanel, "TotFilesLabel", 8, 56, QString(), kNavy);
    TotSizeLabel = makeLabel(StatsPanel, "TotSizeLabel", 8, 72, QString(), kNavy);
    OverheadLabel = makeLabel(StatsPanel, "OverheadLabel", 8, 88, QString(), kNavy);
    // Read with their captions even before a count, when they show nothing.
    for (auto [label, caption] :
         {std::pair{TotDirsLabel, "Total Directories"}, std::pair{TotFilesLabel, "Total Files"},
          std::pair{TotSizeLabel, "Total Bytes"}, std::pair{OverheadLabel, "Cluster Overhead"}}) {
        label->setProperty("caption", QString::fromLatin1(caption));
        label->setAccessibleName(QString::fromLatin1(caption));
    }

    StatsButton = new QPushButton(QStringLiteral("Stats"), StatsPanel);
    StatsButton->setObjectName(QStringLiteral("StatsButton"));
    StatsButton->setGeometry(200, 48, 49, 25);
    StatsButton->setAutoDefault(true);  // Enter presses the focused button
    setTextColour(StatsButton, Qt::black);

    // Focus: the four controls that take it, in this order; the rest never do.
    for (QWidget* w : std::initializer_list<QWidget*>{SpeedPanel, LeftPanel, StatsPanel, StatusLine,
                                                      ProgressBar1, client})
        w->setFocusPolicy(Qt::NoFocus);
    StatsButton->setFocusPolicy(Qt::StrongFocus);
    DirectoryListBox1->setFocusPolicy(Qt::StrongFocus);
    ListBox1->setFocusPolicy(Qt::StrongFocus);
    DriveComboBox1->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(StatsButton, DirectoryListBox1);
    setTabOrder(DirectoryListBox1, ListBox1);
    setTabOrder(ListBox1, DriveComboBox1);
    StatsButton->setFocus(Qt::OtherFocusReason);

    DirectoryListBox1->setDirLabel(DirectoryLabel);
}

}  // namespace pelmora::ui
