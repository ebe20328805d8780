// The directory navigator: the drive box DriveComboBox1 (TDriveComboBox), the directory tree
// list DirectoryListBox1 (TDirectoryListBox) and the label it keeps, DirectoryLabel.
#pragma once

#include <QComboBox>
#include <QFont>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <string>

#include "ui/Services.h"

class QLabel;

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

// The path items from the volume's root down to the current directory, then the current
// directory's visible subdirectories. Its current directory is also the process's.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT
  public:
    // Per-item data besides the shown text.
    enum ItemRole {
        TargetRole = Qt::UserRole,  // QByteArray: the directory the item opens
        IndentRole,                 // int: pixels from the row's left edge to the picture
        PictureRole,                // int: a NavPicture
    };

    // `services` give the error box and the volumes.
    explicit TDirectoryListBox(const Services& services, QWidget* parent = nullptr);

    // The current directory, as the kernel reports it (bytes).
    const std::string& directory() const { return m_directory; }

    // Makes `dir` the current directory: chdir, read it back, rebuild the items, update the
    // label, then emit changed(). Does nothing when `dir` is empty or already current. Raises
    // platform::InOutError (state unchanged, no signal) when the directory cannot be entered.
    void setDirectory(const std::string& dir);

    // The label that shows the current directory, shortened to its width (ShortenPath).
    void setDirLabel(QLabel* label);

    // Opens the directory of item `row` as a double-click does; a failure is shown in the
    // error box.
    void openItem(int row);

    // True when names are shown in lower case (a volume neither case-sensitive nor
    // case-preserving).
    bool showsLowerCase() const { return m_lowerCase; }

  signals:
    // DirectoryListBox1Change: after every change, once the list and the label show it.
    void changed();
    // Right after changed() has reached all its receivers; the drive box follows the list from
    // here, so that its own changed() comes after the list's.
    void changeCompleted();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::string m_directory;
    QPointer<QLabel> m_label;

  private:
    void buildList();
    void updateLabel();
    bool sameDirectory(const std::string& a, const std::string& b) const;

    Services m_services;

    bool m_caseSensitive = true;
    bool m_lowerCase = false;
};

// One item per mounted volume, with its picture; selecting one makes its root current in the
// directory list it is tied to.
class TDriveComboBox : public QComboBox {
    Q_OBJECT
  public:
    enum ItemRole {
        MountPointRole = Qt::UserRole,  // QByteArray: the volume's mount point
        PictureRole,                    // int: a NavPicture
    };

    // `services` give the error box and the volumes.
    explicit TDriveComboBox(const Services& services, QWidget* parent = nullptr);

    // Ties the box to the list; the box then lists the volumes and selects the one holding the
    // list's current directory, emitting changed() once.
    void setDirList(TDirectoryListBox* list);

    // The mount point of the selected volume; empty when none is selected.
    const std::string& drive() const { return m_drive; }

    // Makes the volume of item `index` current, as picking it in the box does. Nothing happens
    // when it already is. Raises platform::InOutError when its root cannot be entered; the box
    // then goes back to the volume it showed before.
    void selectVolume(int index);

  signals:
    // DriveComboBox1Change: after every change of drive (after the list's changed()), and once
    // when the drive list is first built.
    void changed();

  protected:
    void paintEvent(QPaintEvent* event) override;

    QPointer<TDirectoryListBox> m_dirList;

  private:
    void buildItems();
    int indexOfVolumeHolding(const std::string& path) const;
    void followList();

    Services m_services;

    std::string m_drive;
    bool m_selecting = false;
};

// The label text for `path`: drops leading directories, replacing them by ".../", until the
// text measured in `font` fits `width` pixels or only the bare name is left.
QString ShortenPath(const QString& path, int width, const QFont& font);

}  // namespace pelmora::ui
