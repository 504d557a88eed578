#include "ui/translation.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTranslator>

#include <string_view>

namespace morvane {

namespace {

// Built from translations/morvane_en.ts into the program's resources.
constexpr char kEnglishTranslation[] = ":/translations/morvane_en.qm";

QString Text(const char* utf8) {
    return QCoreApplication::translate("morvane::Messages", utf8);
}

// The file messages of the settings file and the recorder, as patterns around the path
// they name.
struct FileMessage {
    const char* pattern;
    const char* text; // %1 is the path
};
const FileMessage kFileMessages[] = {
    {"^ファイル (.+) は開けません\\.$",
     QT_TRANSLATE_NOOP("morvane::Messages", "ファイル %1 は開けません.")},
    {"^ファイル (.+) を作成できません\\.$",
     QT_TRANSLATE_NOOP("morvane::Messages", "ファイル %1 を作成できません.")},
    {"^ファイル (.+) を作成できません。$",
     QT_TRANSLATE_NOOP("morvane::Messages", "ファイル %1 を作成できません。")},
    {"^ファイル (.+) に書き込めないため、録音を中止しました。$",
     QT_TRANSLATE_NOOP("morvane::Messages",
                       "ファイル %1 に書き込めないため、録音を中止しました。")},
};

} // namespace

UiLanguage LocaleLanguage(const EnvironmentLookup& environment) {
    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = environment(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    // "C.UTF-8" is the C locale with another character set: still no language.
    const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
    if (language.empty() || language == "C" || language == "POSIX" || language == "ja")
        return UiLanguage::Japanese;
    return UiLanguage::English;
}

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

QString ErrorCaption() {
    return Text(QT_TRANSLATE_NOOP("morvane::Messages", "エラー"));
}

QString TranslatedMessage(const std::string& message) {
    const QString text = QString::fromStdString(message);
    for (const FileMessage& known : kFileMessages) {
        const QRegularExpressionMatch match =
            QRegularExpression(QString::fromUtf8(known.pattern)).match(text);
        if (match.hasMatch())
            return Text(known.text).arg(match.captured(1));
    }
    return text;
}

} // namespace morvane
