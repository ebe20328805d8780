// The help viewer: topics of the program's help file by context number, its contents and its
// keyword search. Commands keep the classic help-engine numbers.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

class QWidget;

namespace pelmora::platform {

enum HelpCommand : unsigned {
    HELP_CONTEXT = 1,       // show the topic of the context number in `data`
    HELP_QUIT = 2,          // close the viewer
    HELP_FINDER = 11,       // show the contents
    HELP_PARTIALKEY = 261,  // keyword search (data 0: no key given)
};

class HelpViewer {
  public:
    virtual ~HelpViewer() = default;
    // Carries out one help command for `helpFile`, with `owner` as the viewer's owner window.
    // Returns false when the command is unknown; a missing file is the viewer's to show.
    virtual bool winHelp(QWidget* owner, const std::string& helpFile, unsigned command,
                         unsigned long data) = 0;
};

// The Qt help window.
HelpViewer& qtHelpViewer();

// The application's help file: the bare "Pelmora.hlp" at first, the full path beside the
// program once the main window exists.
const std::string& applicationHelpFile();
void setApplicationHelpFile(std::string path);

// One topic of a help file.
struct HelpTopic {
    int context = 0;  // 0: reachable through the contents and keywords only
    QString id;
    QString title;
    QStringList keywords;
    QString html;
};

// Help file format: UTF-8 text holding topics, each
//   <topic id="name" context="N" title="Title" keywords="one;two">...HTML...</topic>
// Text outside topics and comments (<!-- ... -->, also a topic written inside one) are ignored;
// attributes may come in any order; context and keywords are optional. The topic with id
// "contents" is the contents page.
std::vector<HelpTopic> parseHelpText(const QString& text);

}  // namespace pelmora::platform
