#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace Translations {

bool installQtTranslations() {
    auto* qt = new QTranslator(QCoreApplication::instance());
    // By name, not by the user's locale: the interface has one language.
    if (!qt->load(QStringLiteral("qtbase_zh_CN"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

} // namespace Translations
