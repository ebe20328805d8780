#include "tests/support/ModalAnswer.h"

#include <QDialog>
#include <QTimerEvent>
#include <gtest/gtest.h>

namespace pelmora::test {

namespace {
// Every pass of the event loop: the window is answered in the first pass that shows it, before
// anything else (its activation included) has happened to it.
constexpr int kPollMilliseconds = 0;
}  // namespace

ModalAnswer::ModalAnswer(std::function<bool(QWidget*)> accepts, std::function<void(QWidget*)> act,
                         std::chrono::milliseconds limit)
    : m_accepts(std::move(accepts)),
      m_act(std::move(act)),
      m_deadline(std::chrono::steady_clock::now() + limit),
      m_timer(startTimer(kPollMilliseconds)) {}

ModalAnswer::~ModalAnswer() {
    if (m_timer != 0) killTimer(m_timer);
}

void ModalAnswer::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !m_accepts(modal)) {
        if (!m_late && std::chrono::steady_clock::now() > m_deadline) {
            m_late = true;
            ADD_FAILURE() << "no modal window to answer came in time";
        }
        return;
    }
    killTimer(m_timer);
    m_timer = 0;
    if (m_late) {
        // Too late to be answered: closed, so that the call that opened it returns.
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        return;
    }
    m_done = true;
    m_act(modal);
}

}  // namespace pelmora::test
