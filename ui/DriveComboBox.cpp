#include "ui/DriveComboBox.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QStylePainter>

#include <algorithm>
#include <vector>

#include "platform/qt/displayname.h"
#include "platform/gui/dialogs.h"
#include "platform/volumes.h"
#include "ui/NavigatorPictures.h"
#include "ui/ErrorPolicy.h"

namespace pelmora::ui {

namespace {

constexpr int kLeftMargin = 2;
constexpr int kPictureWidth = 16;
constexpr int kTextGap = 6;
constexpr int kMinRowHeight = 11;

NavPicture pictureOf(platform::DriveKind kind) {
    switch (kind) {
        case platform::DriveKind::Removable:
            return NavPicture::Floppy;
        case platform::DriveKind::Fixed:
            return NavPicture::Hard;
        case platform::DriveKind::Remote:
            return NavPicture::Network;
        case platform::DriveKind::CdRom:
            return NavPicture::CdRom;
        case platform::DriveKind::Ram:
            return NavPicture::Ram;
    }
    return NavPicture::Hard;
}

// The mount point, then: nothing for a removable volume, the mount source for a remote one
// (its label in brackets when it has no source), the label in brackets for the others.
std::string volumeText(const platform::MountedVolume& v) {
    switch (v.kind) {
        case platform::DriveKind::Removable:
            return v.mountPoint;
        case platform::DriveKind::Remote:
            if (!v.source.empty()) return v.mountPoint + " " + v.source;
            break;
        default:
            break;
    }
    return v.mountPoint + " [" + v.label + "]";
}

bool holds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") return !path.empty() && path.front() == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// Picture 2 pixels from the left, centred vertically, the text 6 pixels right of it on one
// line, centred vertically; '&' is an ordinary character here.
void drawDriveItem(QPainter* painter, const QRect& rect, const QModelIndex& index,
                   const QColor& textColour) {
    const QPixmap& picture =
        navigatorPicture(static_cast<NavPicture>(index.data(TDriveComboBox::PictureRole).toInt()));
    const int x = rect.left() + kLeftMargin;
    painter->drawPixmap(x, rect.top() + (rect.height() - picture.height()) / 2, picture);
    painter->setPen(textColour);
    const QRect textRect(x + kPictureWidth + kTextGap, rect.top(),
                         std::max(0, rect.right() - (x + kPictureWidth + kTextGap) + 1),
                         rect.height());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
}

class DriveItemDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        painter->fillRect(option.rect,
                          selected ? option.palette.highlight() : option.palette.base());
        painter->setFont(option.font);
        drawDriveItem(painter, option.rect, index,
                      option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics metrics(option.font);
        return {kLeftMargin + kPictureWidth + kTextGap +
                    metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()),
                std::max(metrics.height(), kMinRowHeight)};
    }
};

// What a screen reader learns of the box. Qt's own combo box on Linux gives its current text as
// its name ("/ []"), so the box would be read as its value with nothing saying what it is for;
// here the name is the box's accessible name ("Drive") and the current text its value. The list
// that drops down is its child, and showing that list its action.
class DriveBoxAccessible final : public QAccessibleWidget {
  public:
    explicit DriveBoxAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return box()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == box()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction())
            box()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

  private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* driveBoxAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(TDriveComboBox::staticMetaObject.className()))
        if (auto* box = qobject_cast<TDriveComboBox*>(object)) return new DriveBoxAccessible(box);
    return nullptr;
}

}  // namespace

TDriveComboBox::TDriveComboBox(const Services& services, QWidget* parent)
    : QComboBox(parent), m_services(services) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&driveBoxAccessible);
        return true;
    }();
    static_cast<void>(factoryInstalled);
    setItemDelegate(new DriveItemDelegate(this));
    connect(this, &QComboBox::activated, this,
            [this](int index) { runGuarded(*m_services.dialogs, [&] { selectVolume(index); }); });
}

void TDriveComboBox::buildItems() {
    clear();
    const std::vector<platform::MountedVolume> all = m_services.volumes->mountedVolumes();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const platform::MountedVolume& v = all[i];
        // Of several mounts on one point only the last is visible there.
        const bool covered = std::any_of(
            all.begin() + static_cast<std::ptrdiff_t>(i) + 1, all.end(),
            [&](const platform::MountedVolume& later) { return later.mountPoint == v.mountPoint; });
        if (covered) continue;
        addItem(platform::displayName(volumeText(v)));
        const int row = count() - 1;
        setItemData(row, QByteArray::fromStdString(v.mountPoint), MountPointRole);
        setItemData(row, static_cast<int>(pictureOf(v.kind)), PictureRole);
    }
}

int TDriveComboBox::indexOfVolumeHolding(const std::string& path) const {
    int best = -1;
    std::size_t bestLength = 0;
    for (int i = 0; i < count(); ++i) {
        const std::string mountPoint = itemData(i, MountPointRole).toByteArray().toStdString();
        // A later mount at the same point covers the earlier one, hence >=.
        if (holds(mountPoint, path) && (best < 0 || mountPoint.size() >= bestLength)) {
            best = i;
            bestLength = mountPoint.size();
        }
    }
    return best;
}

void TDriveComboBox::setDirList(TDirectoryListBox* list) {
    if (m_dirList != nullptr) disconnect(m_dirList, nullptr, this, nullptr);
    m_dirList = list;
    m_drive.clear();
    buildItems();
    if (m_dirList != nullptr) {
        connect(m_dirList, &TDirectoryListBox::changeCompleted, this, &TDriveComboBox::followList);
        const int index = indexOfVolumeHolding(m_dirList->directory());
        setCurrentIndex(index);
        if (index >= 0) m_drive = itemData(index, MountPointRole).toByteArray().toStdString();
    } else {
        setCurrentIndex(-1);
    }
    emit changed();
}

void TDriveComboBox::selectVolume(int index) {
    if (index < 0 || index >= count()) return;
    const std::string mountPoint = itemData(index, MountPointRole).toByteArray().toStdString();
    if (!m_drive.empty() && mountPoint == m_drive) {
        setCurrentIndex(index);
        return;
    }
    const std::string previous = m_drive;
    const int previousIndex =
        previous.empty() ? -1 : findData(QByteArray::fromStdString(previous), MountPointRole);
    m_drive = mountPoint;
    setCurrentIndex(index);
    if (m_dirList != nullptr && indexOfVolumeHolding(m_dirList->directory()) != index) {
        const QScopedValueRollback<bool> selecting(m_selecting, true);
        try {
            m_dirList->setDirectory(mountPoint);
        } catch (...) {
            // The box goes back to the volume that is still current.
            m_drive = previous;
            setCurrentIndex(previousIndex);
            throw;
        }
    }
    emit changed();
}

void TDriveComboBox::followList() {
    // Opening a directory in the list may cross onto another volume: the box follows it.
    if (m_selecting || m_dirList == nullptr) return;
    const int index = indexOfVolumeHolding(m_dirList->directory());
    if (index < 0) return;
    const std::string mountPoint = itemData(index, MountPointRole).toByteArray().toStdString();
    if (mountPoint == m_drive) return;
    m_drive = mountPoint;
    setCurrentIndex(index);
    emit changed();
}

void TDriveComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const int index = currentIndex();
    if (index < 0) return;
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    painter.setClipRect(field);
    drawDriveItem(&painter, field, model()->index(index, modelColumn(), rootModelIndex()),
                  palette().color(QPalette::ButtonText));
}

}  // namespace pelmora::ui
