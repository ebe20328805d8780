// Dialogs for tests: every box and file dialog is recorded, and the answers come from queues
// instead of a user. A test hands it to the windows through their Services.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui/dialogs.h"

namespace pelmora::test {

struct DialogCall {
    enum class Kind { Message, Notice, Error, OpenFile, SaveFile };
    Kind kind = Kind::Message;
    std::string text;  // message text (error boxes: the message before the ".")
    platform::MsgDlgType type = platform::MsgDlgType::Information;
    unsigned buttons = 0;
    // The default and cancel buttons as asked (messageDlgEx), or 0 for plain messageDlg.
    unsigned defaultButton = 0;
    unsigned cancelButton = 0;
    bool explicitButtons = false;  // true for messageDlgEx
    int helpContext = 0;
    platform::FileDialogOptions fileOptions;  // file dialogs only
};

class ScriptedDialogs final : public platform::Dialogs {
  public:
    ScriptedDialogs() = default;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    // Queues the answer (a ModalResult) of the next message dialog. A message dialog with no
    // queued answer fails the running test and answers mrCancel, as the close box would.
    void answer(int modalResult) { m_answers.push_back(modalResult); }
    // Queues the result of the next file dialog (nullopt: cancelled). None queued: the test
    // fails and the dialog counts as cancelled.
    void answerFile(std::optional<std::string> path) { m_files.push_back(std::move(path)); }

    const std::vector<DialogCall>& calls() const { return m_calls; }
    std::vector<DialogCall> callsOf(DialogCall::Kind kind) const;
    // Texts of the error boxes shown, in order.
    std::vector<std::string> errors() const;
    bool answersLeft() const { return !m_answers.empty() || !m_files.empty(); }
    void clear() { m_calls.clear(); }

    int messageDlg(std::string_view text, platform::MsgDlgType type, unsigned buttons,
                   int helpContext) override;
    int messageDlgEx(std::string_view text, platform::MsgDlgType type, unsigned buttons,
                     unsigned defaultButton, unsigned cancelButton) override;
    void notice(std::string_view text) override;
    void errorBox(std::string_view message) override;
    std::optional<std::string> openFileName(const platform::FileDialogOptions& options) override;
    std::optional<std::string> saveFileName(const platform::FileDialogOptions& options) override;

  private:
    int nextAnswer(const DialogCall& call);
    std::optional<std::string> nextFile(const DialogCall& call);

    std::vector<DialogCall> m_calls;
    std::deque<int> m_answers;
    std::deque<std::optional<std::string>> m_files;
};

}  // namespace pelmora::test
