// Helpers for the navigator tests: temporary trees, a recording error box, scripted volumes,
// and real mouse and key events sent to the widgets.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gui/dialogs.h"
#include "platform/volumes.h"
#include "ui/Navigator.h"
#include "ui/Services.h"

namespace navtest {

namespace fs = std::filesystem;

// Records error boxes; any other box is a failure of the test.
class RecordingDialogs final : public pelmora::platform::Dialogs {
  public:
    std::vector<std::string> errors;

    int messageDlg(std::string_view text, pelmora::platform::MsgDlgType, unsigned, int) override {
        ADD_FAILURE() << "unexpected message dialog: " << text;
        return pelmora::platform::mrCancel;
    }
    int messageDlgEx(std::string_view text, pelmora::platform::MsgDlgType, unsigned, unsigned,
                     unsigned) override {
        ADD_FAILURE() << "unexpected message dialog: " << text;
        return pelmora::platform::mrCancel;
    }
    void notice(std::string_view text) override { ADD_FAILURE() << "unexpected notice: " << text; }
    void errorBox(std::string_view message) override { errors.emplace_back(message); }
    std::optional<std::string> openFileName(const pelmora::platform::FileDialogOptions&) override {
        ADD_FAILURE() << "unexpected open dialog";
        return std::nullopt;
    }
    std::optional<std::string> saveFileName(const pelmora::platform::FileDialogOptions&) override {
        ADD_FAILURE() << "unexpected save dialog";
        return std::nullopt;
    }
};

// Volumes as a test lists them; flags are the same for every path.
class FakeVolumes final : public pelmora::platform::Volumes {
  public:
    std::vector<pelmora::platform::MountedVolume> list;
    std::uint32_t flags =
        pelmora::platform::kFsCaseSensitive | pelmora::platform::kFsCasePreserving;

    std::optional<std::uint32_t> clusterSize(const std::string&) override { return 4096; }
    std::optional<std::uint32_t> fileSystemFlags(const std::string&) override { return flags; }
    std::vector<pelmora::platform::MountedVolume> mountedVolumes() override { return list; }
    std::string mountPointOf(const std::string& path) override {
        std::string best = "/";
        for (const auto& v : list)
            if (path.rfind(v.mountPoint, 0) == 0 && v.mountPoint.size() > best.size())
                best = v.mountPoint;
        return best;
    }
    void add(const std::string& mountPoint, pelmora::platform::DriveKind kind,
             const std::string& label = {}, const std::string& source = {}) {
        pelmora::platform::MountedVolume v;
        v.mountPoint = mountPoint;
        v.kind = kind;
        v.label = label;
        v.source = source;
        v.fsType = "ext4";
        list.push_back(v);
    }
};

// A fresh temporary directory (its real path) and the process's current directory, both
// restored or removed afterwards; the error box and the volumes are the test's own.
class NavTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_saved = fs::current_path();
        char pattern[] = "/tmp/pelmora-nav-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = fs::canonical(pattern).string();
    }
    void TearDown() override {
        fs::current_path(m_saved);
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }

    std::string mkdirs(const std::string& relative) {
        const std::string p = root + "/" + relative;
        fs::create_directories(p);
        return p;
    }
    static void enter(const std::string& dir) { fs::current_path(dir); }

    std::string root;
    RecordingDialogs dialogs;
    // The system's volumes unless a test hands in its own.
    pelmora::ui::Services services{.dialogs = &dialogs,
                                   .volumes = &pelmora::platform::systemVolumes()};

  private:
    fs::path m_saved;
};

// Counts the emissions of one signal.
class SignalCounter {
  public:
    template <typename Sender, typename Signal>
    SignalCounter(Sender* sender, Signal signal) {
        QObject::connect(sender, signal, &m_context, [this] { ++m_count; });
    }
    int count() const { return m_count; }

  private:
    QObject m_context;
    int m_count = 0;
};

inline void sendMouse(QWidget* target, QEvent::Type type, const QPoint& at) {
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

inline QPoint rowCentre(QListWidget& list, int row) {
    return list.visualItemRect(list.item(row)).center();
}

// A double-click as the window system delivers it: press, release, double-click, release.
inline void doubleClickRow(QListWidget& list, int row) {
    const QPoint at = rowCentre(list, row);
    sendMouse(list.viewport(), QEvent::MouseButtonPress, at);
    sendMouse(list.viewport(), QEvent::MouseButtonRelease, at);
    sendMouse(list.viewport(), QEvent::MouseButtonDblClick, at);
    sendMouse(list.viewport(), QEvent::MouseButtonRelease, at);
}

inline void clickRow(QListWidget& list, int row) {
    const QPoint at = rowCentre(list, row);
    sendMouse(list.viewport(), QEvent::MouseButtonPress, at);
    sendMouse(list.viewport(), QEvent::MouseButtonRelease, at);
}

inline void pressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

inline std::vector<std::string> texts(const QListWidget& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.count(); ++i) out.push_back(list.item(i)->text().toStdString());
    return out;
}

inline int indentOf(const QListWidget& list, int row) {
    return list.item(row)->data(pelmora::ui::TDirectoryListBox::IndentRole).toInt();
}

inline pelmora::ui::NavPicture pictureOf(const QListWidget& list, int row) {
    return static_cast<pelmora::ui::NavPicture>(
        list.item(row)->data(pelmora::ui::TDirectoryListBox::PictureRole).toInt());
}

// The font of the directory label: Arial 13 pixels (Liberation Sans here).
inline QFont labelFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(13);
    return font;
}

}  // namespace navtest
