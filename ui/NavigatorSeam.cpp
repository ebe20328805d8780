// TEMPORARY SEAM: minimal navigator widgets so that the main window links and runs until the
// real navigator is merged (this file is then deleted). Only what the window relies on:
// setDirectory changes the process's current directory, fills the label and emits changed().
#include <QFile>
#include <QLabel>
#include <unistd.h>

#include "platform/ioerror.h"
#include "platform/paths.h"
#include "ui/Navigator.h"

namespace pelmora::ui {

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {}

void TDirectoryListBox::setDirectory(const std::string& dir) {
    if (dir.empty() || dir == m_directory) return;
    if (::chdir(dir.c_str()) != 0) throw platform::InOutError(platform::ioCodeFromErrno(errno));
    m_directory = platform::currentDirectory();
    clear();
    addItem(QFile::decodeName(QByteArray::fromStdString(m_directory)));
    if (m_label != nullptr)
        m_label->setText(ShortenPath(QFile::decodeName(QByteArray::fromStdString(m_directory)),
                                     m_label->width(), m_label->font()));
    emit changed();
}

void TDirectoryListBox::setDirLabel(QLabel* label) {
    m_label = label;
}

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {}

void TDriveComboBox::setDirList(TDirectoryListBox* list) {
    m_dirList = list;
    emit changed();
}

QString ShortenPath(const QString& path, int, const QFont&) {
    return path;
}

}  // namespace pelmora::ui
