// DriveComboBox1: the navigator's drive box.
#pragma once

#include <QComboBox>
#include <QPointer>
#include <string>

#include "ui/DirectoryListBox.h"
#include "ui/Services.h"

namespace pelmora::ui {

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

}  // namespace pelmora::ui
