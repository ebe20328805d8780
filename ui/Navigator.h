// The directory navigator: the drive box DriveComboBox1 (TDriveComboBox, ui/DriveComboBox.h),
// the directory tree list DirectoryListBox1 (TDirectoryListBox, ui/DirectoryListBox.h) and the
// label it keeps, DirectoryLabel, shortened by ShortenPath (ui/ShortenPath.h); the pictures they
// share are in ui/NavigatorPictures.h. The main window and the tests include this header; the
// parts include only one another's headers, never this one.
#pragma once

#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/NavigatorPictures.h"
#include "ui/ShortenPath.h"
