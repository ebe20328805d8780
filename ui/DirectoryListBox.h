// DirectoryListBox1: the navigator's directory tree list.
#pragma once

#include <QListWidget>
#include <QPointer>
#include <string>

#include "ui/Services.h"

class QLabel;

namespace pelmora::ui {

// The path items from the volume's root down to the current directory, then the current
// directory's visible subdirectories. Its current directory is also the process's. A right
// click opens the popup menu only; the Menu key and Shift+F10 open it at the current item, which
// shows a focus rectangle while the list has the focus.
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
    void paintEvent(QPaintEvent* event) override;
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

}  // namespace pelmora::ui
