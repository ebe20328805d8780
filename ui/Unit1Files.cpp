// Form1's list commands: New, Open, Save, Save As, the close question, and the commands that
// add directories to the watched list and delete entries from it.
#include <QLabel>
#include <QObject>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "list/listfile.h"
#include "list/watchedlist.h"
#include "platform/qt/displayname.h"
#include "platform/gui/dialogs.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/walker.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"
#include "ui/Unit1.h"
#include "ui/AutoSize.h"

namespace pelmora::ui {

namespace {

using platform::FileDialogOptions;

constexpr std::string_view kClearQuestion = "Modified list not saved.  Clear list without saving?";
constexpr std::string_view kSaveQuestion = "Modified list not saved.  Save changes?";
constexpr const char* kListFilter = "Pelmora Files (*.PML)|*.PML|All Files (*.*)|*.*";

// SaveDialog1 and OpenDialog1: the window's two file dialogs, kept as children of the window
// so that their settings (the open dialog's last path) live as long as the window.
class FileDialogComponent : public QObject {
  public:
    FileDialogComponent(QObject* parent, const char* name, FileDialogOptions options)
        : QObject(parent), options(std::move(options)) {
        setObjectName(QString::fromLatin1(name));
    }
    FileDialogOptions options;
};

FileDialogOptions listDialogOptions(const char* title, bool save) {
    FileDialogOptions o;
    o.title = title;
    o.defaultExt = "PML";
    o.filter = kListFilter;
    o.filterIndex = 1;
    o.overwritePrompt = save;
    o.hideReadOnly = true;
    return o;
}

FileDialogOptions& fileDialog(TForm1* form, const char* name, const char* title, bool save) {
    auto* existing = dynamic_cast<FileDialogComponent*>(
        form->findChild<QObject*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly));
    if (existing != nullptr) return existing->options;
    return (new FileDialogComponent(form, name, listDialogOptions(title, save)))->options;
}

FileDialogOptions& SaveDialog1(TForm1* form) {
    return fileDialog(form, "SaveDialog1", "Save Directory List", true);
}
FileDialogOptions& OpenDialog1(TForm1* form) {
    return fileDialog(form, "OpenDialog1", "Open Directory List", false);
}

int ask(platform::Dialogs& dialogs, std::string_view question, unsigned buttons) {
    return dialogs.messageDlg(question, platform::MsgDlgType::Information, buttons);
}

void showListFileName(QLabel* label) {
    setAutoSizeText(label, platform::displayName(platform::bareName(list::ListFileName)));
}

bool holdsLineBreak(std::string_view path) {
    return path.find_first_of("\r\n") != std::string_view::npos;
}

// A list file keeps one entry per line, so a name with a line break cannot be stored.
[[noreturn]] void refuseLineBreak(std::string_view path) {
    std::string shown(path);
    for (char& c : shown)
        if (c == '\r' || c == '\n') c = '?';
    throw platform::PelmoraError("Cannot add " + shown +
                                 " to the list: its name holds a line break, which a list file "
                                 "cannot store");
}

// Creates `folder` and the folders above it that are missing, private to the user as the XDG
// base directories ask; false when it cannot be done.
bool makeFolders(const std::string& folder) {
    for (std::size_t end = folder.find('/', 1); end != std::string::npos;
         end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return folder.back() == '/' || ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

void TForm1::prepareListFolder() const {
    const std::string folder = listDirectory();
    if (folder == programDirectory() || platform::directoryPart(list::ListFileName) != folder)
        return;
    struct stat st {};
    // Should it fail, the dialog starts elsewhere and a save names the file it cannot create.
    if (::stat(folder.c_str(), &st) != 0) static_cast<void>(makeFolders(folder));
}

void TForm1::Button5Click() {
    if (list::ListModified && ask(*m_services.dialogs, kClearQuestion,
                                  platform::mbYes | platform::mbNo) == platform::mrNo)
        return;
    m_watchedList.clear();
    list::ListFileName = listDirectory() + std::string(list::kDefaultListName);
    setAutoSizeText(FileNameLabel, QString::fromLatin1(list::kDefaultListName.data(),
                                                       list::kDefaultListName.size()));
    list::ListModified = false;
}

void TForm1::Button7Click() {
    if (list::ListModified) {
        const int answer = ask(*m_services.dialogs, kSaveQuestion,
                               platform::mbYes | platform::mbNo | platform::mbCancel);
        if (answer != platform::mrYes && answer != platform::mrNo) return;
        if (answer == platform::mrYes) Button6Click();
    }
    FileDialogOptions& dialog = OpenDialog1(this);
    prepareListFolder();
    dialog.initialDir = std::string(platform::directoryPart(list::ListFileName));
    const std::optional<std::string> chosen = m_services.dialogs->openFileName(dialog);
    if (!chosen) return;
    dialog.fileName = *chosen;
    list::ListFileName = *chosen;
    m_watchedList.clear();
    list::loadList(m_watchedList, list::ListFileName);
    list::ListModified = false;
    showListFileName(FileNameLabel);
}

void TForm1::Save1Click() {
    if (list::isDefaultListName(list::ListFileName)) {
        Button6Click();
        return;
    }
    list::saveList(m_watchedList, list::ListFileName);
    list::ListModified = false;
}

void TForm1::Button6Click() {
    if (m_watchedList.count() == 0) return;
    FileDialogOptions& dialog = SaveDialog1(this);
    prepareListFolder();
    dialog.fileName = std::string(platform::bareName(list::ListFileName));
    dialog.initialDir = std::string(platform::directoryPart(list::ListFileName));
    const std::optional<std::string> chosen = m_services.dialogs->saveFileName(dialog);
    if (!chosen) return;
    list::saveList(m_watchedList, *chosen);
    list::ListFileName = *chosen;
    list::ListModified = false;
    showListFileName(FileNameLabel);
}

bool TForm1::FormCloseQuery() {
    if (!list::ListModified) return true;
    const int answer = ask(*m_services.dialogs, kSaveQuestion,
                           platform::mbYes | platform::mbNo | platform::mbCancel);
    if (answer == platform::mrNo) return true;
    if (answer != platform::mrYes) return false;
    Button6Click();  // an error here keeps the window open too
    return !list::ListModified;
}

void TForm1::AddThisDirectory1Click() {
    const std::string& dir = DirectoryListBox1->directory();
    if (m_watchedList.indexOf(dir) != -1) return;
    const std::string full = platform::expandFileName(dir);
    if (holdsLineBreak(full)) refuseLineBreak(full);
    m_watchedList.add(full);
    list::ListModified = true;
}

void TForm1::AddSubdirectories1Click() {
    const std::string pattern =
        platform::joinPattern(platform::expandFileName(DirectoryListBox1->directory()), "*.*");
    std::string refused;
    // AddSubdirEntry: one immediate subdirectory, not yet listed, is added at its place.
    auto AddSubdirEntry = [&](const stats::TSearchRec& entry, std::string_view prefix) {
        if (platform::isHiddenName(entry.Name) || (entry.Attr & stats::faDirectory) == 0) return;
        std::string path(prefix);
        path += entry.Name;
        if (holdsLineBreak(path)) {
            if (refused.empty()) refused = path;
            return;
        }
        if (m_watchedList.indexOf(path) == -1) {
            m_watchedList.add(std::move(path));
            list::ListModified = true;
        }
    };
    // Only the immediate subdirectories; a directory that cannot be read adds nothing.
    stats::ScanDirectory(pattern, stats::AttrDescend, AddSubdirEntry);
    if (!refused.empty()) refuseLineBreak(refused);
}

void TForm1::DeleteHighlighted1Click() {
    const int current = ListBox1->currentIndex();
    if (current == -1) return;
    if (ListBox1->selectionCount() < 2) {
        m_watchedList.remove(current);
        list::ListModified = true;
        return;
    }
    for (int i = m_watchedList.count() - 1; i >= 0; --i) {
        if (ListBox1->isSelected(i)) {
            m_watchedList.remove(i);
            list::ListModified = true;
        }
    }
}

}  // namespace pelmora::ui
