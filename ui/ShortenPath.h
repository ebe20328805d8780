// The shortening of the directory list's label.
#pragma once

#include <QFont>
#include <QString>

namespace pelmora::ui {

// The label text for `path`: drops leading directories, replacing them by ".../", until the
// text measured in `font` fits `width` pixels or only the bare name is left.
QString ShortenPath(const QString& path, int width, const QFont& font);

}  // namespace pelmora::ui
