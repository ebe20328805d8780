// Hints in the status line and help on F1.
//
// The hint display runs whenever the event loop is about to wait: the hint of the control under
// the pointer (its own or its nearest ancestor's), or of the highlighted menu item while a menu
// is open; the status line changes only when the text does. Qt's own status tips and tool tips
// are swallowed so that nothing else writes the status line or pops up a tip.
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "platform/gui/helpviewer.h"
#include "ui/Unit1.h"

namespace pelmora::ui {

namespace {

QString longHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

int contextOf(const QObject* o) {
    return o == nullptr ? 0 : o->property("helpContext").toInt();
}

}  // namespace

QString TForm1::hintOf(const QWidget* w) {
    for (; w != nullptr; w = w->parentWidget()) {
        if (!w->statusTip().isEmpty()) return longHint(w->statusTip());
        if (w->isWindow()) break;
    }
    return {};
}

int TForm1::helpContextOf(const QWidget* w) {
    for (; w != nullptr; w = w->parentWidget())
        if (const int c = contextOf(w); c != 0) return c;
    return 0;
}

void TForm1::installHintDisplay() {
    if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) {
        connect(d, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { hintIdleStep(QApplication::widgetAt(QCursor::pos())); });
    }
    for (QMenu* m : {File1, Report1, Help1, DirectoryPopup, ListPopup}) {
        connect(m, &QMenu::aboutToHide, this, [this] { setHint(QString()); });
        m->installEventFilter(this);
    }
    menuBar()->installEventFilter(this);
    qApp->installEventFilter(this);
}

void TForm1::hintIdleStep(QWidget* underPointer) {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        const QAction* item = menu->activeAction();
        setHint(item == nullptr ? QString() : longHint(item->statusTip()));
        return;
    }
    // The hint belongs to this window's controls only.
    if (underPointer != nullptr && underPointer->window() != this) underPointer = nullptr;
    setHint(hintOf(underPointer));
}

void TForm1::setHint(const QString& hint) {
    if (hint == m_hint) return;
    m_hint = hint;
    if (m_hintInstalled) ShowHint();
}

void TForm1::ShowHint() {
    StatusLine->showMessage(m_hint);
}

bool TForm1::event(QEvent* event) {
    // Qt's status tips would write the status line on their own; the hint display does that.
    if (event->type() == QEvent::StatusTip) return true;
    return QMainWindow::event(event);
}

void TForm1::helpForWidget(QWidget* w) {
    if (const int context = helpContextOf(w); context != 0)
        m_services.help->winHelp(this, platform::applicationHelpFile(), platform::HELP_CONTEXT,
                                 static_cast<unsigned long>(context));
}

bool TForm1::helpForMenu(QWidget* menuWidget) {
    int context = 0;
    if (auto* bar = qobject_cast<QMenuBar*>(menuWidget)) {
        const QAction* a = bar->activeAction();
        if (a == nullptr) return false;
        context = contextOf(a);
    } else if (auto* menu = qobject_cast<QMenu*>(menuWidget)) {
        const QAction* a = menu->activeAction();
        context = contextOf(a);
        // An item without a context of its own takes its menu's; popup menus carry none.
        if (context == 0) context = contextOf(menu);
    } else {
        return false;
    }
    m_services.help->winHelp(this, platform::applicationHelpFile(), platform::HELP_CONTEXT,
                             static_cast<unsigned long>(context));
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::ToolTip) {
        // No pop-up tips anywhere in this window.
        auto* w = qobject_cast<QWidget*>(watched);
        if (w != nullptr && (w->window() == this || qobject_cast<QMenu*>(w) != nullptr))
            return true;
    } else if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        if (qobject_cast<QMenu*>(watched) != nullptr ||
            qobject_cast<QMenuBar*>(watched) != nullptr) {
            if (watched == menuBar() || watched == File1 || watched == Report1 ||
                watched == Help1 || watched == DirectoryPopup || watched == ListPopup)
                return helpForMenu(static_cast<QWidget*>(watched));
        }
        auto* w = qobject_cast<QWidget*>(watched);
        if (w != nullptr && w->window() == this && w == QApplication::focusWidget()) {
            helpForWidget(w);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace pelmora::ui
