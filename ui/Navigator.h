// The directory navigator: the drive box DriveComboBox1 (TDriveComboBox), the directory tree
// list DirectoryListBox1 (TDirectoryListBox) and the label it keeps, DirectoryLabel.
#pragma once

#include <QComboBox>
#include <QFont>
#include <QListWidget>
#include <QString>
#include <string>

class QLabel;

namespace pelmora::ui {

// The path items from the volume's root down to the current directory, then the current
// directory's visible subdirectories. Its current directory is also the process's.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    // The current directory, as the kernel reports it (bytes).
    const std::string& directory() const { return m_directory; }

    // Makes `dir` the current directory: chdir, read it back, rebuild the items, update the
    // label, then emit changed(). Does nothing when `dir` is empty or already current. Raises
    // platform::InOutError (state unchanged, no signal) when the directory cannot be entered.
    void setDirectory(const std::string& dir);

    // The label that shows the current directory, shortened to its width (ShortenPath).
    void setDirLabel(QLabel* label);

signals:
    // DirectoryListBox1Change: after every change, once the list and the label show it.
    void changed();

protected:
    std::string m_directory;
    QLabel* m_label = nullptr;
};

// One item per mounted volume, with its picture; selecting one makes its root current in the
// directory list it is tied to.
class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);

    // Ties the box to the list; the box then lists the volumes and selects the one holding the
    // list's current directory, emitting changed() once.
    void setDirList(TDirectoryListBox* list);

signals:
    // DriveComboBox1Change: after every change of drive (after the list's changed()), and once
    // when the drive list is first built.
    void changed();

protected:
    TDirectoryListBox* m_dirList = nullptr;
};

// The label text for `path`: drops leading directories, replacing them by ".../", until the
// text measured in `font` fits `width` pixels or only the bare name is left.
QString ShortenPath(const QString& path, int width, const QFont& font);

}  // namespace pelmora::ui
