#pragma once
// The application's pictures (drawn by scripts/make-pictures, built in as resources).

#include <QIcon>
#include <QPixmap>

namespace orderlink {

// `name` is the file name, e.g. "handset_on_32.png".
[[nodiscard]] QPixmap Picture(const char* name);
[[nodiscard]] QIcon PictureIcon(const char* name);

}  // namespace orderlink
