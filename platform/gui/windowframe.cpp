#include "platform/gui/windowframe.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <qdrawutil.h>

namespace pelmora::platform {

namespace {

constexpr int kEdge = 2;        // the raised edge around a box that draws its own title bar
constexpr int kBarHeight = 20;  // its title bar
constexpr int kIndent = 4;      // the caption's distance from the bar's left end
constexpr QSize kCloseBox(16, 14);

QFont captionFont() {
    QFont f = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    f.setBold(true);
    return f;
}

// The close box: a small raised button with a cross.
class CloseBox final : public QAbstractButton {
  public:
    explicit CloseBox(QWidget* parent) : QAbstractButton(parent) {
        setObjectName(QStringLiteral("CloseBox"));
        setAccessibleName(QStringLiteral("Close"));
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(kCloseBox);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        qDrawWinButton(&p, rect(), palette(), isDown(), &palette().brush(QPalette::Button));
        const QRect cross = rect().adjusted(4, 3, -5, -4).translated(isDown() ? 1 : 0, 0);
        p.setPen(QPen(palette().color(QPalette::ButtonText), 1.6));
        p.setRenderHint(QPainter::Antialiasing);
        p.drawLine(cross.topLeft(), cross.bottomRight());
        p.drawLine(cross.bottomLeft(), cross.topRight());
    }
};

// The title bar of a box without a window-system frame: the caption on the active-caption
// colours and the close box at the right end. It follows the window's size and caption.
class DrawnTitleBar final : public QWidget {
  public:
    explicit DrawnTitleBar(QWidget* window) : QWidget(window) {
        setObjectName(QStringLiteral("TitleBar"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        m_close = new CloseBox(this);
        connect(m_close, &QAbstractButton::clicked, window, &QWidget::close);
        window->installEventFilter(this);
        place();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().brush(QPalette::Highlight));
        p.setPen(palette().color(QPalette::HighlightedText));
        p.setFont(captionFont());
        const QRect text = rect().adjusted(kIndent, 0, -(kCloseBox.width() + 2 * kIndent), 0);
        p.drawText(
            text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            p.fontMetrics().elidedText(window()->windowTitle(), Qt::ElideRight, text.width()));
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        // The window system moves the window where it can; else it follows the pointer here.
        QWindow* handle = window()->windowHandle();
        m_dragging = handle == nullptr || !handle->startSystemMove();
        m_dragOffset = event->globalPosition().toPoint() - window()->pos();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (m_dragging && (event->buttons() & Qt::LeftButton))
            window()->move(event->globalPosition().toPoint() - m_dragOffset);
    }
    void mouseReleaseEvent(QMouseEvent*) override { m_dragging = false; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window()) {
            if (event->type() == QEvent::Resize) place();
            if (event->type() == QEvent::WindowTitleChange) update();
        }
        return false;
    }

  private:
    void place() {
        setGeometry(kEdge, kEdge, window()->width() - 2 * kEdge, kBarHeight);
        m_close->move(width() - kCloseBox.width() - 2, (kBarHeight - kCloseBox.height()) / 2);
    }

    CloseBox* m_close;
    QPoint m_dragOffset;
    bool m_dragging = false;
};

// The raised edge around such a box; it lies beneath every other child and takes no input.
class FrameEdge final : public QWidget {
  public:
    explicit FrameEdge(QWidget* window) : QWidget(window) {
        setObjectName(QStringLiteral("FrameEdge"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        window->installEventFilter(this);
        setGeometry(window->rect());
        lower();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        qDrawWinPanel(&p, rect(), palette(), false, nullptr);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        return false;
    }
};

// Brings a box back as soon as something minimises it: openbox, for one, keeps its iconify button
// on every window whatever the window asks for, and a modal box out of sight leaves the window
// it blocks blocked.
class StayRestored final : public QObject {
  public:
    explicit StayRestored(QWidget* window) : QObject(window) { window->installEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = static_cast<QWidget*>(parent());
        if (watched == window && event->type() == QEvent::WindowStateChange &&
            window->isMinimized())
            QTimer::singleShot(0, window, [window] {
                window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
                window->activateWindow();
            });
        return false;
    }
};

}  // namespace

TitleBar platformTitleBar() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
               ? TitleBar::Drawn
               : TitleBar::WindowSystem;
}

void useDialogFrame(QWidget* window, TitleBar titleBar) {
    new StayRestored(window);
    if (titleBar == TitleBar::WindowSystem) {
        window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint);
        return;
    }
    window->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    new FrameEdge(window);
    new DrawnTitleBar(window);
    window->setContentsMargins(kEdge, kEdge + kBarHeight, kEdge, kEdge);
}

int captionMinimumWidth(const QWidget* window, TitleBar titleBar) {
    const QFontMetrics metrics(captionFont());
    const int text = metrics.horizontalAdvance(window->windowTitle());
    if (titleBar == TitleBar::Drawn)
        return 2 * kEdge + kIndent + text + 2 * kIndent + kCloseBox.width() + 2;
    // An icon and three buttons, each about as wide as the bar is high, and a margin at each end.
    const int button = metrics.height() + 8;
    return text + 4 * button + 2 * 8;
}

}  // namespace pelmora::platform
