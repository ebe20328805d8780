// The directory label's text: it fits the width unless it is the bare name, and it always
// ends with the path's last name.
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>

#include "ui/Navigator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char arg0[] = "fuzz_shortenpath";
    static char* argv[] = {arg0, nullptr};
    static QGuiApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
    if (size < 1) return 0;
    const int width = 40 + data[0] * 2;
    const QString path =
        QString::fromUtf8(reinterpret_cast<const char*>(data) + 1, static_cast<int>(size - 1));
    QFont font("Arial");
    font.setPixelSize(13);
    const QString text = pelmora::ui::ShortenPath(path, width, font);
    // A path ending in the delimiter is a root, shown whole; the label gets no other such path.
    if (path.endsWith('/')) return text == path ? 0 : (std::abort(), 0);
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    if (!text.endsWith(name)) std::abort();
    // Only the bare name may be left wider than the label.
    if (text != name && QFontMetrics(font).horizontalAdvance(text) > width) std::abort();
    return 0;
}
