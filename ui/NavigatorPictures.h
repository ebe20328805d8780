// The navigator's pictures, shared by the drive box and the directory list.
#pragma once

#include <QPixmap>

namespace pelmora::ui {

// Folders 16 x 15, drives 16 x 11, 16 colours, transparent where they have the colour of their
// bottom-left pixel.
enum class NavPicture {
    OpenFolder,
    CurrentFolder,
    ClosedFolder,
    Floppy,
    Hard,
    Network,
    CdRom,
    Ram,
};
const QPixmap& navigatorPicture(NavPicture picture);

}  // namespace pelmora::ui
