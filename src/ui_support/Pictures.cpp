#include "ui_support/Pictures.h"

#include <QString>

// Resources of a static library are only linked in when referenced.
static void InitAppPictures() { Q_INIT_RESOURCE(app_pictures); }

namespace orderlink {

QPixmap Picture(const char* name) {
  static const bool initialised = (InitAppPictures(), true);
  (void)initialised;
  return QPixmap(QStringLiteral(":/pictures/") + QString::fromUtf8(name));
}

QIcon PictureIcon(const char* name) { return QIcon(Picture(name)); }

}  // namespace orderlink
