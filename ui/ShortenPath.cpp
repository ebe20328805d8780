#include <QFontMetrics>

#include "ui/ShortenPath.h"

namespace pelmora::ui {

namespace {
const QString kMarker = QStringLiteral(".../");
}  // namespace

QString ShortenPath(const QString& path, int width, const QFont& font) {
    const qsizetype last = path.lastIndexOf(QLatin1Char('/'));
    // A path that ends in the delimiter is a root: it is shown whole.
    if (last < 0 || last == path.size() - 1) return path;

    QString dir = path.left(last + 1);
    const QString name = path.mid(last + 1);
    // Whether dir holds our ".../" marker. Tracked here rather than guessed from a leading '.',
    // so that a hidden directory (".a/") is dropped as one directory and never mistaken for
    // the marker.
    bool marked = false;
    const QFontMetrics metrics(font);
    QString text = path;

    while (!dir.isEmpty() && metrics.horizontalAdvance(text) > width) {
        if (marked && dir == QLatin1Char('/') + kMarker) {
            dir = kMarker;
        } else if (dir == QLatin1String("/")) {
            dir.clear();
        } else {
            const bool rooted = dir.startsWith(QLatin1Char('/'));
            if (rooted) dir.remove(0, 1);
            if (marked) dir.remove(0, kMarker.size());
            const qsizetype slash = dir.indexOf(QLatin1Char('/'));
            if (slash >= 0) {
                dir = kMarker + dir.mid(slash + 1);
                marked = true;
            } else {
                dir.clear();
                marked = false;
            }
            if (rooted && !dir.isEmpty()) dir.prepend(QLatin1Char('/'));
        }
        text = dir + name;
    }
    return text;
}

}  // namespace pelmora::ui
