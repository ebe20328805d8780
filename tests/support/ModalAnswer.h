// Answers a modal window that a test's call opens, in the manner of Qt's own dialog tests: it
// looks for the window in every pass of the event loop until it is there, then acts on it once. A
// window that has not come within the limit fails the running test; one that comes after that is
// closed, so that no test waits forever for a window nobody answers. Watches only while it
// lives: keep it until the call that opens the window has returned.
#pragma once

#include <QApplication>
#include <QObject>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>

namespace pelmora::test {

class ModalAnswer : public QObject {
  public:
    // `accepts` tells the window to answer from other modal windows; `act` answers it.
    ModalAnswer(std::function<bool(QWidget*)> accepts, std::function<void(QWidget*)> act,
                std::chrono::milliseconds limit = std::chrono::seconds(5));
    ~ModalAnswer() override;
    ModalAnswer(const ModalAnswer&) = delete;
    ModalAnswer& operator=(const ModalAnswer&) = delete;

    // True once the window has been answered.
    bool done() const { return m_done; }

  protected:
    void timerEvent(QTimerEvent* event) override;

  private:
    std::function<bool(QWidget*)> m_accepts;
    std::function<void(QWidget*)> m_act;
    std::chrono::steady_clock::time_point m_deadline;
    int m_timer = 0;
    bool m_done = false;
    bool m_late = false;
};

// Calls `act` with the first active modal window that is a W.
template <class W = QWidget>
[[nodiscard]] std::unique_ptr<ModalAnswer> whenModalShown(
    std::function<void(W*)> act, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return std::make_unique<ModalAnswer>(
        [](QWidget* w) { return qobject_cast<W*>(w) != nullptr; },
        [act = std::move(act)](QWidget* w) { act(qobject_cast<W*>(w)); }, limit);
}

}  // namespace pelmora::test
