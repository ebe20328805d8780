// The real boxes: the message dialog with its fixed button order, the plain notice, the error
// box and Qt's own (non-native) file dialogs.
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QScrollBar>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/qt/displayname.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/qtdialogs_p.h"
#include "platform/gui/windowframe.h"

namespace pelmora::platform {

namespace {

struct ButtonInfo {
    MsgDlgButton button;
    const char* caption;
    int result;
};

// The fixed order of the message dialog's buttons.
constexpr ButtonInfo kButtons[] = {
    {mbYes, "&Yes", mrYes},          {mbNo, "&No", mrNo},          {mbOK, "OK", mrOk},
    {mbCancel, "Cancel", mrCancel},  {mbAbort, "&Abort", mrAbort}, {mbRetry, "&Retry", mrRetry},
    {mbIgnore, "&Ignore", mrIgnore}, {mbAll, "&All", mrAll},       {mbHelp, "&Help", mrNone},
};

}  // namespace

MessageBox::MessageBox(const QString& caption, QStyle::StandardPixmap icon, bool hasIcon,
                       const QString& text, unsigned buttons, unsigned defaultButton,
                       unsigned cancelButton)
    : QDialog(nullptr) {
    setObjectName(QStringLiteral("MessageBox"));
    // A caption and a close box: nothing to minimise or maximise on a modal box of fixed size.
    useDialogFrame(this);
    setWindowTitle(caption);
    setModal(true);
    auto* column = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    column->addLayout(row);
    if (hasIcon) {
        auto* iconLabel = new QLabel(this);
        iconLabel->setObjectName(QStringLiteral("Icon"));
        iconLabel->setPixmap(style()->standardIcon(icon).pixmap(32, 32));
        iconLabel->setAlignment(Qt::AlignTop);
        row->addWidget(iconLabel);
    }
    auto* message = new QLabel(text, this);
    message->setObjectName(QStringLiteral("Message"));
    message->setTextFormat(Qt::PlainText);
    row->addWidget(message, 1);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    for (const ButtonInfo& b : kButtons) {
        if ((buttons & b.button) == 0) continue;
        auto* pb = new QPushButton(QString::fromLatin1(b.caption), this);
        pb->setObjectName(QString::fromLatin1(b.caption).remove(QLatin1Char('&')));
        pb->setAutoDefault(true);
        const int result = b.result;
        connect(pb, &QPushButton::clicked, this, [this, result] { done(result); });
        buttonRow->addWidget(pb);
        m_buttons.push_back(pb);
        if (b.button == defaultButton) {
            pb->setDefault(true);
            m_default = pb;
        }
        if (b.button == cancelButton) m_cancel = pb;
    }
    buttonRow->addStretch(1);
    column->addLayout(buttonRow);
    // Never narrower than its title bar needs to show the caption whole ("Pelmora" above "The
    // list is empty." would otherwise be cut to "...").
    column->addSpacerItem(new QSpacerItem(
        captionMinimumWidth(this) - contentsMargins().left() - contentsMargins().right() -
            column->contentsMargins().left() - column->contentsMargins().right(),
        0, QSizePolicy::Fixed, QSizePolicy::Fixed));
    // A box of fixed size: its minimum and maximum are both the size its contents need, so the
    // window manager offers neither resizing nor maximising. Settled here, before the window
    // exists, so that the window manager learns it with the window's first size hints.
    column->setSizeConstraint(QLayout::SetFixedSize);
    column->activate();
}

void MessageBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    if (m_default != nullptr)
        m_default->setFocus(Qt::OtherFocusReason);
    else if (!m_buttons.empty())
        m_buttons.front()->setFocus(Qt::OtherFocusReason);
}

void MessageBox::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        if (m_cancel != nullptr) m_cancel->click();
        event->accept();
        return;
    }
    // The letter after "&" answers the box, alone as well as with Alt; with two buttons of one
    // letter (&Abort, &All) the first in the fixed order wins.
    if (modifiers == Qt::NoModifier || modifiers == Qt::AltModifier) {
        for (QPushButton* b : m_buttons) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(b->text());
            if (!mnemonic.isEmpty() && mnemonic[0].key() == event->key()) {
                event->accept();
                b->click();
                return;
            }
        }
    }
    QDialog::keyPressEvent(event);
}

// Reached through the close box only (Escape is handled above): it answers Cancel, whatever
// buttons are shown.
void MessageBox::reject() {
    done(mrCancel);
}

