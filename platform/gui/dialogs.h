// Every message box, notice, error box and file dialog of the program goes through Dialogs,
// so that tests can script the answers instead of facing a modal box.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace pelmora::platform {

enum class MsgDlgType { Warning, Error, Information, Confirmation };

// Buttons of the message dialog; they always stand in this order.
enum MsgDlgButton : unsigned {
    mbYes = 0x001,
    mbNo = 0x002,
    mbOK = 0x004,
    mbCancel = 0x008,
    mbAbort = 0x010,
    mbRetry = 0x020,
    mbIgnore = 0x040,
    mbAll = 0x080,
    mbHelp = 0x100,
};

// Answers of the message dialog.
enum ModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
};

struct FileDialogOptions {
    std::string title;
    std::string defaultExt;  // "PML": added when the typed name has none
    std::string filter;      // "Pelmora Files (*.PML)|*.PML|All Files (*.*)|*.*"
    int filterIndex = 1;     // 1-based
    std::string initialDir;  // bytes
    std::string fileName;    // preset name (bytes)
    bool overwritePrompt = false;
    bool hideReadOnly = true;
};

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // The message dialog: caption and icon by `type`; `buttons` a set of MsgDlgButton; Enter
    // presses OK if shown, else Yes, else Retry; Escape presses Cancel if shown, else No, else
    // OK; the close box answers mrCancel. Returns the ModalResult.
    virtual int messageDlg(std::string_view text, MsgDlgType type, unsigned buttons,
                           int helpContext = 0) = 0;
    // A variant with explicit default and cancel buttons (0 = none); the close box answers
    // mrCancel.
    virtual int messageDlgEx(std::string_view text, MsgDlgType type, unsigned buttons,
                             unsigned defaultButton, unsigned cancelButton) = 0;
    // The plain notice: caption "Pelmora", no icon, one "OK".
    virtual void notice(std::string_view text) = 0;
    // The application's error box: `message` followed by ".", caption "Pelmora", stop icon.
    virtual void errorBox(std::string_view message) = 0;
    // File dialogs; nullopt when the user cancels. Paths are bytes.
    virtual std::optional<std::string> openFileName(const FileDialogOptions& options) = 0;
    virtual std::optional<std::string> saveFileName(const FileDialogOptions& options) = 0;
};

// The Qt implementation of Dialogs (real boxes); defined in platform/gui/qtdialogs.cpp.
Dialogs& qtDialogs();

}  // namespace pelmora::platform
