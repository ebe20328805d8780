// The directory navigator: the drive box DriveComboBox1 (TDriveComboBox, ui/DriveComboBox.h),
// the directory tree list DirectoryListBox1 (TDirectoryListBox, ui/DirectoryListBox.h) and the
// label it keeps, DirectoryLabel; here the pictures they share and the label's shortening.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>

#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"

namespace pelmora::ui {

// The navigator's pictures: folders 16 x 15, drives 16 x 11, 16 colours, transparent where
// they have the colour of their bottom-left pixel.
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

// The label text for `path`: drops leading directories, replacing them by ".../", until the
// text measured in `font` fits `width` pixels or only the bare name is left.
QString ShortenPath(const QString& path, int width, const QFont& font);

}  // namespace pelmora::ui
