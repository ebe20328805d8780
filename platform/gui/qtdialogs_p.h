// The message box behind the Qt dialogs; exposed for the tests that press its keys.
#pragma once

#include <QDialog>
#include <QStyle>
#include <string_view>
#include <vector>

class QPushButton;

namespace pelmora::platform {

// Buttons in the fixed order Yes, No, OK, Cancel, Abort, Retry, Ignore, All, Help; Enter
// presses the default button (or the focused one), Escape the cancel button (nothing when there
// is none), a button's "&" letter (alone or with Alt) that button; the close box answers
// mrCancel. The box has a fixed size. exec() returns the ModalResult.
class MessageBox : public QDialog {
    Q_OBJECT
  public:
    MessageBox(const QString& caption, QStyle::StandardPixmap icon, bool hasIcon,
               const QString& text, unsigned buttons, unsigned defaultButton,
               unsigned cancelButton);
    const std::vector<QPushButton*>& buttons() const { return m_buttons; }

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::vector<QPushButton*> m_buttons;
    QPushButton* m_default = nullptr;
    QPushButton* m_cancel = nullptr;
};

// "Desc|*.A|All Files (*.*)|*.*" as Qt name filters "Desc (*.A);;All Files (*.*) (*)": each
// description with its patterns in parentheses, "*.*" read as "*" (every name, also one without a
// full stop). The dialog hides the appended patterns, so the descriptions show as given.
QString qtNameFilters(std::string_view filter);

}  // namespace pelmora::platform
