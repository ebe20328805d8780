// The frame a box asks the window system for: a title bar with its caption and a close box, and
// no minimise or maximise buttons. A modal box that could be minimised would vanish while the
// window it blocks stays blocked; a box of fixed size has nothing to maximise.
#pragma once

class QWidget;

namespace pelmora::platform {

// Who draws a box's title bar.
enum class TitleBar {
    // The window manager or compositor, told by the window's flags (on X11 through the Motif
    // functions) which buttons the box has.
    WindowSystem,
    // The box itself. Qt's own title bar under Wayland draws minimise, maximise and close on
    // every window whatever its flags say; there the box draws its caption and close box.
    Drawn,
};

// Drawn under Wayland, the window system's elsewhere.
TitleBar platformTitleBar();

// Gives `window`, a top-level box not shown yet, the flags of a dialog whose title bar holds
// its caption and a close box only (no minimise, maximise, context help or window menu). With
// TitleBar::Drawn the window asks for no frame at all and gets a title bar of its own as a child
// ("TitleBar": its caption, kept up to date, and a close box "CloseBox" that closes the window as
// the window system's would; dragging the bar moves the window) and a raised edge, and its
// contents margins leave room for both. A window manager that minimises the window anyway (some
// keep their minimise button whatever the window asks) sees it come back at once.
void useDialogFrame(QWidget* window, TitleBar titleBar = platformTitleBar());

// The least width at which the title bar of `window` shows its whole caption beside the buttons
// and icon a title bar may hold. Window managers draw their title bars in fonts of their own,
// and some keep an icon and minimise and maximise buttons whatever a window asks for, so the
// width for their title bars leaves room for four buttons.
int captionMinimumWidth(const QWidget* window, TitleBar titleBar = platformTitleBar());

}  // namespace pelmora::platform
