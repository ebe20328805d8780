#include <QBitmap>
#include <QImage>
#include <QResource>

#include <array>

#include "ui/NavigatorPictures.h"

// Resources of a static library must be registered by hand; Q_INIT_RESOURCE only works at
// global scope.
static void initNavigatorResources() {
    Q_INIT_RESOURCE(navigator);
}

namespace pelmora::ui {

namespace {

const char* resourceName(NavPicture picture) {
    switch (picture) {
        case NavPicture::OpenFolder:
            return ":/navigator/OPENFOLDER";
        case NavPicture::CurrentFolder:
            return ":/navigator/CURRENTFOLDER";
        case NavPicture::ClosedFolder:
            return ":/navigator/CLOSEDFOLDER";
        case NavPicture::Floppy:
            return ":/navigator/FLOPPY";
        case NavPicture::Hard:
            return ":/navigator/HARD";
        case NavPicture::Network:
            return ":/navigator/NETWORK";
        case NavPicture::CdRom:
            return ":/navigator/CDROM";
        case NavPicture::Ram:
            return ":/navigator/RAM";
    }
    return "";
}

QPixmap loadPicture(NavPicture picture) {
    const QImage image(QString::fromLatin1(resourceName(picture)), "XPM");
    if (image.isNull()) return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    // The colour of the bottom-left pixel is the transparent one.
    const QColor key = image.pixelColor(0, image.height() - 1);
    pixmap.setMask(pixmap.createMaskFromColor(key, Qt::MaskInColor));
    return pixmap;
}

}  // namespace

const QPixmap& navigatorPicture(NavPicture picture) {
    static std::array<QPixmap, 8> cache;
    static bool loaded = false;
    if (!loaded) {
        initNavigatorResources();
        for (std::size_t i = 0; i < cache.size(); ++i)
            cache[i] = loadPicture(static_cast<NavPicture>(i));
        loaded = true;
    }
    return cache[static_cast<std::size_t>(picture)];
}

}  // namespace pelmora::ui
