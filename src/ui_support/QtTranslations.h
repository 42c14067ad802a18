#pragma once
// Qt's own texts (message-box buttons, the file dialog) in Simplified Chinese,
// whatever the system's locale: the program's own texts are Chinese throughout.

#include <QCoreApplication>

namespace orderlink {

// Loads Qt's zh_CN translations into `app` and makes zh_CN the default locale.
// False when the translations are not installed (Qt's texts then stay English).
[[nodiscard]] bool LoadChineseQtTranslations(QCoreApplication& app);

}  // namespace orderlink
