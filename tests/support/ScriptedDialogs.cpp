#include "tests/support/ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace pelmora::test {

std::vector<DialogCall> ScriptedDialogs::callsOf(DialogCall::Kind kind) const {
    std::vector<DialogCall> out;
    for (const DialogCall& c : m_calls)
        if (c.kind == kind) out.push_back(c);
    return out;
}

std::vector<std::string> ScriptedDialogs::errors() const {
    std::vector<std::string> out;
    for (const DialogCall& c : m_calls)
        if (c.kind == DialogCall::Kind::Error) out.push_back(c.text);
    return out;
}

int ScriptedDialogs::nextAnswer(const DialogCall& call) {
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected message box: " << call.text;
        return platform::mrCancel;
    }
    const int a = m_answers.front();
    m_answers.pop_front();
    return a;
}

std::optional<std::string> ScriptedDialogs::nextFile(const DialogCall& call) {
    if (m_files.empty()) {
        ADD_FAILURE() << "unexpected file dialog: " << call.fileOptions.title;
        return std::nullopt;
    }
    std::optional<std::string> f = std::move(m_files.front());
    m_files.pop_front();
    return f;
}

int ScriptedDialogs::messageDlg(std::string_view text, platform::MsgDlgType type, unsigned buttons,
                                int helpContext) {
    DialogCall c;
    c.kind = DialogCall::Kind::Message;
    c.text = std::string(text);
    c.type = type;
    c.buttons = buttons;
    c.helpContext = helpContext;
    m_calls.push_back(c);
    return nextAnswer(c);
}

int ScriptedDialogs::messageDlgEx(std::string_view text, platform::MsgDlgType type,
                                  unsigned buttons, unsigned defaultButton, unsigned cancelButton) {
    DialogCall c;
    c.kind = DialogCall::Kind::Message;
    c.text = std::string(text);
    c.type = type;
    c.buttons = buttons;
    c.defaultButton = defaultButton;
    c.cancelButton = cancelButton;
    c.explicitButtons = true;
    m_calls.push_back(c);
    return nextAnswer(c);
}

void ScriptedDialogs::notice(std::string_view text) {
    DialogCall c;
    c.kind = DialogCall::Kind::Notice;
    c.text = std::string(text);
    c.buttons = platform::mbOK;
    m_calls.push_back(c);
}

void ScriptedDialogs::errorBox(std::string_view message) {
    DialogCall c;
    c.kind = DialogCall::Kind::Error;
    c.text = std::string(message);
    c.type = platform::MsgDlgType::Error;
    c.buttons = platform::mbOK;
    m_calls.push_back(c);
}

std::optional<std::string> ScriptedDialogs::openFileName(
    const platform::FileDialogOptions& options) {
    DialogCall c;
    c.kind = DialogCall::Kind::OpenFile;
    c.text = options.title;
    c.fileOptions = options;
    m_calls.push_back(c);
    return nextFile(c);
}

std::optional<std::string> ScriptedDialogs::saveFileName(
    const platform::FileDialogOptions& options) {
    DialogCall c;
    c.kind = DialogCall::Kind::SaveFile;
    c.text = options.title;
    c.fileOptions = options;
    m_calls.push_back(c);
    return nextFile(c);
}

}  // namespace pelmora::test
