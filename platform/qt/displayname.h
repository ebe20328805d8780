// A path's bytes as screen text, and back: the one conversion every window, the report and
// the chart use. Header only, on Qt Core alone, so that the Qt-free half of platform/ stays
// without Qt and the chart (Qt Gui, no widgets) can use it too.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>
#include <string_view>

namespace pelmora::platform {

// The text shown for `bytes` (a path, a name, or a message holding them): decoded as the
// system decodes file names, so that what is shown is what a Qt file dialog shows.
inline QString displayName(std::string_view bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// The bytes of a path the user chose as text: the reverse of displayName.
inline std::string pathBytes(const QString& text) {
    const QByteArray b = QFile::encodeName(text);
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

}  // namespace pelmora::platform