QString qtNameFilters(std::string_view filter) {
    const QStringList parts = displayName(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // "*.*" means every file; on Linux many names have no full stop.
        for (QString& p : patterns)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

namespace {

// The detail view of Qt's file dialog opens with columns sized for texts shorter than the ones
// it shows ("816.5 KiB", "plain text document", a date with its time) and cuts them short. Each
// column is widened to what it shows (at once to typical texts, and to the real ones once the
// folder is read), never narrowed, and the dialog is widened, within the screen, until every
// column is in view.
void fitColumns(QFileDialog& dialog) {
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = dialog.findChild<QFileSystemModel*>(QStringLiteral("qt_filesystem_model"));
    if (view == nullptr || model == nullptr) return;
    QHeaderView* header = view->header();
    const int padding = 2 * view->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) +
                        view->fontMetrics().averageCharWidth();
    const QString typical[] = {
        QString(), QStringLiteral("1,023.9 KiB"), QStringLiteral("plain text document"),
        QLocale::system().toString(QDateTime(QDate(2026, 12, 29), QTime(23, 59, 59)),
                                   QLocale::ShortFormat)};
    for (int column = 1; column < 4 && column < header->count(); ++column)
        header->resizeSection(
            column, std::max(header->sectionSize(column),
                             view->fontMetrics().horizontalAdvance(typical[column]) + padding));

    auto widen = [&dialog, view, header] {
        const int missing = header->length() + 2 * view->frameWidth() +
                            view->verticalScrollBar()->sizeHint().width() - view->width();
        if (missing <= 0) return;
        int width = dialog.width() + missing;
        if (const QScreen* screen = dialog.screen())
            width = std::min(width, screen->availableGeometry().width());
        dialog.resize(width, dialog.height());
    };
    dialog.adjustSize();
    if (QLayout* layout = dialog.layout()) layout->activate();
    widen();
    QObject::connect(model, &QFileSystemModel::directoryLoaded, view, [view, header, widen] {
        for (int column = 1; column < 4 && column < header->count(); ++column) {
            const int before = header->sectionSize(column);
            view->resizeColumnToContents(column);
            if (header->sectionSize(column) < before) header->resizeSection(column, before);
        }
        widen();
    });
}

class QtDialogs final : public Dialogs {
  public:
    int messageDlg(std::string_view text, MsgDlgType type, unsigned buttons, int) override {
        unsigned def = (buttons & mbOK)      ? mbOK
                       : (buttons & mbYes)   ? mbYes
                       : (buttons & mbRetry) ? mbRetry
                                             : 0u;
        unsigned cancel = (buttons & mbCancel) ? mbCancel
                          : (buttons & mbNo)   ? mbNo
                          : (buttons & mbOK)   ? mbOK
                                               : 0u;
        return messageDlgEx(text, type, buttons, def, cancel);
    }

    int messageDlgEx(std::string_view text, MsgDlgType type, unsigned buttons,
                     unsigned defaultButton, unsigned cancelButton) override {
        QString caption;
        QStyle::StandardPixmap icon = QStyle::SP_MessageBoxInformation;
        switch (type) {
            case MsgDlgType::Warning:
                caption = QStringLiteral("Warning");
                icon = QStyle::SP_MessageBoxWarning;
                break;
            case MsgDlgType::Error:
                caption = QStringLiteral("Error");
                icon = QStyle::SP_MessageBoxCritical;
                break;
            case MsgDlgType::Information:
                caption = QStringLiteral("Information");
                icon = QStyle::SP_MessageBoxInformation;
                break;
            case MsgDlgType::Confirmation:
                caption = QStringLiteral("Confirm");
                icon = QStyle::SP_MessageBoxQuestion;
                break;
        }
        MessageBox box(caption, icon, true, displayName(text), buttons, defaultButton,
                       cancelButton);
        return box.exec();
    }

    void notice(std::string_view text) override {
        MessageBox box(QStringLiteral("Pelmora"), QStyle::SP_CustomBase, false, displayName(text),
                       mbOK, mbOK, mbOK);
        box.exec();
    }

    void errorBox(std::string_view message) override {
        MessageBox box(QStringLiteral("Pelmora"), QStyle::SP_MessageBoxCritical, true,
                       displayName(message) + QLatin1Char('.'), mbOK, mbOK, mbOK);
        box.exec();
    }

    std::optional<std::string> openFileName(const FileDialogOptions& o) override {
        return run(o, QFileDialog::AcceptOpen);
    }

    std::optional<std::string> saveFileName(const FileDialogOptions& o) override {
        return run(o, QFileDialog::AcceptSave);
    }

  private:
    static std::optional<std::string> run(const FileDialogOptions& o,
                                          QFileDialog::AcceptMode mode) {
        QFileDialog dialog(QApplication::activeWindow(), displayName(o.title));
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        // The filter box shows each description as given; the patterns Qt reads from the
        // parentheses it appends are not shown.
        dialog.setOption(QFileDialog::HideNameFilterDetails, true);
        dialog.setAcceptMode(mode);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !o.overwritePrompt);
        if (!o.defaultExt.empty()) dialog.setDefaultSuffix(displayName(o.defaultExt));
        const QStringList filters = qtNameFilters(o.filter).split(QStringLiteral(";;"));
        if (!o.filter.empty()) {
            dialog.setNameFilters(filters);
            const qsizetype index = o.filterIndex - 1;
            if (index >= 0 && index < filters.size()) dialog.selectNameFilter(filters[index]);
        }
        if (!o.initialDir.empty()) dialog.setDirectory(displayName(o.initialDir));
        if (!o.fileName.empty()) dialog.selectFile(displayName(o.fileName));
        fitColumns(dialog);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) return std::nullopt;
        return pathBytes(chosen.front());
    }
};

}  // namespace

Dialogs& qtDialogs() {
    static QtDialogs instance;
    return instance;
}

}  // namespace pelmora::platform
