// Writes the program's icon for the hicolor theme, from the same painting as the window icon:
//   OUTDIR/hicolor/NxN/apps/pelmora.png for each size given, and
//   OUTDIR/hicolor/scalable/apps/pelmora.svg.
// Runs at build time and needs no display.
//
// usage: pelmora-icons OUTDIR SIZE...
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <cstdio>
#include <cstdlib>

#include "ui/Artwork.h"

namespace {

bool writePng(const QString& outDir, int size) {
    const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(outDir).arg(size);
    if (!QDir().mkpath(dir)) return false;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        pelmora::ui::paintProgramIcon(p, size);
    }
    return image.save(dir + QStringLiteral("/pelmora.png"), "PNG");
}

bool writeSvg(const QString& outDir) {
    constexpr int kSize = 256;
    const QString dir = outDir + QStringLiteral("/hicolor/scalable/apps");
    if (!QDir().mkpath(dir)) return false;
    QSvgGenerator svg;
    svg.setFileName(dir + QStringLiteral("/pelmora.svg"));
    svg.setSize(QSize(kSize, kSize));
    svg.setViewBox(QRect(0, 0, kSize, kSize));
    svg.setTitle(QStringLiteral("Pelmora"));
    svg.setDescription(QStringLiteral("A stack of folders with a bar chart in front"));
    QPainter p;
    if (!p.begin(&svg)) return false;
    pelmora::ui::paintProgramIcon(p, kSize);
    if (!p.end()) return false;

    // The generator gives the size in millimetres and a font on every group, which the icon
    // has no use for: pixels, and no font.
    QFile file(svg.fileName());
    if (!file.open(QIODevice::ReadOnly)) return false;
    QString text = QString::fromUtf8(file.readAll());
    file.close();
    text.replace(QRegularExpression(QStringLiteral(R"(width="[0-9.]+mm" height="[0-9.]+mm")")),
                 QStringLiteral(R"(width="%1" height="%1")").arg(kSize));
    text.replace(QRegularExpression(QStringLiteral(R"(\s*font-family="[^"]*" font-size="[^"]*")"
                                                   R"( font-weight="[^"]*" font-style="[^"]*")")),
                 QString());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray bytes = text.toUtf8();
    return file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: pelmora-icons OUTDIR SIZE...\n", stderr);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || !writePng(outDir, size)) {
            std::fprintf(stderr, "pelmora-icons: cannot write the %s pixel icon\n", argv[i]);
            return 1;
        }
    }
    if (!writeSvg(outDir)) {
        std::fputs("pelmora-icons: cannot write the scalable icon\n", stderr);
        return 1;
    }
    return 0;
}
