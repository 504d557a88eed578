#include "ui/translation.h"

#include <QCoreApplication>
#include <QTranslator>

namespace morvane {

namespace {

// Built from translations/morvane_en.ts into the program's resources.
constexpr char kEnglishTranslation[] = ":/translations/morvane_en.qm";

} // namespace

Status InstallTranslation(UiLanguage language) {
    if (language == UiLanguage::Japanese)
        return {};
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QString::fromLatin1(kEnglishTranslation))) {
        delete translator;
        return Error{"the English texts are missing from this build; the window stays Japanese"};
    }
    QCoreApplication::installTranslator(translator);
    return {};
}

} // namespace morvane
