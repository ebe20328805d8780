// How the desktop knows the program.
#pragma once

namespace pelmora::app {

// Names the application "Pelmora" (the window class WM_CLASS "pelmora", "Pelmora") and ties its
// windows to the desktop entry pelmora.desktop. No application display name is set: Qt would
// append it to the caption of every other window ("Information — Pelmora"), and every caption
// must read exactly as the program gives it.
void setApplicationIdentity();

}  // namespace pelmora::app
