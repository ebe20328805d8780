#include "ui/DirectoryListBox.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/dir.h"
#include "platform/qt/displayname.h"
#include "platform/gui/dialogs.h"
#include "platform/ioerror.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/volumes.h"
#include "ui/NavigatorPictures.h"
#include "ui/ShortenPath.h"
#include "ui/ListFocus.h"
#include "ui/RightClick.h"
#include "ui/ErrorPolicy.h"

namespace pelmora::ui {

namespace {

constexpr int kPictureWidth = 16;
constexpr int kTextGap = 4;
constexpr int kMinRowHeight = 16;

// Names of the visible subdirectories of `dir`, sorted as the list shows them. Empty when the
// directory cannot be read.
std::vector<std::string> visibleSubdirectories(const std::string& dir) {
    std::vector<std::string> names;
    platform::listSubdirectories(dir, names);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = platform::compareTextIgnoreCase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

// Draws a row: background of its highlight state, the picture at the item's indent, centred
// vertically, and the text beside it at the row's top.
class DirectoryItemDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        painter->fillRect(option.rect,
                          selected ? option.palette.highlight() : option.palette.base());
        const int x = option.rect.left() + index.data(TDirectoryListBox::IndentRole).toInt();
        const QPixmap& picture = navigatorPicture(
            static_cast<NavPicture>(index.data(TDirectoryListBox::PictureRole).toInt()));
        painter->drawPixmap(x, option.rect.top() + (option.rect.height() - picture.height()) / 2,
                            picture);
        painter->setFont(option.font);
        painter->setPen(
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QRect textRect(x + kPictureWidth + kTextGap, option.rect.top(),
                             option.rect.right() - x, option.rect.height());
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics metrics(option.font);
        const int width = index.data(TDirectoryListBox::IndentRole).toInt() + kPictureWidth +
                          kTextGap +
                          metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
        return {width, std::max(metrics.height(), kMinRowHeight)};
    }
};

}  // namespace

TDirectoryListBox::TDirectoryListBox(const Services& services, QWidget* parent)
    : QListWidget(parent), m_services(services) {
    setItemDelegate(new DirectoryItemDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    keepSelectionOnRightClick(this);  // a right click opens the popup menu only
    openPopupFromKeyboard(this);
    m_directory = platform::currentDirectory();
    buildList();
}

bool TDirectoryListBox::sameDirectory(const std::string& a, const std::string& b) const {
    if (m_caseSensitive) return a == b;
    return platform::compareTextIgnoreCase(a, b) == 0;
}

void TDirectoryListBox::setDirectory(const std::string& dir) {
    if (dir.empty() || sameDirectory(dir, m_directory)) return;
    if (const int err = platform::changeDirectory(dir); err != 0)
        throw platform::InOutError(platform::ioCodeFromErrno(err));
    std::string now = platform::currentDirectory();
    if (now.empty()) {
        // Entered but unreadable (removed meanwhile): go back to where we were.
        const int err = errno;
        // Should that fail too there is nothing better to do; the error below is what the user
        // sees.
        platform::changeDirectory(m_directory);
        throw platform::InOutError(platform::ioCodeFromErrno(err != 0 ? err : ENOENT));
    }
    m_directory = std::move(now);
    buildList();
    updateLabel();
    emit changed();
    emit changeCompleted();
}

void TDirectoryListBox::setDirLabel(QLabel* label) {
    if (m_label != nullptr) m_label->removeEventFilter(this);
    m_label = label;
    if (m_label == nullptr) return;
    m_label->setTextFormat(Qt::PlainText);
    m_label->installEventFilter(this);
    updateLabel();
}

void TDirectoryListBox::updateLabel() {
    if (m_label == nullptr) return;
    m_label->setText(
        ShortenPath(platform::displayName(m_directory), m_label->width(), m_label->font()));
}

bool TDirectoryListBox::eventFilter(QObject* watched, QEvent* event) {
    // Type first: a label being destroyed still passes events through here.
    if ((event->type() == QEvent::Resize || event->type() == QEvent::FontChange) &&
        watched == m_label)
        updateLabel();
    return QListWidget::eventFilter(watched, event);
}

void TDirectoryListBox::buildList() {
    const std::uint32_t flags =
        m_services.volumes->fileSystemFlags(m_directory)
            .value_or(platform::kFsCaseSensitive | platform::kFsCasePreserving);
    m_caseSensitive = (flags & platform::kFsCaseSensitive) != 0;
    m_lowerCase = (flags & (platform::kFsCaseSensitive | platform::kFsCasePreserving)) == 0;

    clear();
    auto add = [this](const std::string& text, const std::string& target, int indent,
                      NavPicture picture) {
        auto* item = new QListWidgetItem(m_lowerCase ? platform::displayName(text).toLower()
                                                     : platform::displayName(text));
        item->setData(TargetRole, QByteArray::fromStdString(target));
        item->setData(IndentRole, indent);
        item->setData(PictureRole, static_cast<int>(picture));
        addItem(item);
    };

    // Path items: the root, then each name down to the current directory.
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < m_directory.size()) {
        std::size_t end = m_directory.find('/', start);
        if (end == std::string::npos) end = m_directory.size();
        if (end > start) names.push_back(m_directory.substr(start, end - start));
        start = end + 1;
    }
    add("/", "/", 2, names.empty() ? NavPicture::CurrentFolder : NavPicture::OpenFolder);
    std::string target;
    for (std::size_t i = 0; i < names.size(); ++i) {
        target += '/';
        target += names[i];
        const bool current = i + 1 == names.size();
        add(names[i], current ? m_directory : target, 4 * static_cast<int>(i + 1) + 2,
            current ? NavPicture::CurrentFolder : NavPicture::OpenFolder);
    }
    const int currentRow = count() - 1;

    // Subdirectories, one step right of the current directory.
    const int slashes = static_cast<int>(std::count(m_directory.begin(), m_directory.end(), '/'));
    for (const std::string& name : visibleSubdirectories(m_directory))
        add(name, platform::joinPattern(m_directory, name), 4 * slashes + 6,
            NavPicture::ClosedFolder);

    setCurrentRow(currentRow);
}

void TDirectoryListBox::openItem(int row) {
    const QListWidgetItem* it = item(row);
    if (it == nullptr) return;
    const std::string target = it->data(TargetRole).toByteArray().toStdString();
    runGuarded(*m_services.dialogs, [&] { setDirectory(target); });
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QListWidget::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    event->accept();
    if (index.isValid()) openItem(index.row());
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        if (currentRow() >= 0) openItem(currentRow());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    drawFocusRectangle(this);
}

}  // namespace pelmora::ui
